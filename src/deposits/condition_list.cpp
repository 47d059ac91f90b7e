#include "deposits/condition_list.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <utility>
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

// Nodes of one kind side by side, made one after the other up to the number the list can hold.
template <class Node>
class Slab {
 public:
  explicit Slab(std::size_t capacity)
      : items_(static_cast<Node*>(::operator new(capacity * sizeof(Node), kAlign))),
        capacity_(capacity) {}
  ~Slab() {
    while (count_ > 0) items_[--count_].~Node();
    ::operator delete(items_, kAlign);
  }
  Slab(const Slab&) = delete;
  Slab& operator=(const Slab&) = delete;

  template <class... Args>
  Node& Make(Args&&... args) {
    if (count_ == capacity_) Raise(errnum::kSubscriptOutOfRange);  // cannot be: counted before
    Node* node = new (items_ + count_) Node(std::forward<Args>(args)...);
    ++count_;
    return *node;
  }
  Node* next() const noexcept { return items_ + count_; }

 private:
  static constexpr std::align_val_t kAlign{alignof(Node)};
  Node* items_;
  std::size_t count_ = 0;
  std::size_t capacity_;
};

// What one condition list builds: its text, which the nodes' texts point into, and its nodes.
// Every node handed out shares it.
class ConditionArena : public detail::DepositArena {
 public:
  ConditionArena(std::string list, ConditionKind kind)
      : text(std::move(list)),
        providers(Occurrences(text, '#') + 1),
        products(Occurrences(text, '*')),
        tiers(kind == ConditionKind::Tagesgeld ? Occurrences(text, '~') : 0),
        rows(kind == ConditionKind::Festgeld ? Occurrences(text, '~') : 0) {}

  const std::string text;
  Slab<clsTGAnbieter> providers;
  Slab<clsTGProdukt> products;
  Slab<clsTGZins> tiers;
  Slab<clsFGZins> rows;
};

// The start of `text` that holds its first `count` fields.
std::string_view FirstFields(std::string_view text, std::size_t count) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < count; ++i) {
    end = text.find('|', end);
    if (end == std::string_view::npos) return text;
    if (i + 1 < count) ++end;
  }
  return text.substr(0, end);
}

class ConditionParser {
 public:
  ConditionParser(ConditionKind kind, const platform::NumericSeparators& separators,
                  ConditionArena& arena)
      : kind_(kind), separators_(separators), arena_(arena) {}

  void Parse(colTGAnbieter& anbieter, const std::shared_ptr<ConditionArena>& owner) {
    const std::string_view list = arena_.text;
    Parts entries(list, '#');
    std::string_view entry;
    detail::DepositInternals::Reserve(anbieter, Occurrences(list, '#') + 1);
    while (entries.Next(entry)) {
      if (entry.empty()) continue;
      // Added only when complete: a failure below drops the provider with its products.
      anbieter.Add(std::shared_ptr<clsTGAnbieter>(owner, &ParseProvider(entry)));
    }
    detail::DepositInternals::ShrinkToFit(anbieter);  // empty entries were counted
  }

 private:
  using Internals = detail::DepositInternals;

  clsTGAnbieter& ParseProvider(std::string_view entry) {
    auto& provider = arena_.providers.Make(Internals::Key(), &arena_);
    Parts parts(entry, '*');
    std::string_view head;
    parts.Next(head);  // the entry is not empty, so there is a head (possibly empty)
    SplitFields(head);
    Need(1);
    Internals::View(provider, head);

    // The products lie side by side, as the provider's list.
    clsTGProdukt* first = arena_.products.next();
    std::size_t count = 0;
    std::string_view product_entry;
    while (parts.Next(product_entry)) {
      ParseProduct(product_entry);
      ++count;
    }
    Internals::SetBuilt(Internals::ChildList(provider), first, count);
    return provider;
  }

  void ParseProduct(std::string_view entry) {
    auto& product = arena_.products.Make(Internals::Key(), &arena_);
    Parts parts(entry, '~');
    std::string_view head;
    if (!parts.Next(head)) Raise(errnum::kSubscriptOutOfRange);
    SplitFields(head);
    // Only overnight-money heads carry an eighth field; a fixed-term head may end here, and a
    // longer one shows no ZinsGueltigkeit.
    const bool tagesgeld = kind_ == ConditionKind::Tagesgeld;
    Need(tagesgeld ? 8 : 7);
    Internals::View(product, tagesgeld ? head : FirstFields(head, 7));
    // Locale-independent and unrounded: "1.5" is not a new-customer offer.
    product.SetNeukunde(transport::ReadReplyNumber(fields_[4]) == 1.0);

    std::string_view rate;
    if (tagesgeld) {
      clsTGZins* first = arena_.tiers.next();
      std::size_t count = 0;
      for (; parts.Next(rate); ++count) {
        SplitFields(rate);
        Need(5);
        auto& zins = arena_.tiers.Make();
        Internals::View(zins, rate);
        zins.SetGueltigZinsAnfang(platform::ParseLocaleInt32(fields_[2], separators_));
        zins.SetGueltigZinsDanach(platform::ParseLocaleInt32(fields_[4], separators_));
      }
      Internals::SetBuilt(Internals::ChildList(product), first, count);
    } else {
      clsFGZins* first = arena_.rows.next();
      std::size_t count = 0;
      for (; parts.Next(rate); ++count) {
        SplitFields(rate);
        Need(7);
        Internals::View(arena_.rows.Make(), rate);
      }
      Internals::SetBuilt(Internals::FestgeldList(product), first, count);
    }
  }

  // One buffer for every field list: no allocation per entry once it has grown.
  void SplitFields(std::string_view text) {
    fields_.clear();
    Parts parts(text, '|');
    std::string_view field;
    while (parts.Next(field)) fields_.push_back(field);
  }

  void Need(std::size_t fields) const {
    if (fields_.size() < fields) Raise(errnum::kSubscriptOutOfRange);
  }

  ConditionKind kind_;
  const platform::NumericSeparators& separators_;
  ConditionArena& arena_;
  std::vector<std::string_view> fields_;
};

}  // namespace

void ParseConditionList(std::string list, ConditionKind kind, colTGAnbieter& anbieter,
                        const platform::NumericSeparators& separators) {
  auto arena = std::make_shared<ConditionArena>(std::move(list), kind);
  arena->self = arena;
  ConditionParser(kind, separators, *arena).Parse(anbieter, arena);
}

void ParseConditionList(std::string list, ConditionKind kind, colTGAnbieter& anbieter) {
  ParseConditionList(std::move(list), kind, anbieter, platform::LocaleSeparators());
}

}  // namespace vexcomm::deposits
