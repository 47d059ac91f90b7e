#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <vexcomm/dispatch.h>
#include <vexcomm/error.h>
#include <vexcomm/export.h>

/// @file
/// The deposit offer trees: a root (clsTagesgeld) holds providers, a provider holds products, a
/// product holds overnight-money rate tiers and fixed-term rate rows. The component keeps two
/// roots, Tagesgeld and Festgeld, and rebuilds them from the server's replies (vexCommTGA,
/// vexCommFGA). Every class is creatable as "VexComm5." + its name.
///
/// Ownership: every node and list is held by std::shared_ptr; a list holds one reference per
/// item, and a node the host keeps stays alive with its own properties after leaving its tree.
/// A node's child lists are part of it: the same objects for its whole life.
/// A tree built from a reply keeps the reply's text and all its nodes in one block of memory;
/// the nodes' texts are read from that text as they are asked for, until the host sets one. A
/// node of such a tree that the host keeps keeps that block.
/// Values are stored as the server sent them; nothing is parsed or checked here.
/// Threads: none of their own; the objects are used on the host's thread only.
/// Errors: Item outside 1..Count throws vexcomm::Error 9 ("Subscript out of range"); late-bound
/// Add throws error 13 for an object of the wrong class and 91 for no object.

namespace vexcomm {

class clsTGZins;
class clsFGZins;
class clsTGProdukt;
class clsTGAnbieter;

namespace detail {
struct DepositInternals;  // the members only the component calls
class DepositArena;       // the block of memory that nodes live in

// What keeps the nodes of an arena alive; empty for none.
VEXCOMM_EXPORT std::shared_ptr<void> ArenaOwner(const DepositArena* arena) noexcept;

// Only the component makes nodes with child lists other than by Create.
class NodeKey {
  NodeKey() = default;
  friend struct DepositInternals;
};

// The text properties of one node, compactly: the fields of the node's entry in the reply
// ("|" between them), read from the reply's text, until the host sets one; from then on the
// node's own copy of every field.
class VEXCOMM_EXPORT FieldTexts {
 public:
  FieldTexts() noexcept {}
  ~FieldTexts();
  FieldTexts(const FieldTexts&) = delete;
  FieldTexts& operator=(const FieldTexts&) = delete;

  // Field `index`; empty text when there is none.
  std::string Get(std::size_t index) const;
  // Sets field `index` of `count` fields.
  void Set(std::size_t index, std::size_t count, std::string value);

 private:
  friend struct DepositInternals;
  union {
    const char* view_ = nullptr;  // the entry in the reply's text
    std::string* own_;            // `size_` fields of the node's own
  };
  uint32_t size_ = 0;
  bool owned_ = false;
};
}  // namespace detail

/// What the four lists share: Count, Add and Item over the items, numbered from 1 in order of
/// adding, and Clear. The items a reply brought lie side by side in the tree's memory; the ones
/// added later follow them.
/// @tparam ItemT The item class.
/// @ownership Holds one reference per item (an item of a reply's tree shares that tree's memory).
template <class ItemT>
class DepositList {
 public:
  /// An empty list.
  DepositList() = default;
  DepositList(const DepositList&) = delete;
  DepositList& operator=(const DepositList&) = delete;

  /// @return The number of items.
  int32_t Count() const noexcept {
    return static_cast<int32_t>(built_count_ + (added_ ? added_->size() : 0));
  }
  /// Appends an item.
  /// @param item The item; the list holds a reference.
  /// @throws vexcomm::Error 91 for an empty pointer.
  void Add(std::shared_ptr<ItemT> item) {
    // Every item is an object: Clear relies on it.
    if (!item) Raise(errnum::kObjectNotSet);
    if (!added_) added_ = std::make_unique<std::vector<std::shared_ptr<ItemT>>>();
    // A node of the memory that holds this list is listed without a reference to that memory,
    // which would then keep itself alive.
    if (const auto owner = detail::ArenaOwner(arena_);
        owner && !item.owner_before(owner) && !owner.owner_before(item)) {
      item = std::shared_ptr<ItemT>(std::shared_ptr<ItemT>(), item.get());
    }
    added_->push_back(std::move(item));
  }
  /// The item at a position: the same object each time.
  /// @param Index One-based.
  /// @return The item.
  /// @throws vexcomm::Error 9 ("Subscript out of range") outside 1..Count.
  std::shared_ptr<ItemT> Item(int32_t Index) const {
    if (Index < 1 || Index > Count()) Raise(errnum::kSubscriptOutOfRange);
    const auto i = static_cast<std::size_t>(Index) - 1;
    if (i < built_count_) return std::shared_ptr<ItemT>(detail::ArenaOwner(arena_), built_ + i);
    const std::shared_ptr<ItemT>& item = (*added_)[i - built_count_];
    if (item.use_count() == 0)
      return std::shared_ptr<ItemT>(detail::ArenaOwner(arena_), item.get());
    return item;
  }

