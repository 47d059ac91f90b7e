#pragma once

#include <cstddef>

#include <vexcomm/deposits.h>

namespace vexcomm::detail {

// The members of the deposit lists that only the component calls; hosts cannot reach them.
struct DepositInternals {
  template <class ItemT>
  static void Clear(DepositList<ItemT>& list) noexcept {
    list.Clear();
  }
  template <class ItemT>
  static void Reserve(DepositList<ItemT>& list, std::size_t count) {
    list.Reserve(count);
  }
  template <class ItemT>
  static void ShrinkToFit(DepositList<ItemT>& list) {
    list.ShrinkToFit();
  }
};

}  // namespace vexcomm::detail
