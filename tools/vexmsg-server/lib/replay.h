#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vexmsg-server/lib/request_reader.h"

namespace vexmsg {

// A trace written by `vexcomm --trace`, answered again: each request of a new run gets the
// replies recorded after the trace's request of the same place, whatever connection it comes
// on. A request that differs from the recorded one (its code, its element count or an element
// the trace did not mask) is a divergence: noted, and answered as recorded all the same. A
// masked file content comes back as filler of its recorded length, starting and ending with
// its recorded ends. Thread-safe.
class Replay {
 public:
  // Throws std::runtime_error naming the line of a malformed trace.
  static std::shared_ptr<Replay> Parse(std::string_view json_lines);
  static std::shared_ptr<Replay> Load(const std::filesystem::path& file);

  struct Answer {
    std::string replies;     // UTF-8 frames, one after the other; empty with `close`
    bool close = false;      // the recorded run saw no reply: the connection ends instead
    std::string divergence;  // what differed, or ""
  };
  Answer Next(const RequestFrame& request);

  std::vector<std::string> Divergences() const;
  // Recorded requests no run has asked for yet.
  std::size_t Remaining() const;

  struct Step {
    std::string request;      // as recorded, Windows-1252, masked elements included
    std::vector<int> masked;  // element numbers not to compare
    std::vector<std::string> replies;
  };

 private:
  mutable std::mutex mutex_;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  std::vector<std::string> divergences_;
};

}  // namespace vexmsg