 protected:
  friend struct detail::DepositInternals;
  /// Removes the items from the last to the first, each emptied before it is let go (where it
  /// has lists of its own): no node leaves the tree filled. On the late-bound surface of the
  /// provider list only.
  void Clear() noexcept {
    while (added_ && !added_->empty()) {
      if constexpr (requires(ItemT & item) { item.Clear(); }) added_->back()->Clear();
      added_->pop_back();
    }
    for (; built_count_ > 0; --built_count_) {
      if constexpr (requires(ItemT & item) { item.Clear(); }) built_[built_count_ - 1].Clear();
    }
  }

 private:
  ItemT* built_ = nullptr;  // built_count_ items side by side, in the memory of arena_
  detail::DepositArena* arena_ = nullptr;  // the memory this list lies in, if any
  std::unique_ptr<std::vector<std::shared_ptr<ItemT>>> added_;
  uint32_t built_count_ = 0;
};

/// One rate tier of an overnight-money product: an opening rate for some months, then another.
class VEXCOMM_EXPORT clsTGZins : public automation::DispatchObject<clsTGZins> {
 public:
  static constexpr std::string_view kTypeName = "clsTGZins";  ///< The late-bound class name.
  /// The interface identifier of _clsTGZins.
  static constexpr std::string_view kIid = "{5B6DB313-1AF9-478A-970A-C1BF0050354F}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{C6D08B69-3C47-4949-BA25-EF16469C2ACA}";
  /// @return The late-bound members, read-write: AbBetrag, ZinsAnfang, GueltigZinsAnfang,
  ///   ZinsDanach, GueltigZinsDanach.
  static const std::vector<automation::Member<clsTGZins>>& Members();
  /// @return The interfaces the object answers to: kIid.
  static std::span<const std::string_view> InterfaceIds();
  /// @return A new, empty tier.
  static std::shared_ptr<clsTGZins> Create();

  /// @return The amount from which the tier applies.
  std::string AbBetrag() const { return texts_.Get(0); }
  /// @param value The amount from which the tier applies.
  void SetAbBetrag(std::string value) { texts_.Set(0, kFields, std::move(value)); }
  /// @return The opening rate.
  std::string ZinsAnfang() const { return texts_.Get(1); }
  /// @param value The opening rate.
  void SetZinsAnfang(std::string value) { texts_.Set(1, kFields, std::move(value)); }
  /// @return For how many months the opening rate holds.
  int32_t GueltigZinsAnfang() const noexcept { return gueltig_zins_anfang_; }
  /// @param value For how many months the opening rate holds.
  void SetGueltigZinsAnfang(int32_t value) noexcept { gueltig_zins_anfang_ = value; }
  /// @return The rate after it.
  std::string ZinsDanach() const { return texts_.Get(3); }
  /// @param value The rate after it.
  void SetZinsDanach(std::string value) { texts_.Set(3, kFields, std::move(value)); }
  /// @return For how many months that rate holds.
  int32_t GueltigZinsDanach() const noexcept { return gueltig_zins_danach_; }
  /// @param value For how many months that rate holds.
  void SetGueltigZinsDanach(int32_t value) noexcept { gueltig_zins_danach_ = value; }

 private:
  friend struct detail::DepositInternals;
  static constexpr std::size_t kFields = 5;  // as in the entry; 2 and 4 are the numbers below
  detail::FieldTexts texts_;
  int32_t gueltig_zins_anfang_ = 0;
  int32_t gueltig_zins_danach_ = 0;
};

/// One rate row of a fixed-term product: the rate per term in months.
class VEXCOMM_EXPORT clsFGZins : public automation::DispatchObject<clsFGZins> {
 public:
  static constexpr std::string_view kTypeName = "clsFGZins";  ///< The late-bound class name.
  /// The interface identifier of _clsFGZins.
  static constexpr std::string_view kIid = "{53B35E17-7551-4B2A-A846-B714E69130D3}";
  /// The interface of an earlier version, still answered.
  static constexpr std::string_view kIidEarlier = "{4D023A67-488B-4444-B238-9796C4E3ADC0}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{305D4F74-8CF9-4CAB-9963-F346FFE1DE09}";
  /// @return The late-bound members, read-write: AbBetrag, Zins_01 ... Zins_18.
  static const std::vector<automation::Member<clsFGZins>>& Members();
  /// @return The interfaces the object answers to: kIid and kIidEarlier.
  static std::span<const std::string_view> InterfaceIds();
  /// @return A new, empty row.
  static std::shared_ptr<clsFGZins> Create();

