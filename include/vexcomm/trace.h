#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

#include <vexcomm/export.h>

namespace vexcomm {

// One named value of a trace record.
struct TraceField {
  std::string_view name;
  std::string_view value;
};

// An element of a traced frame that does not stand in the trace as it went over the wire.
struct TraceMask {
  enum class Kind : uint8_t {
    kIdentity,  // BLZ, customer number, names, e-mail: "*" for every character but ":"
    kText,      // support-log and password-request texts: "[N chars]"
    kFile,      // a large file content: "[N chars]", with its SHA-256 and its ends
  };
  int32_t element = 0;  // numbered as in the frame: 3 is the code, 4 the first field
  Kind kind = Kind::kIdentity;
  std::size_t length = 0;   // characters of the original element (of the content for kFile)
  std::string_view sha256;  // kFile: lower-case hex of the content's UTF-8 octets
  std::string_view first;   // kFile: the content's first and last kTraceFileEnds characters
  std::string_view last;
};

// File contents longer than this many characters are masked; shorter ones stand as they are.
inline constexpr std::size_t kTraceFileMaskAbove = 256;
inline constexpr std::size_t kTraceFileEnds = 16;

// What the component tells a trace sink. Every view lives only while Record runs.
struct TraceRecord {
  enum class Type : uint8_t {
    kConnect,   // fields host, port, proxy, connect_to
    kTls,       // protocol, cipher, subject, issuer, not_before, not_after, sha256, verified,
                // verify_error, accepted
    kSent,      // frame: a whole request, as text before Windows-1252 encoding
    kReceived,  // frame: a whole reply, after Windows-1252 decoding
    kEnd,       // modus, how, code, text: the run's end and its Fehler
  };
  Type type = Type::kConnect;
  std::chrono::steady_clock::time_point time;
  std::span<const TraceField> fields;
  std::string_view frame;
  std::span<const TraceMask> masks;  // the elements of `frame` that are masked
  bool unmasked = false;             // the module traces frames as they went, secrets included
};

// "connect", "tls", "sent", "received", "end"; "identity", "text", "file".
VEXCOMM_EXPORT std::string_view TraceTypeName(TraceRecord::Type type);
VEXCOMM_EXPORT std::string_view TraceMaskKindName(TraceMask::Kind kind);

// Receives the trace of a module's runs (HostServices::trace). Called on the module's thread
// inside Send; it must not call into the component. What it throws is ignored.
class VEXCOMM_EXPORT TraceSink {
 public:
  virtual ~TraceSink();
  virtual void Record(const TraceRecord& record) = 0;
};

// The value of "schema" on the first line of a trace file.
inline constexpr std::string_view kTraceSchema = "vexcomm-trace/1";

// A sink writing JSON lines to `file` (created or truncated): one object per record, "schema"
// and "masked" on the first, "type" and "t_us" (monotonic microseconds) on each, then the
// record's fields as text, "frame" and "masks". Written through a buffer, flushed at each run's
// end and when the sink goes. Throws std::system_error when the file cannot be opened.
VEXCOMM_EXPORT std::shared_ptr<TraceSink> OpenTraceFile(const std::filesystem::path& file);

}  // namespace vexcomm
