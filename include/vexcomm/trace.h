#pragma once

/// @file
/// The trace of a module's runs: what went over the wire, for a person who looks into a failure.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

#include <vexcomm/export.h>

namespace vexcomm {

/// One named value of a trace record.
struct TraceField {
  std::string_view name;   ///< The field's name, "host", "cipher", ...
  std::string_view value;  ///< Its value as text.
};

/// An element of a traced frame that does not stand in the trace as it went over the wire.
struct TraceMask {
  /// How the element is masked.
  enum class Kind : uint8_t {
    kIdentity,  ///< BLZ, customer number, names, e-mail: "*" for every character but ":".
    kText,      ///< Support-log and password-request texts: "[N chars]".
    kFile,      ///< A large file content: "[N chars]", with its SHA-256 and its ends.
  };
  int32_t element = 0;          ///< Numbered as in the frame: 3 is the code, 4 the first field.
  Kind kind = Kind::kIdentity;  ///< How it is masked.
  std::size_t length = 0;       ///< Characters of the original element (of the content for kFile).
  std::string_view sha256;      ///< kFile: lower-case hex of the content's UTF-8 octets.
  std::string_view first;       ///< kFile: the content's first kTraceFileEnds characters.
  std::string_view last;        ///< kFile: the content's last kTraceFileEnds characters.
};

/// File contents longer than this many characters are masked; shorter ones stand as they are.
inline constexpr std::size_t kTraceFileMaskAbove = 256;
/// How many characters of each end of a masked file content the trace keeps.
inline constexpr std::size_t kTraceFileEnds = 16;

/// What the component tells a trace sink.
/// @ownership Every view and span lives only while TraceSink::Record runs; copy what you keep.
struct TraceRecord {
  /// What the record is about.
  enum class Type : uint8_t {
    kConnect,   ///< Fields host, port, proxy, connect_to.
    kTls,       ///< Fields protocol, cipher, subject, issuer, not_before, not_after, sha256,
                ///< verified, verify_error, accepted.
    kSent,      ///< `frame`: a whole request, as text before Windows-1252 encoding.
    kReceived,  ///< `frame`: a whole reply, after Windows-1252 decoding.
    kEnd,       ///< Fields modus, how, code, text: the run's end and its Fehler.
  };
  Type type = Type::kConnect;                  ///< What the record is about.
  std::chrono::steady_clock::time_point time;  ///< When, on the monotonic clock.
  std::span<const TraceField> fields;          ///< The record's named values.
  std::string_view frame;                      ///< kSent and kReceived: the frame, masked.
  std::span<const TraceMask> masks;            ///< The elements of `frame` that are masked.
  bool unmasked = false;  ///< The module traces frames as they went, secrets included.
};

/// The name of a record type in a trace file.
/// @param type A record type.
/// @return "connect", "tls", "sent", "received" or "end"; "unknown" for another value.
/// @thread Any thread.
VEXCOMM_EXPORT std::string_view TraceTypeName(TraceRecord::Type type);
/// The name of a mask kind in a trace file.
/// @param kind A mask kind.
/// @return "identity", "text" or "file"; "unknown" for another value.
/// @thread Any thread.
VEXCOMM_EXPORT std::string_view TraceMaskKindName(TraceMask::Kind kind);

/// Receives the trace of a module's runs (HostServices::trace).
/// @thread Called on the module's thread inside Send; it must not call into the component.
class VEXCOMM_EXPORT TraceSink {
 public:
  virtual ~TraceSink();
  /// Takes one record. What it throws is ignored.
  /// @param record The record; its views live only during the call.
  virtual void Record(const TraceRecord& record) = 0;
};

/// The value of "schema" on the first line of a trace file.
inline constexpr std::string_view kTraceSchema = "vexcomm-trace/1";

/// A sink that writes JSON lines to a file: one object per record, "schema" and "masked" on the
/// first, "type" and "t_us" (monotonic microseconds) on each, then the record's fields as text,
/// "frame" and "masks". Written through a buffer, flushed at each run's end and when the sink
/// goes.
/// @param file Created, or truncated when it exists; readable by the user only (0600), also
///   when it replaces an older file.
/// @return The sink, to be set as HostServices::trace.
/// @throws std::system_error When the file cannot be opened.
/// @thread Any thread; the sink is then used by one module.
VEXCOMM_EXPORT std::shared_ptr<TraceSink> OpenTraceFile(const std::filesystem::path& file);

}  // namespace vexcomm