  /// @return The amount from which the row applies.
  std::string AbBetrag() const { return texts_.Get(0); }
  /// @param value The amount from which the row applies.
  void SetAbBetrag(std::string value) { texts_.Set(0, kFields, std::move(value)); }
  /// @return The rate for 1 month.
  std::string Zins_01() const { return texts_.Get(1); }
  /// @param value The rate for 1 month.
  void SetZins_01(std::string value) { texts_.Set(1, kFields, std::move(value)); }
  /// @return The rate for 3 months.
  std::string Zins_03() const { return texts_.Get(2); }
  /// @param value The rate for 3 months.
  void SetZins_03(std::string value) { texts_.Set(2, kFields, std::move(value)); }
  /// @return The rate for 6 months.
  std::string Zins_06() const { return texts_.Get(3); }
  /// @param value The rate for 6 months.
  void SetZins_06(std::string value) { texts_.Set(3, kFields, std::move(value)); }
  /// @return The rate for 9 months.
  std::string Zins_09() const { return texts_.Get(4); }
  /// @param value The rate for 9 months.
  void SetZins_09(std::string value) { texts_.Set(4, kFields, std::move(value)); }
  /// @return The rate for 12 months.
  std::string Zins_12() const { return texts_.Get(5); }
  /// @param value The rate for 12 months.
  void SetZins_12(std::string value) { texts_.Set(5, kFields, std::move(value)); }
  /// @return The rate for 18 months.
  std::string Zins_18() const { return texts_.Get(6); }
  /// @param value The rate for 18 months.
  void SetZins_18(std::string value) { texts_.Set(6, kFields, std::move(value)); }

 private:
  friend struct detail::DepositInternals;
  static constexpr std::size_t kFields = 7;
  detail::FieldTexts texts_;
};

/// The rate tiers of one overnight-money product (clsTGProdukt::Zinsen). Item is the default
/// member.
class VEXCOMM_EXPORT colTGZinsen : public automation::DispatchObject<colTGZinsen>,
                                   public DepositList<clsTGZins> {
 public:
  static constexpr std::string_view kTypeName = "colTGZinsen";  ///< The late-bound class name.
  /// The interface identifier.
  static constexpr std::string_view kIid = "{8C7EEB33-AD07-4C80-BAF9-F9D4459E677D}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{34F6393A-49F3-481D-A8F3-F0BB3B6208FE}";
  /// @return The late-bound members in slot order: Count, Add, Item (the default member, dispatch
  /// id 0).
  static const std::vector<automation::Member<colTGZinsen>>& Members();
  /// @return The interfaces the object answers to.
  static std::span<const std::string_view> InterfaceIds();
  /// @return A new, empty list.
  static std::shared_ptr<colTGZinsen> Create();
};

/// The rate rows of one fixed-term product (clsTGProdukt::ZinsenFestgeld). Unlike the other
/// lists, Item is not the default member: late-bound callers must name it.
class VEXCOMM_EXPORT colFGZinsen : public automation::DispatchObject<colFGZinsen>,
                                   public DepositList<clsFGZins> {
 public:
  static constexpr std::string_view kTypeName = "colFGZinsen";  ///< The late-bound class name.
  /// The interface identifier.
  static constexpr std::string_view kIid = "{4489C302-1B5C-41FE-BFA7-7CB466F4BC72}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{908FD11A-A0B0-413C-BF51-7FCC9F011E3B}";
  /// @return The late-bound members in slot order: Count, Add, Item (dispatch id 0x60030003).
  static const std::vector<automation::Member<colFGZinsen>>& Members();
  /// @return The interfaces the object answers to.
  static std::span<const std::string_view> InterfaceIds();
  /// @return A new, empty list.
  static std::shared_ptr<colFGZinsen> Create();
};

/// One product of a provider, with its rate tiers (overnight money) or rate rows (fixed term).
/// ZinsGueltigkeit follows the three methods in slot order.
class VEXCOMM_EXPORT clsTGProdukt : public automation::DispatchObject<clsTGProdukt> {
 public:
  static constexpr std::string_view kTypeName = "clsTGProdukt";  ///< The late-bound class name.
  /// The interface identifier.
  static constexpr std::string_view kIid = "{DC22C819-82D3-4C03-811A-9E54D5139840}";
  /// The interface of an earlier version, still answered.
  static constexpr std::string_view kIidEarlier1 = "{51A18701-FE5E-4291-9FC5-E1E0AFD460A2}";
  /// The interface of an earlier version, still answered.
  static constexpr std::string_view kIidEarlier2 = "{436CE2FB-67BB-47B4-9114-B1F706EB017C}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{E0E6FBD7-466A-4584-9CB6-AF1BF8072557}";
  /// @return The late-bound members in slot order: Name, MindestAnlage, MaximalAnlage, Gutschrift,
  ///   Neukunde, URLInfo, URLNeu, Clear, Zinsen, ZinsenFestgeld, ZinsGueltigkeit.
  static const std::vector<automation::Member<clsTGProdukt>>& Members();
  /// @return The interfaces the object answers to.
  static std::span<const std::string_view> InterfaceIds();
  /// @return A new, empty node.
  static std::shared_ptr<clsTGProdukt> Create();

