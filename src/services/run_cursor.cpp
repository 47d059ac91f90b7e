#include "services/run_cursor.h"

#include "quotes/quote_internals.h"

namespace vexcomm::services {

int32_t RunCursor::StockPosition(const colAktien& aktien) const noexcept {
  if (stock_revision_ != detail::QuoteInternals::Revision(aktien)) return 1;
  return stock_position_ < 1 ? 1 : stock_position_;
}

void RunCursor::SetStockPosition(const colAktien& aktien, int32_t position) noexcept {
  stock_revision_ = detail::QuoteInternals::Revision(aktien);
  stock_position_ = position;
}

void RunCursor::NextStock(const colAktien& aktien) noexcept {
  SetStockPosition(aktien, StockPosition(aktien) + 1);
}

}  // namespace vexcomm::services
