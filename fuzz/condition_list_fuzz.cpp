// The condition lists of AITGA and AIFGA: whatever the text, parsing ends with the tree or with
// one of the documented errors, and every provider in the tree is complete and in list order.
//
// Input: one byte of flags (reply kind, locale separators), then the list.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <vexcomm/deposits.h>
#include <vexcomm/error.h>

#include "deposits/deposit_requests.h"
#include "fuzz_check.h"

namespace {

using namespace vexcomm;

// Cut at every separator; empty text gives no item at all.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> items;
  if (text.empty()) return items;
  for (;;) {
    const auto at = text.find(separator);
    items.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return items;
    text.remove_prefix(at + 1);
  }
}

std::string_view Field(const std::vector<std::string_view>& fields, std::size_t i) {
  return i < fields.size() ? fields[i] : std::string_view();
}

void CheckProvider(const clsTGAnbieter& provider, std::string_view entry, bool festgeld) {
  const auto parts = Split(entry, '*');
  FUZZ_CHECK(!parts.empty());
  const auto head = Split(parts[0], '|');
  FUZZ_CHECK(provider.Name() == Field(head, 0));
  FUZZ_CHECK(provider.BLZ() == Field(head, 1));
  const auto& products = *provider.Produkte();
  FUZZ_CHECK(products.Count() == static_cast<int32_t>(parts.size()) - 1);
  for (int32_t p = 1; p <= products.Count(); ++p) {
    const auto& product = *products.Item(p);
    const auto rates = Split(parts[static_cast<std::size_t>(p)], '~');
    FUZZ_CHECK(!rates.empty());
    const auto product_head = Split(rates[0], '|');
    FUZZ_CHECK(product_head.size() >= (festgeld ? 7u : 8u));
    FUZZ_CHECK(product.Name() == product_head[0]);
    FUZZ_CHECK(product.URLNeu() == product_head[6]);
    FUZZ_CHECK(product.ZinsGueltigkeit() == (festgeld ? std::string_view() : product_head[7]));
    const auto expected = static_cast<int32_t>(rates.size()) - 1;
    if (festgeld) {
      FUZZ_CHECK(product.ZinsenFestgeld()->Count() == expected);
      FUZZ_CHECK(product.Zinsen()->Count() == 0);
      for (int32_t r = 1; r <= expected; ++r) {
        const auto fields = Split(rates[static_cast<std::size_t>(r)], '|');
        FUZZ_CHECK(product.ZinsenFestgeld()->Item(r)->Zins_18() == Field(fields, 6));
      }
    } else {
      FUZZ_CHECK(product.Zinsen()->Count() == expected);
      FUZZ_CHECK(product.ZinsenFestgeld()->Count() == 0);
      for (int32_t r = 1; r <= expected; ++r) {
        const auto fields = Split(rates[static_cast<std::size_t>(r)], '|');
        FUZZ_CHECK(product.Zinsen()->Item(r)->AbBetrag() == Field(fields, 0));
        FUZZ_CHECK(product.Zinsen()->Item(r)->ZinsDanach() == Field(fields, 3));
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool festgeld = (data[0] & 1) != 0;
  const platform::NumericSeparators separators = (data[0] & 2) != 0
                                                     ? platform::NumericSeparators{",", "."}
                                                     : platform::NumericSeparators{".", ","};
  const std::string_view list = vexcomm::fuzz::AsText(data + 1, size - 1);

  auto anbieter = colTGAnbieter::Create();
  bool failed = false;
  try {
    deposits::ParseConditionList(
        std::string(list),
        festgeld ? deposits::ConditionKind::Festgeld : deposits::ConditionKind::Tagesgeld,
        *anbieter, separators);
  } catch (const Error& e) {
    FUZZ_CHECK(e.number() == errnum::kOverflow || e.number() == errnum::kSubscriptOutOfRange ||
               e.number() == errnum::kTypeMismatch);
    failed = true;
  }
  // Any other exception escapes and is a finding.

  std::vector<std::string_view> entries;
  for (auto entry : Split(list, '#')) {
    if (!entry.empty()) entries.push_back(entry);
  }
  const auto count = static_cast<std::size_t>(anbieter->Count());
  FUZZ_CHECK(failed ? count < entries.size() : count == entries.size());
  for (std::size_t i = 0; i < count; ++i) {
    CheckProvider(*anbieter->Item(static_cast<int32_t>(i + 1)), entries[i], festgeld);
  }
  return 0;
}