  /// Made by Create, or by the component for a reply's tree.
  /// @param key Only the component has one.
  /// @param arena The memory the node lives in.
  clsTGProdukt(detail::NodeKey key, detail::DepositArena* arena);

  /// @return The product's name.
  std::string Name() const { return texts_.Get(0); }
  /// @param value The product's name.
  void SetName(std::string value) { texts_.Set(0, kFields, std::move(value)); }
  /// @return The smallest amount it takes.
  std::string MindestAnlage() const { return texts_.Get(1); }
  /// @param value The smallest amount it takes.
  void SetMindestAnlage(std::string value) { texts_.Set(1, kFields, std::move(value)); }
  /// @return The largest amount it takes.
  std::string MaximalAnlage() const { return texts_.Get(2); }
  /// @param value The largest amount it takes.
  void SetMaximalAnlage(std::string value) { texts_.Set(2, kFields, std::move(value)); }
  /// @return When the interest is credited.
  std::string Gutschrift() const { return texts_.Get(3); }
  /// @param value When the interest is credited.
  void SetGutschrift(std::string value) { texts_.Set(3, kFields, std::move(value)); }
  /// @return Whether it is offered to new customers only.
  bool Neukunde() const noexcept { return neukunde_; }
  /// @param value Whether it is offered to new customers only.
  void SetNeukunde(bool value) noexcept { neukunde_ = value; }
  /// @return A page about the product.
  std::string URLInfo() const { return texts_.Get(5); }
  /// @param value A page about the product.
  void SetURLInfo(std::string value) { texts_.Set(5, kFields, std::move(value)); }
  /// @return A page to open an account.
  std::string URLNeu() const { return texts_.Get(6); }
  /// @param value A page to open an account.
  void SetURLNeu(std::string value) { texts_.Set(6, kFields, std::move(value)); }
  /// Empties both rate lists; the product's own properties stay.
  void Clear() noexcept;
  /// @return The overnight-money rate tiers; the same list for the product's whole life, part of
  ///   it (a reference to the list keeps the product).
  std::shared_ptr<colTGZinsen> Zinsen() const;
  /// @return The fixed-term rate rows; the same list for the product's whole life, part of it.
  std::shared_ptr<colFGZinsen> ZinsenFestgeld() const;
  /// @return Since when, or how long, the rates hold.
  std::string ZinsGueltigkeit() const { return texts_.Get(7); }
  /// @param value Since when, or how long, the rates hold.
  void SetZinsGueltigkeit(std::string value) { texts_.Set(7, kFields, std::move(value)); }

 private:
  friend struct detail::DepositInternals;
  static constexpr std::size_t kFields = 8;  // as in the entry's head; 4 is Neukunde
  detail::FieldTexts texts_;
  bool neukunde_ = false;
  mutable colTGZinsen zinsen_;
  mutable colFGZinsen zinsen_festgeld_;
};

/// The products of one provider (clsTGAnbieter::Produkte). Item is the default member.
class VEXCOMM_EXPORT colTGProdukte : public automation::DispatchObject<colTGProdukte>,
                                     public DepositList<clsTGProdukt> {
 public:
  static constexpr std::string_view kTypeName = "colTGProdukte";  ///< The late-bound class name.
  /// The interface identifier.
  static constexpr std::string_view kIid = "{E60B7869-E159-4B18-84BD-AE7FFEBED702}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{45405C4D-2D1D-4C7F-A760-AEB35854A5F3}";
  /// @return The late-bound members in slot order: Count, Add, Item (the default member).
  static const std::vector<automation::Member<colTGProdukte>>& Members();
  /// @return The interfaces the object answers to.
  static std::span<const std::string_view> InterfaceIds();
  /// @return A new, empty list.
  static std::shared_ptr<colTGProdukte> Create();
};

/// One provider (a bank) with its products.
class VEXCOMM_EXPORT clsTGAnbieter : public automation::DispatchObject<clsTGAnbieter> {
 public:
  static constexpr std::string_view kTypeName = "clsTGAnbieter";  ///< The late-bound class name.
  /// The interface identifier.
  static constexpr std::string_view kIid = "{2115AE55-2665-4E86-B2A2-0ECAB7EC338F}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{FD19DA37-B695-423C-B0AC-5742B9DB9D27}";
  /// @return The late-bound members in slot order: Name, BLZ, Clear, Produkte.
  static const std::vector<automation::Member<clsTGAnbieter>>& Members();
  /// @return The interfaces the object answers to.
  static std::span<const std::string_view> InterfaceIds();
  /// @return A new, empty node.
  static std::shared_ptr<clsTGAnbieter> Create();

