#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include <vexcomm/deposits.h>

namespace vexcomm::detail {

// A block of memory that nodes live in. Everything handed out of it shares it; `self` is how
// its nodes and lists find what keeps them alive.
class DepositArena {
 public:
  std::weak_ptr<void> self;
};

// The members of the deposit classes that only the component calls; hosts cannot reach them.
struct DepositInternals {
  template <class ItemT>
  static void Clear(DepositList<ItemT>& list) noexcept {
    list.Clear();
  }
  // Room for the items a reply is known to bring after the ones there, and no more once it is
  // built.
  template <class ItemT>
  static void Reserve(DepositList<ItemT>& list, std::size_t count) {
    if (!list.added_) list.added_ = std::make_unique<std::vector<std::shared_ptr<ItemT>>>();
    list.added_->reserve(list.added_->size() + count);
  }
  template <class ItemT>
  static void ShrinkToFit(DepositList<ItemT>& list) {
    if (list.added_) list.added_->shrink_to_fit();
  }
  // The list of a node of `arena`: its items are `count` nodes from `first` on, in the same
  // arena. Only for a list without items.
  template <class ItemT>
  static void SetBuilt(DepositList<ItemT>& list, ItemT* first, std::size_t count) {
    list.built_ = first;
    list.built_count_ = static_cast<uint32_t>(count);
  }
  template <class ItemT>
  static void SetArena(DepositList<ItemT>& list, DepositArena* arena) {
    list.arena_ = arena;
  }
  template <class ItemT>
  static DepositArena* Arena(const DepositList<ItemT>& list) {
    return list.arena_;
  }

  static NodeKey Key() { return NodeKey(); }
  // The node's texts are the "|"-separated fields of `fields`, a part of the text its arena
  // holds.
  template <class Node>
  static void View(Node& node, std::string_view fields) noexcept {
    node.texts_.view_ = fields.data();
    node.texts_.size_ = static_cast<uint32_t>(fields.size());
  }
  template <class Node>
  static auto& ChildList(Node& node) {
    if constexpr (requires { node.produkte_; }) {
      return node.produkte_;
    } else {
      return node.zinsen_;
    }
  }
  static colFGZinsen& FestgeldList(clsTGProdukt& product) { return product.zinsen_festgeld_; }

  // A node made by Create: in an arena of its own.
  template <class Node>
  static std::shared_ptr<Node> MakeAlone() {
    struct Alone : DepositArena {
      explicit Alone(NodeKey key) : node(key, this) {}
      Node node;
    };
    auto alone = std::make_shared<Alone>(Key());
    alone->self = alone;
    return std::shared_ptr<Node>(alone, &alone->node);
  }
};

}  // namespace vexcomm::detail
