#include "deposits/condition_list.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <vexcomm/error.h>

#include "deposits/deposit_internals.h"
#include "transport/reply_number.h"

namespace vexcomm::deposits {

namespace {

// Cuts text at every occurrence of one separator. Adjacent separators give an empty part,
// a separator at either end an empty part there, and empty text no part at all.
class Parts {
 public:
  Parts(std::string_view text, char separator) noexcept
      : rest_(text), separator_(separator), done_(text.empty()) {}

  bool Next(std::string_view& part) noexcept {
    if (done_) return false;
    std::size_t pos = rest_.find(separator_);
    if (pos == std::string_view::npos) {
      part = rest_;
      done_ = true;
    } else {
      part = rest_.substr(0, pos);
      rest_.remove_prefix(pos + 1);
    }
    return true;
  }

 private:
  std::string_view rest_;
  char separator_;
  bool done_;
};

std::size_t Occurrences(std::string_view text, char c) noexcept {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

class ConditionParser {
 public:
  ConditionParser(ConditionKind kind, const platform::NumericSeparators& separators)
      : kind_(kind), separators_(separators) {}

  void Parse(std::string_view list, colTGAnbieter& anbieter) {
    Parts entries(list, '#');
    std::string_view entry;
    detail::DepositInternals::Reserve(anbieter, Occurrences(list, '#') + 1);
    while (entries.Next(entry)) {
      if (entry.empty()) continue;
      // Added only when complete: a failure below drops the provider with its products.
      anbieter.Add(ParseProvider(entry));
    }
    detail::DepositInternals::ShrinkToFit(anbieter);  // empty entries were counted
  }

 private:
  std::shared_ptr<clsTGAnbieter> ParseProvider(std::string_view entry) {
    auto provider = clsTGAnbieter::Create();
    Parts parts(entry, '*');
    std::string_view head;
    parts.Next(head);  // the entry is not empty, so there is a head (possibly empty)
    SplitFields(head);
    provider->Name = Field(0);
    if (fields_.size() > 1) provider->BLZ = fields_[1];

    // Lists are made, and made to measure, only for the items the entry brings.
    if (const std::size_t products = Occurrences(entry, '*')) {
      auto& produkte = *provider->Produkte();
      detail::DepositInternals::Reserve(produkte, products);
      std::string_view product_entry;
      while (parts.Next(product_entry)) produkte.Add(ParseProduct(product_entry));
    }
    return provider;
  }

  std::shared_ptr<clsTGProdukt> ParseProduct(std::string_view entry) {
    auto product = clsTGProdukt::Create();
    Parts parts(entry, '~');
    std::string_view head;
    if (!parts.Next(head)) Raise(errnum::kSubscriptOutOfRange);
    SplitFields(head);
    product->Name = Field(0);
    product->MindestAnlage = Field(1);
    product->MaximalAnlage = Field(2);
    product->Gutschrift = Field(3);
    // Locale-independent and unrounded: "1.5" is not a new-customer offer.
    product->Neukunde = transport::ReadReplyNumber(Field(4)) == 1.0;
    product->URLInfo = Field(5);
    product->URLNeu = Field(6);
    // Only overnight-money heads carry an eighth field; a fixed-term head may end here.
    if (kind_ == ConditionKind::Tagesgeld) product->ZinsGueltigkeit = Field(7);

    const std::size_t rates = Occurrences(entry, '~');
    if (rates == 0) return product;
    std::string_view rate;
    if (kind_ == ConditionKind::Tagesgeld) {
      auto& zinsen = *product->Zinsen();
      detail::DepositInternals::Reserve(zinsen, rates);
      while (parts.Next(rate)) {
        SplitFields(rate);
        zinsen.Add(TagesgeldRate());
      }
    } else {
      auto& zinsen = *product->ZinsenFestgeld();
      detail::DepositInternals::Reserve(zinsen, rates);
      while (parts.Next(rate)) {
        SplitFields(rate);
        zinsen.Add(FestgeldRate());
      }
    }
    return product;
  }

  std::shared_ptr<clsTGZins> TagesgeldRate() {
    auto zins = clsTGZins::Create();
    zins->AbBetrag = Field(0);
    zins->ZinsAnfang = Field(1);
    zins->GueltigZinsAnfang = platform::ParseLocaleInt32(Field(2), separators_);
    zins->ZinsDanach = Field(3);
    zins->GueltigZinsDanach = platform::ParseLocaleInt32(Field(4), separators_);
    return zins;
  }

  std::shared_ptr<clsFGZins> FestgeldRate() {
    auto zins = clsFGZins::Create();
    zins->AbBetrag = Field(0);
    zins->Zins_01 = Field(1);
    zins->Zins_03 = Field(2);
    zins->Zins_06 = Field(3);
    zins->Zins_09 = Field(4);
    zins->Zins_12 = Field(5);
    zins->Zins_18 = Field(6);
    return zins;
  }

  // One buffer for every field list: no allocation per entry once it has grown.
  void SplitFields(std::string_view text) {
    fields_.clear();
    Parts parts(text, '|');
    std::string_view field;
    while (parts.Next(field)) fields_.push_back(field);
  }

  std::string Field(std::size_t index) const {
    if (index >= fields_.size()) Raise(errnum::kSubscriptOutOfRange);
    return std::string(fields_[index]);
  }

  ConditionKind kind_;
  const platform::NumericSeparators& separators_;
  std::vector<std::string_view> fields_;
};

}  // namespace

void ParseConditionList(std::string_view list, ConditionKind kind, colTGAnbieter& anbieter,
                        const platform::NumericSeparators& separators) {
  ConditionParser(kind, separators).Parse(list, anbieter);
}

void ParseConditionList(std::string_view list, ConditionKind kind, colTGAnbieter& anbieter) {
  ParseConditionList(list, kind, anbieter, platform::LocaleSeparators());
}

}  // namespace vexcomm::deposits
