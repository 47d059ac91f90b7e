#pragma once

/// @file
/// The quote model (colAktien, clsAktie, clsKurs) and the quote database Kurse.dat.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <vexcomm/dispatch.h>
#include <vexcomm/export.h>

namespace vexcomm {

namespace detail {
struct QuoteInternals;  // the members only the component calls
}  // namespace detail

/// Where the quote database lives and how its operations report. Empty members fall back to
/// the platform defaults: the folders of the default host services, a message line on standard
/// error, no log lines and no progress. VexComm's Aktien has the module's context.
/// @ownership A plain value; a collection keeps a copy shared with its stocks.
struct VEXCOMM_EXPORT QuoteDbContext {
  std::string data_dir;  ///< The folder holding Kurse.dat, ending in "/".
  std::string ini_dir;   ///< The folder holding the template Kurse.dat, ending in "/".
  /// Told of each failure, with the procedure as title ("VexComm.Aktien.WriteToDB").
  std::function<void(const std::string& title, const std::string& text)> message_box;
  std::function<void(std::string_view text)> log;  ///< Told of each stock a write skips or saves.
  std::function<void()> progress_step;             ///< Called once per stock a write walks.
  /// The host's own event processing. Given, a write runs its statements and its commit on a
  /// thread of its own and calls this on the calling thread meanwhile, so the host's user
  /// interface never waits on the disk; every other member is still called on the calling
  /// thread. Empty: everything runs on the calling thread.
  std::function<void()> process_host_events;
};

/// One quote: date and price as the server sent them. Made by clsAktie::KursAdd; not creatable
/// by ProgID.
/// @ownership Held by std::shared_ptr; its stock holds one reference.
/// @thread None: used on the thread that made it.
class VEXCOMM_EXPORT clsKurs : public automation::DispatchObject<clsKurs> {
 public:
  static constexpr std::string_view kTypeName = "clsKurs";  ///< The late-bound class name.
  /// The interface identifier of _clsKurs.
  static constexpr std::string_view kIid = "{B4EB139B-442A-42BE-83B1-46112AD2D20E}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{821BFEC2-3149-4089-AA45-B13432FDDFD0}";
  /// @return The late-bound members: Datum and Kurs, read-write.
  static const std::vector<automation::Member<clsKurs>>& Members();
  /// @return The interfaces the object answers to: kIid.
  static std::span<const std::string_view> InterfaceIds();

  std::string Datum;  ///< The quote's date, as sent ("01.12.2026").
  std::string Kurs;   ///< The price, as sent ("100,10"); see QuotePriceValue.
};

/// One security with its quotes. A quote run asks the server for the quotes from VonDatum to
/// BisDatum and adds them here. Creatable as "VexComm5.clsAktie".
/// @ownership Held by std::shared_ptr; the collection holds one reference, and the stock holds
///   one to each quote: a quote the host keeps stays alive after Clear.
/// @thread None: used on the thread that made it.
class VEXCOMM_EXPORT clsAktie : public automation::DispatchObject<clsAktie> {
 public:
  static constexpr std::string_view kTypeName = "clsAktie";  ///< The late-bound class name.
  /// The interface identifier of _clsAktie.
  static constexpr std::string_view kIid = "{DCCD7CB2-6470-4988-999D-D70D0C6FF5D1}";
  /// The interface of an earlier version, still answered.
  static constexpr std::string_view kIidEarlier = "{B4FA3596-42AA-42FB-B526-781A833BE552}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{BD8B7DE5-AC7E-4BCF-A451-9D6C9692C8B9}";
  /// @return The late-bound members in slot order: WKN, ISIN, Name, VonDatum, BisDatum, Clear,
  ///   KursCount, DeleteFromDB, KursAdd, Kurs, ID.
  static const std::vector<automation::Member<clsAktie>>& Members();
  /// @return The interfaces the object answers to: kIid and kIidEarlier.
  static std::span<const std::string_view> InterfaceIds();

  /// A stock with the default database context.
  clsAktie();
  /// A stock whose DeleteFromDB uses a collection's database context.
  /// @param context The context, shared with the collection; a later change reaches the stock.
  explicit clsAktie(std::shared_ptr<const QuoteDbContext> context);

  std::string WKN;   ///< The German securities number; a stock without one is not stored.
  std::string ISIN;  ///< The international securities number.
  std::string Name;  ///< The name, as the server or the host gave it.
  /// First date of the quotes to fetch, sent as it is (a run of all quotes sets it to a year
  /// ago); after ReadDB the first stored date.
  std::string VonDatum;
  /// Last date of the quotes to fetch, sent as it is; after ReadDB the last stored date.
  std::string BisDatum;
  /// The host's copy of the row identifier; nothing in the component reads it.
  int32_t ID = 0;

  /// Removes the quotes, from the last to the first; the properties stay.
  void Clear() noexcept;
  /// @return The number of quotes.
  int32_t KursCount() const noexcept;
  /// Deletes the stock's row and its quotes from Kurse.dat in one transaction. Only a stock read
  /// by colAktien::ReadDB knows its row; for another the context's message box tells so.
  /// @return True when the delete completed; false when the stock has no row, Kurse.dat does not
  ///   exist, or the delete failed (the context's message box is told why).
  bool DeleteFromDB();
  /// Appends a quote.
  /// @param Datum The date, as text.
  /// @param Kurs The price, as text.
  /// @return The new quote, also held by the stock.
  std::shared_ptr<clsKurs> KursAdd(std::string Datum, std::string Kurs);
  /// The quote at a position.
  /// @param index One-based.
  /// @return The quote; empty outside 1..KursCount, never an error.
  std::shared_ptr<clsKurs> Kurs(int32_t index) const noexcept;

