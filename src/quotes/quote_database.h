#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <vexcomm/quotes.h>

namespace vexcomm::quotes {

class Connection;
class Statement;

inline constexpr std::string_view kDatabaseFileName = "Kurse.dat";
inline constexpr std::string_view kDatabaseKey = "kiwi+mangos";
inline constexpr std::string_view kDefaultTitle = "VexComm5";
inline constexpr std::string_view kWriteTitle = "VexComm.Aktien.WriteToDB";
inline constexpr std::string_view kDeleteTitle = "VexComm.Aktien.DeleteFromDB";
inline constexpr std::string_view kFindLastIdTitle = "HbProc:FindLastID";
inline constexpr std::string_view kTemplateMissing = "Template-Datenbank Kurse.dat nicht vorhanden";
inline constexpr std::string_view kNoValidStockId = "Keine gültige Aktien-ID";

// A context with every member usable: empty directories and a missing message box replaced by
// the host-setting defaults, missing log and progress functions by ones that do nothing.
struct ResolvedDbContext {
  std::filesystem::path database;           // data directory + Kurse.dat
  std::filesystem::path template_database;  // INI directory + Kurse.dat
  std::function<void(const std::string& title, const std::string& text)> message_box;
  std::function<void(std::string_view text)> log;
  std::function<void()> progress_step;
  std::function<void()> process_host_events;  // may be empty
  // The first failure shown, as "FILE: cause".
  mutable std::optional<std::string> failure;

  void Message(std::string_view title, std::string_view text) const;
};
ResolvedDbContext Resolve(const QuoteDbContext& context);

// Merges the collection into Kurse.dat (MergeIntoDatabase, WriteToDB of a quote run); the
// failure it showed, as "FILE: cause", or nothing when it completed.
std::optional<std::string> WriteToDB(colAktien& aktien);

enum class Table { Aktien, Kurse };

// The largest ID of the table, 0 when it is empty. Any other failure is shown (title
// "HbProc:FindLastID") and also gives 0.
int32_t FindLastID(Connection& connection, Table table, const ResolvedDbContext& context);
// The same on the pass's prepared "SELECT MAX(ID)" of that table.
int32_t FindLastID(Statement& max_query, Table table, const ResolvedDbContext& context);

}  // namespace vexcomm::quotes
