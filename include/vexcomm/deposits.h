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
/// A node's child lists are the same objects for its whole life; each is made when it is first
/// asked for, since most products fill only one of their two lists.
/// Values are stored as the server sent them; nothing is parsed or checked here.
/// Threads: none of their own; the objects are used on the host's thread only.
/// Errors: Item outside 1..Count throws vexcomm::Error 9 ("Subscript out of range"); late-bound
/// Add throws error 13 for an object of the wrong class and 91 for no object.

namespace vexcomm {

namespace detail {
struct DepositInternals;  // the list members only the component calls
}  // namespace detail

class clsTGZins;
class clsFGZins;
class clsTGProdukt;
class clsTGAnbieter;

/// What the four lists share: Count, Add and Item over the items, numbered from 1 in order of
/// adding, and Clear.
/// @tparam ItemT The item class.
/// @ownership Holds one reference per item.
template <class ItemT>
class DepositList {
 public:
  /// @return The number of items.
  int32_t Count() const noexcept { return static_cast<int32_t>(items_.size()); }
  /// Appends an item.
  /// @param item The item; the list holds a reference.
  /// @throws vexcomm::Error 91 for an empty pointer.
  void Add(std::shared_ptr<ItemT> item) {
    // Every item is an object: Clear relies on it.
    if (!item) Raise(errnum::kObjectNotSet);
    items_.push_back(std::move(item));
  }
  /// The item at a position.
  /// @param Index One-based.
  /// @return The item.
  /// @throws vexcomm::Error 9 ("Subscript out of range") outside 1..Count.
  std::shared_ptr<ItemT> Item(int32_t Index) const {
    if (Index < 1 || static_cast<std::size_t>(Index) > items_.size()) {
      Raise(errnum::kSubscriptOutOfRange);
    }
    return items_[static_cast<std::size_t>(Index) - 1];
  }

 protected:
  friend struct detail::DepositInternals;
  /// Removes the items from the last to the first, each emptied before it is let go (where it
  /// has lists of its own): no node leaves the tree filled. On the late-bound surface of the
  /// provider list only.
  void Clear() noexcept {
    while (!items_.empty()) {
      if constexpr (requires(ItemT & item) { item.Clear(); }) items_.back()->Clear();
      items_.pop_back();
    }
  }
  /// Makes room for the items a reply is known to bring.
  /// @param count How many more items will come.
  void Reserve(std::size_t count) { items_.reserve(items_.size() + count); }
  /// Gives back the room no item needs, once a reply is built.
  void ShrinkToFit() { items_.shrink_to_fit(); }

 private:
  std::vector<std::shared_ptr<ItemT>> items_;
};

/// One rate tier of an overnight-money product: an opening rate for some months, then another.
class VEXCOMM_EXPORT clsTGZins : public automation::DispatchObject<clsTGZins> {
 public:
  static constexpr std::string_view kTypeName = "clsTGZins";  ///< The late-bound class name.
  /// The interface identifier of _clsTGZins.
  /// The interface identifier.
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

  std::string AbBetrag;           ///< The amount from which the tier applies.
  std::string ZinsAnfang;         ///< The opening rate.
  int32_t GueltigZinsAnfang = 0;  ///< For how many months the opening rate holds.
  std::string ZinsDanach;         ///< The rate after it.
  int32_t GueltigZinsDanach = 0;  ///< For how many months that rate holds.
};

/// One rate row of a fixed-term product: the rate per term in months.
class VEXCOMM_EXPORT clsFGZins : public automation::DispatchObject<clsFGZins> {
 public:
  static constexpr std::string_view kTypeName = "clsFGZins";  ///< The late-bound class name.
  /// The interface identifier of _clsFGZins.
  /// The interface identifier.
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

  std::string AbBetrag;  ///< The amount from which the row applies.
  std::string Zins_01;   ///< The rate for 1 month.
  std::string Zins_03;   ///< The rate for 3 months.
  std::string Zins_06;   ///< The rate for 6 months.
  std::string Zins_09;   ///< The rate for 9 months.
  std::string Zins_12;   ///< The rate for 12 months.
  std::string Zins_18;   ///< The rate for 18 months.
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

  std::string Name;           ///< The product's name.
  std::string MindestAnlage;  ///< The smallest amount it takes.
  std::string MaximalAnlage;  ///< The largest amount it takes.
  std::string Gutschrift;     ///< When the interest is credited.
  bool Neukunde = false;      ///< Offered to new customers only.
  std::string URLInfo;        ///< A page about the product.
  std::string URLNeu;         ///< A page to open an account.
  /// Empties both rate lists; the product's own properties stay.
  void Clear() noexcept;
  /// @return The overnight-money rate tiers; the same list for the product's whole life.
  const std::shared_ptr<colTGZinsen>& Zinsen() const;
  /// @return The fixed-term rate rows; the same list for the product's whole life.
  const std::shared_ptr<colFGZinsen>& ZinsenFestgeld() const;
  std::string ZinsGueltigkeit;  ///< Since when, or how long, the rates hold.

 private:
  mutable std::shared_ptr<colTGZinsen> zinsen_;
  mutable std::shared_ptr<colFGZinsen> zinsen_festgeld_;
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

  std::string Name;  ///< The bank's name.
  std::string BLZ;   ///< Its bank code; empty when the reply gives none.
  /// Empties the product list; Name and BLZ stay.
  void Clear() noexcept;
  /// @return The products; the same list for the provider's whole life.
  const std::shared_ptr<colTGProdukte>& Produkte() const;

 private:
  mutable std::shared_ptr<colTGProdukte> produkte_;
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