 private:
  friend struct detail::QuoteInternals;
  std::shared_ptr<const QuoteDbContext> context_;
  std::vector<std::shared_ptr<clsKurs>> quotes_;
  int32_t dbid_ = 0;
};

/// The list of stocks, one-based, in order of adding: what a quote run fetches quotes for
/// (VexComm::Aktien), and what Kurse.dat holds (ReadDB). No member is the default: Item must
/// be named. Creatable as "VexComm5.colAktien".
/// @ownership Held by std::shared_ptr; holds one reference to each stock.
/// @thread None: used on the thread that made it (for VexComm's, the module's thread).
class VEXCOMM_EXPORT colAktien : public automation::DispatchObject<colAktien> {
 public:
  static constexpr std::string_view kTypeName = "colAktien";  ///< The late-bound class name.
  /// The interface identifier of _colAktien.
  static constexpr std::string_view kIid = "{2E0135C1-834B-46F4-90B5-D24C77FA2637}";
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{AA8D89B6-8FA3-4388-87BE-EF48280EFA18}";
  /// @return The late-bound members in slot order: WriteDB, Clear, Count, Add, Item, ReadDB.
  static const std::vector<automation::Member<colAktien>>& Members();
  /// @return The interfaces the object answers to: kIid.
  static std::span<const std::string_view> InterfaceIds();

  /// An empty collection with the default database context.
  colAktien();

  /// Merge the collection into Kurse.dat at the end of a quote run (vexCommWPK,
  /// vexCommGetAllWPK); vexCommNewWPK sets it itself.
  bool WriteDB = false;

  /// Clears each stock and removes it, from the last to the first.
  void Clear() noexcept;
  /// @return The number of stocks.
  int32_t Count() const noexcept;
  /// Appends a stock made with this collection's database context.
  /// @param WKN The German securities number.
  /// @param ISIN The international securities number.
  /// @param Name The name.
  /// @return The new stock, also held by the collection.
  std::shared_ptr<clsAktie> Add(std::string WKN, std::string ISIN, std::string Name);
  /// The stock at a position.
  /// @param index One-based.
  /// @return The stock; empty outside 1..Count, never an error.
  std::shared_ptr<clsAktie> Item(int32_t index) const noexcept;
  /// Replaces the content with the stocks and quotes stored in Kurse.dat of the data folder.
  /// @return True when the load completed; no database file is an empty collection. A data
  ///   folder that cannot hold one, or a damaged file, is a failure: false, and the context's
  ///   message box is told why.
  bool ReadDB();

  /// Sets where the database lives and how its operations report. Stocks made by this
  /// collection share the context, so a later change reaches them too.
  /// @param context The new context.
  void SetDatabaseContext(QuoteDbContext context);
  /// @return The database context, valid until the next SetDatabaseContext.
  const QuoteDbContext& DatabaseContext() const noexcept { return *context_; }

 private:
  friend struct detail::QuoteInternals;
  std::shared_ptr<QuoteDbContext> context_;
  std::vector<std::shared_ptr<clsAktie>> stocks_;
  uint64_t revision_ = 0;  // new at each Clear and Add: a run's stock position is for one
};

/// Merges every stock of a collection and its quotes into Kurse.dat of its database context, in
/// one transaction, as a quote run with WriteDB does at its end (for hosts that fill a
/// collection themselves, an import say). A missing Kurse.dat is first copied from the template
/// in the INI folder; stocks without a WKN or without quotes are skipped (told to the context's
/// log).
/// @param aktien The collection; its context says where.
/// @return True when the merge completed. A failure goes to the context's message box and makes
///   the result false; the stocks written before it stay.
/// @thread The thread that uses the collection.
VEXCOMM_EXPORT bool MergeIntoDatabase(colAktien& aktien);

/// Registers "VexComm5.colAktien" and "VexComm5.clsAktie" for CreateObject; calling it again is
/// harmless.
/// @thread Any thread.
VEXCOMM_EXPORT void RegisterQuoteClasses();

/// Writes an empty quote database (tables and indexes, encrypted with the fixed password), as the
/// template Kurse.dat of an INI folder.
/// @param file The file to make; nothing is ever replaced.
/// @return True when it was made; false when the file exists or cannot be made (nothing is left
///   behind then).
/// @thread Any thread.
VEXCOMM_EXPORT bool CreateTemplateDatabase(const std::filesystem::path& file);

/// The order of quote dates in the database, for hosts that sort quotes themselves: keys compare
/// by their bytes. DD.MM.YYYY (day and month may have one digit) and YYYY-MM-DD sort by the date
/// they name and before any other text, which sorts by its bytes; a day that does not exist
/// (31.02.2026) is such other text.
/// @param datum A quote's date as stored.
/// @return Its sort key.
/// @thread Any thread.
VEXCOMM_EXPORT std::string QuoteDateSortKey(std::string_view datum);

/// A price as the quote runs store it, for hosts that check one: digits with at most one decimal
/// separator ("," or "."), digits on both sides of it, nothing else (no sign, grouping, exponent
/// or blank).
/// @param kurs A price as text.
/// @return Its value, or nothing for any other text.
/// @thread Any thread.
VEXCOMM_EXPORT std::optional<double> QuotePriceValue(std::string_view kurs);

}  // namespace vexcomm
