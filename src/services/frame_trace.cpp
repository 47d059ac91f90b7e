#include "services/frame_trace.h"

#include <string>
#include <vector>

#include <vexcomm/cls_fehler.h>
#include <vexcomm/trace.h>

#include "platform/trace_file.h"
#include "platform/utf8.h"
#include "transport/frame.h"

namespace vexcomm::services {

namespace {

using Clock = std::chrono::steady_clock;

void RecordFrame(const RunState& state, TraceRecord::Type type, std::string_view frame,
                 std::span<const TraceMask> masks) {
  TraceRecord record;
  record.type = type;
  record.time = Clock::now();
  record.frame = frame;
  record.masks = masks;
  record.unmasked = state.host.trace_unmasked;
  platform::Trace(*state.host.trace, record);
}

// The masked form of one field, appended to the masked frame, one mask per element it makes.
class MaskedRequest {
 public:
  explicit MaskedRequest(std::string_view code) : frame_("VEXMSG:2:") { frame_.append(code); }

  void Add(const RequestField& field) {
    frame_ += ':';
    if (field.privacy == Privacy::kPrefixedText) {
      // One element whatever it holds; empty text is an empty field.
      const std::size_t at = transport::LengthPrefixedContentOffset(field.text);
      const std::string_view content = at == std::string_view::npos ? "" : field.text.substr(at);
      if (!field.text.empty()) AppendLength(TraceMask::Kind::kText, content);
      ++element_;
      return;
    }
    // A plain field is cut at each ":" by the server: every piece is an element of its own.
    std::string_view rest = field.text;
    for (;;) {
      const std::size_t colon = rest.find(':');
      const std::string_view piece = rest.substr(0, colon);
      if (field.privacy == Privacy::kNone || piece.empty()) {
        frame_.append(piece);
      } else if (field.privacy == Privacy::kIdentity) {
        const std::size_t length = platform::CodePointCount(piece);
        frame_.append(length, '*');
        masks_.push_back({element_, TraceMask::Kind::kIdentity, length, {}, {}, {}});
      } else {
        AppendLength(TraceMask::Kind::kText, piece);
      }
      ++element_;
      if (colon == std::string_view::npos) break;
      frame_ += ':';
      rest.remove_prefix(colon + 1);
    }
  }

  std::string_view Finish() {
    frame_ += ":MSGEND";
    return frame_;
  }
  std::span<const TraceMask> masks() const { return masks_; }

 private:
  void AppendLength(TraceMask::Kind kind, std::string_view text) {
    const std::size_t length = platform::CodePointCount(text);
    frame_ += '[' + std::to_string(length) + " chars]";
    masks_.push_back({element_, kind, length, {}, {}, {}});
  }

  std::string frame_;
  std::vector<TraceMask> masks_;
  int32_t element_ = 4;
};

// The first and last `count` characters of a text.
std::string_view Head(std::string_view text, std::size_t count) {
  return platform::CodePointPrefix(text, count);
}
// Walks back from the end: a large content is not read again for its last characters.
std::string_view Tail(std::string_view text, std::size_t count, std::size_t total) {
  if (total <= count) return text;
  std::size_t from = text.size();
  while (count > 0 && from > 0) {
    --from;
    if ((static_cast<unsigned char>(text[from]) & 0xC0) != 0x80) --count;
  }
  return text.substr(from);
}

// Start and length of element `number` (from 1) of a frame, as the element reader cuts it.
bool FindElement(std::string_view frame, int number, std::size_t& start, std::size_t& length) {
  std::size_t position = 0;
  for (int i = 1; position < frame.size(); ++i) {
    start = position;
    if (!transport::akNextElement(frame, start, length)) return false;
    if (i == number) return true;
    std::uint64_t one = 1;
    position = platform::SkipCodePoints(frame, start + length, one);
  }
  return false;
}

std::string_view HowItEnded(int32_t code) {
  switch (code) {
    case vcerrNoError:
      return "vcerrNoError";
    case vcerrNoConnection:
      return "vcerrNoConnection";
    case vcerrOther:
      return "vcerrOther";
    case vcerrKundeNotFound:
      return "vcerrKundeNotFound";
    case vcerrDisconnect:
      return "vcerrDisconnect";
    case vcerrSuccess:
      return "vcerrSuccess";
    case vcerrCritical:
      return "vcerrCritical";
    default:
      return "server error";
  }
}

}  // namespace

void SendRequest(RunState& state, std::string_view code,
                 std::initializer_list<RequestField> fields) {
  std::string frame = "VEXMSG:2:";
  frame.append(code);
  for (const auto& f : fields) frame.append(1, ':').append(f.text);
  frame += ":MSGEND";
  if (state.host.trace) {
    if (state.host.trace_unmasked) {
      RecordFrame(state, TraceRecord::Type::kSent, frame, {});
    } else {
      MaskedRequest masked(code);
      for (const auto& f : fields) masked.Add(f);
      const std::string_view text = masked.Finish();
      RecordFrame(state, TraceRecord::Type::kSent, text, masked.masks());
    }
  }
  if (!state.driver) Raise(errnum::kObjectNotSet);
  state.driver->SendFrame(frame);
}

void TraceSent(const RunState& state, std::string_view frame) {
  if (state.host.trace) RecordFrame(state, TraceRecord::Type::kSent, frame, {});
}

void TraceReceived(const RunState& state, std::string_view frame) {
  if (!state.host.trace) return;
  constexpr int kContentElement = 13;
  std::size_t start = 0;
  std::size_t length = 0;
  const bool file_reply = frame.size() > 14 && frame.substr(9, 5) == "AIGET";
  if (state.host.trace_unmasked || !file_reply ||
      !FindElement(frame, kContentElement, start, length)) {
    return RecordFrame(state, TraceRecord::Type::kReceived, frame, {});
  }
  const std::string_view element = frame.substr(start, length);
  const std::size_t at = transport::FileContentOffset(element);
  const std::string_view content =
      at == std::string_view::npos ? std::string_view() : element.substr(at);
  const std::size_t characters = platform::CodePointCount(content);
  if (characters <= kTraceFileMaskAbove) {
    return RecordFrame(state, TraceRecord::Type::kReceived, frame, {});
  }
  std::string masked(frame.substr(0, start));
  masked += '[' + std::to_string(characters) + " chars]";
  masked.append(frame.substr(start + length));
  const std::string sha256 = platform::Sha256Hex(content);
  const TraceMask mask{
      kContentElement, TraceMask::Kind::kFile,        characters,
      sha256,          Head(content, kTraceFileEnds), Tail(content, kTraceFileEnds, characters)};
  RecordFrame(state, TraceRecord::Type::kReceived, masked, {&mask, 1});
}

void TraceEnd(const RunState& state) {
  if (!state.host.trace) return;
  const int32_t code = state.fehler ? state.fehler->Code : 0;
  const std::string modus = std::to_string(state.modus);
  const std::string code_text = std::to_string(code);
  const std::string text = state.fehler ? state.fehler->Text : std::string();
  const TraceField fields[] = {
      {"modus", modus}, {"how", HowItEnded(code)}, {"code", code_text}, {"text", text}};
  TraceRecord record;
  record.type = TraceRecord::Type::kEnd;
  record.time = Clock::now();
  record.fields = fields;
  record.unmasked = state.host.trace_unmasked;
  platform::Trace(*state.host.trace, record);
}

}  // namespace vexcomm::services
