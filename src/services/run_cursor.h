#pragma once

#include <cstdint>

namespace vexcomm {
class colAktien;
}  // namespace vexcomm

namespace vexcomm::services {

// Where a run stands: the files the server still holds for it and the stock the next quote
// request is for. Reply handlers record here what a reply moved; the rows of the run read it to
// decide what follows, and the repeat bound to see that something moved.
class RunCursor {
 public:
  // The count of files the last AINEW announced, and how many of them are still to fetch.
  int32_t announced_files() const noexcept { return announced_files_; }
  int32_t remaining_files() const noexcept { return remaining_files_; }
  void AnnounceFiles(int32_t count) noexcept { announced_files_ = remaining_files_ = count; }
  void FileTaken() noexcept { remaining_files_ -= 1; }
  // A refused file puts the count back; an error reply ends the fetch with 0.
  void SetRemainingFiles(int32_t count) noexcept { remaining_files_ = count; }

  // The one-based position of the stock the next quote request is for. It is the collection's
  // as it stands: after an Add or Clear there (ReadDB too) it starts again at the first stock,
  // and a position below 1 reads as 1.
  int32_t StockPosition(const colAktien& aktien) const noexcept;
  void SetStockPosition(const colAktien& aktien, int32_t position) noexcept;
  void NextStock(const colAktien& aktien) noexcept;

 private:
  int32_t announced_files_ = 0;
  int32_t remaining_files_ = 0;
  uint64_t stock_revision_ = 0;  // the collection's revision the position was recorded for
  int32_t stock_position_ = 0;
};

}  // namespace vexcomm::services
