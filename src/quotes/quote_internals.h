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
  // The one-based position of the stock the next quote request is for; a stored value below 1
  // becomes 1 on reading.
  static int32_t CurrentIndex(colAktien& aktien) noexcept {
    if (aktien.current_index_ < 1) aktien.current_index_ = 1;
    return aktien.current_index_;
  }
  static void SetCurrentIndex(colAktien& aktien, int32_t index) noexcept {
    aktien.current_index_ = index;
  }
  // ReadDB loads only each stock's last date (for a run that fetches only newer quotes).
  static void SetLastDateOnly(colAktien& aktien, bool value) noexcept {
    aktien.last_date_only_ = value;
  }
  // Add for a stock read from the database: ID is set first.
  static std::shared_ptr<clsAktie> AddFromDB(colAktien& aktien, int32_t ID, std::string WKN,
                                             std::string ISIN, std::string Name);
  // The row identifier DeleteFromDB uses, set only when loaded from the database.
  static void SetDBID(clsAktie& stock, int32_t id) noexcept { stock.dbid_ = id; }
  static int32_t DBID(const clsAktie& stock) noexcept { return stock.dbid_; }
  // ReadDB, with the failure it showed as "FILE: cause", or nothing when it completed.
  static std::optional<std::string> ReadDB(colAktien& aktien);
};

}  // namespace vexcomm::detail
