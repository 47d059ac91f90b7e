#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
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

// Where the quote database lives and how its operations report. Empty members fall back to
// the platform defaults: the directories of the host settings, a message line on standard
// error, no log lines and no progress.
struct VEXCOMM_EXPORT QuoteDbContext {
  std::string data_dir;  // holds Kurse.dat; ends in "/"
  std::string ini_dir;   // holds the template Kurse.dat; ends in "/"
  std::function<void(const std::string& title, const std::string& text)> message_box;
  std::function<void(std::string_view text)> log;
  std::function<void()> progress_step;  // once per stock that WriteToDB walks
  // The host's own event processing. Given, WriteToDB runs its statements and its commit on a
  // thread of its own and calls this on the calling thread meanwhile, so the host's user
  // interface never waits on the disk; every other member is still called on the calling
  // thread. Empty: everything runs on the calling thread.
  std::function<void()> process_host_events;
};

// One quote: date and price as the server sent them. Not creatable from outside.
// Thread-safety: none; used on the thread that made it.
class VEXCOMM_EXPORT clsKurs : public automation::DispatchObject<clsKurs> {
 public:
  static constexpr std::string_view kTypeName = "clsKurs";
  static constexpr std::string_view kIid = "{B4EB139B-442A-42BE-83B1-46112AD2D20E}";
  static constexpr std::string_view kClsid = "{821BFEC2-3149-4089-AA45-B13432FDDFD0}";
  static const std::vector<automation::Member<clsKurs>>& Members();
  static std::span<const std::string_view> InterfaceIds();

  std::string Datum;
  std::string Kurs;
};

// One security with its quotes. The stock holds one reference to each quote; a quote the host
// keeps stays alive after Clear.
class VEXCOMM_EXPORT clsAktie : public automation::DispatchObject<clsAktie> {
 public:
  static constexpr std::string_view kTypeName = "clsAktie";
  static constexpr std::string_view kIid = "{DCCD7CB2-6470-4988-999D-D70D0C6FF5D1}";
  // The interface of an earlier version, still answered.
  static constexpr std::string_view kIidEarlier = "{B4FA3596-42AA-42FB-B526-781A833BE552}";
  static constexpr std::string_view kClsid = "{BD8B7DE5-AC7E-4BCF-A451-9D6C9692C8B9}";
  static const std::vector<automation::Member<clsAktie>>& Members();
  static std::span<const std::string_view> InterfaceIds();

  clsAktie();
  explicit clsAktie(std::shared_ptr<const QuoteDbContext> context);

  std::string WKN;
  std::string ISIN;
  std::string Name;
  std::string VonDatum;
  std::string BisDatum;
  int32_t ID = 0;  // the host's copy of the row identifier; nothing in the component reads it

  void Clear() noexcept;  // removes the quotes from the end; the properties stay
  int32_t KursCount() const noexcept;
  // Deletes the stock's row and its quotes in one transaction; true when that completed.
  bool DeleteFromDB();
  std::shared_ptr<clsKurs> KursAdd(std::string Datum, std::string Kurs);
  // The quote at a one-based position; empty outside 1..KursCount, never an error.
  std::shared_ptr<clsKurs> Kurs(int32_t index) const noexcept;

 private:
  friend struct detail::QuoteInternals;
  std::shared_ptr<const QuoteDbContext> context_;
  std::vector<std::shared_ptr<clsKurs>> quotes_;
  int32_t dbid_ = 0;
};

// The list of stocks, one-based, in order of adding. Holds one reference to each stock.
class VEXCOMM_EXPORT colAktien : public automation::DispatchObject<colAktien> {
 public:
  static constexpr std::string_view kTypeName = "colAktien";
  static constexpr std::string_view kIid = "{2E0135C1-834B-46F4-90B5-D24C77FA2637}";
  static constexpr std::string_view kClsid = "{AA8D89B6-8FA3-4388-87BE-EF48280EFA18}";
  static const std::vector<automation::Member<colAktien>>& Members();
  static std::span<const std::string_view> InterfaceIds();

  colAktien();

  bool WriteDB = false;  // save the collection after a quote run

  void Clear() noexcept;  // clears and removes the stocks from the end
  int32_t Count() const noexcept;
  std::shared_ptr<clsAktie> Add(std::string WKN, std::string ISIN, std::string Name);
  // The stock at a one-based position; empty outside 1..Count, never an error.
  std::shared_ptr<clsAktie> Item(int32_t index) const noexcept;
  // Replaces the content with the stored stocks; true when the load completed (no database file
  // is an empty collection; a data folder that cannot hold one is a failure).
  bool ReadDB();

  // Stocks made by this collection share the context, so a later change reaches them too.
  void SetDatabaseContext(QuoteDbContext context);
  const QuoteDbContext& DatabaseContext() const noexcept { return *context_; }

 private:
  friend struct detail::QuoteInternals;
  std::shared_ptr<QuoteDbContext> context_;
  std::vector<std::shared_ptr<clsAktie>> stocks_;
  int32_t current_index_ = 0;
  bool last_date_only_ = false;
};

// Merges every stock of `aktien` and its quotes into Kurse.dat of its database context, in one
// transaction, as a quote run with WriteDB does at its end (for hosts that fill a collection
// themselves, an import say). A failure goes to the context's message box and makes the result
// false; the stocks written before it stay.
VEXCOMM_EXPORT bool MergeIntoDatabase(colAktien& aktien);

// Registers "VexComm5.colAktien" and "VexComm5.clsAktie" for CreateObject.
VEXCOMM_EXPORT void RegisterQuoteClasses();

// Writes an empty quote database (tables and indexes, encrypted with the fixed password) to
// `file`, replacing nothing: false when the file exists or cannot be made.
VEXCOMM_EXPORT bool CreateTemplateDatabase(const std::filesystem::path& file);

// The order of quote dates in the database, for hosts that sort quotes themselves: keys compare
// by their bytes. DD.MM.YYYY (day and month may have one digit) and YYYY-MM-DD sort by the date
// they name and before any other text, which sorts by its bytes. Any thread.
VEXCOMM_EXPORT std::string QuoteDateSortKey(std::string_view datum);

}  // namespace vexcomm
