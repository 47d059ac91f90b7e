#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <vexcomm/quotes.h>

namespace vexcomm::detail {

// The members of the quote classes that only the component calls; they are on no late-bound
// surface and hosts cannot reach them.
struct QuoteInternals {
  // Changes with each Clear and Add, and differs between any two collections: a run's stock
  // position holds for the revision it was recorded at (services::RunCursor).
  static uint64_t Revision(const colAktien& aktien) noexcept { return aktien.revision_; }
  // Add for a stock read from the database: ID is set first.
  static std::shared_ptr<clsAktie> AddFromDB(colAktien& aktien, int32_t ID, std::string WKN,
                                             std::string ISIN, std::string Name);
  // The row identifier DeleteFromDB uses, set only when loaded from the database.
  static void SetDBID(clsAktie& stock, int32_t id) noexcept { stock.dbid_ = id; }
  static int32_t DBID(const clsAktie& stock) noexcept { return stock.dbid_; }
  // What ReadDB loads of each stock: all its quotes, or only its last date (for a run that
  // fetches only newer quotes).
  enum class Stored { kAllQuotes, kLastDateOnly };
  // ReadDB, with the failure it showed as "FILE: cause", or nothing when it completed.
  static std::optional<std::string> ReadDB(colAktien& aktien, Stored what);
};

}  // namespace vexcomm::detail