  /// Made by Create, or by the component for a reply's tree.
  /// @param key Only the component has one.
  /// @param arena The memory the node lives in.
  clsTGAnbieter(detail::NodeKey key, detail::DepositArena* arena);

  /// @return The bank's name.
  std::string Name() const { return texts_.Get(0); }
  /// @param value The bank's name.
  void SetName(std::string value) { texts_.Set(0, kFields, std::move(value)); }
  /// @return Its bank code; empty when the reply gives none.
  std::string BLZ() const { return texts_.Get(1); }
  /// @param value Its bank code.
  void SetBLZ(std::string value) { texts_.Set(1, kFields, std::move(value)); }
  /// Empties the product list; Name and BLZ stay.
  void Clear() noexcept;
  /// @return The products; the same list for the provider's whole life, part of it.
  std::shared_ptr<colTGProdukte> Produkte() const;

 private:
  friend struct detail::DepositInternals;
  static constexpr std::size_t kFields = 2;
  detail::FieldTexts texts_;
  mutable colTGProdukte produkte_;
};

/// The providers of one tree (clsTagesgeld::Anbieter). Item is the default member.
class VEXCOMM_EXPORT colTGAnbieter : public automation::DispatchObject<colTGAnbieter>,
                                     public DepositList<clsTGAnbieter> {
 public:
  static constexpr std::string_view kTypeName = "colTGAnbieter";  ///< The late-bound class name.
  /// The interface identifier.
  static constexpr std::string_view kIid = "{A774DA3C-A90E-4BE1-BDC7-E10571F01CD1}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{727B3BC4-9ADB-4A67-8F10-52EE29CDA009}";
  /// @return The late-bound members in slot order: Clear, Count, Add, Item (the default member).
  static const std::vector<automation::Member<colTGAnbieter>>& Members();
  /// @return The interfaces the object answers to.
  static std::span<const std::string_view> InterfaceIds();
  /// @return A new, empty list.
  static std::shared_ptr<colTGAnbieter> Create();

  using DepositList<clsTGAnbieter>::Clear;  ///< Empties the tree's providers.
};

/// The root of one tree (VexComm::Tagesgeld or VexComm::Festgeld): the date of the conditions and
/// the provider list.
class VEXCOMM_EXPORT clsTagesgeld : public automation::DispatchObject<clsTagesgeld> {
 public:
  static constexpr std::string_view kTypeName = "clsTagesgeld";  ///< The late-bound class name.
  /// The interface identifier.
  static constexpr std::string_view kIid = "{83C33F92-2E13-48B7-9FF0-9FD76BC5320B}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{84B20136-A69B-435B-B63A-CED25C4BFA31}";
  /// @return The late-bound members in slot order: Datum, Anbieter.
  static const std::vector<automation::Member<clsTagesgeld>>& Members();
  /// @return The interfaces the object answers to.
  static std::span<const std::string_view> InterfaceIds();
  /// @return A new, empty node.
  static std::shared_ptr<clsTagesgeld> Create();

  /// An empty tree.
  clsTagesgeld();

  std::string Datum;  ///< The date of the conditions, as the reply carried it; kept by a Clear.
  /// @return The providers; the same list for the tree's whole life.
  const std::shared_ptr<colTGAnbieter>& Anbieter() const noexcept { return anbieter_; }

 private:
  std::shared_ptr<colTGAnbieter> anbieter_;
};

/// Registers the nine classes as "VexComm5." + class name with automation::RegisterClass.
/// vexcomm::CreateObject calls it on its first call; calling it again is harmless.
/// @thread Any thread.
VEXCOMM_EXPORT void RegisterDepositClasses();

}  // namespace vexcomm
