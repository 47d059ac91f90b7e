#include "transport/frame.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/large_buffer.h"
#include "platform/number_text.h"
#include "platform/utf8.h"
#include "transport/cls_element.h"
#include "transport/reply_elements.h"

namespace vexcomm::transport {

namespace {

constexpr std::string_view kHead = "VEXMSG:2:";
constexpr std::string_view kEnd = ":MSGEND";
constexpr std::uint64_t kLengthCap = std::numeric_limits<std::uint64_t>::max() / 16;
// Contents from this size on get their room at once, and their buffers are worth reusing.
constexpr std::uint64_t kLargeContent = std::uint64_t{1} << 20;
constexpr std::uint64_t kMostRoom = std::uint64_t{256} << 20;
// For the elements after the content (a file's number) and the end mark: without it the last
// chunk would move the whole frame into a buffer twice its size.
constexpr std::uint64_t kRoomAfterContent = 4096;
// Contents from this size on tell the host how large the reply will be; smaller ones arrive at
// once anyway.
constexpr std::uint64_t kProgressContent = std::uint64_t{64} << 10;

using platform::IsDigit;

// Absurd stated lengths saturate; the content then simply runs to the end of the text.
std::uint64_t AddDigit(std::uint64_t length, char digit) noexcept {
  if (length >= kLengthCap) return kLengthCap;
  return length * 10 + static_cast<unsigned>(digit - '0');
}

// Offset after "@" digits "@" at `pos`, with the stated length; npos when there is no such head.
std::size_t ParseHead(std::string_view text, std::size_t pos, std::uint64_t& length) noexcept {
  if (pos >= text.size() || text[pos] != '@') return std::string_view::npos;
  std::size_t i = pos + 1;
  length = 0;
  while (i < text.size() && IsDigit(text[i])) length = AddDigit(length, text[i++]);
  if (i == pos + 1 || i >= text.size() || text[i] != '@') return std::string_view::npos;
  return i + 1;
}

// Byte offset `count` code points after `pos`, or the end of the text.
std::size_t AfterCodePoints(std::string_view text, std::size_t pos, std::uint64_t count) noexcept {
  return platform::SkipCodePoints(text, pos, count);
}

}  // namespace

std::string BuildRequest(std::string_view code, std::span<const std::string> fields) {
  std::size_t size = kHead.size() + code.size() + kEnd.size();
  for (const auto& field : fields) size += 1 + field.size();
  std::string frame;
  frame.reserve(size);
  frame.append(kHead).append(code);
  for (const auto& field : fields) frame.append(1, ':').append(field);
  frame.append(kEnd);
  return frame;
}

std::string BuildRequest(std::string_view code, std::initializer_list<std::string_view> fields) {
  std::size_t size = kHead.size() + code.size() + kEnd.size();
  for (auto field : fields) size += 1 + field.size();
  std::string frame;
  frame.reserve(size);
  frame.append(kHead).append(code);
  for (auto field : fields) frame.append(1, ':').append(field);
  frame.append(kEnd);
  return frame;
}

std::string LengthPrefixed(std::string_view text) {
  if (text.empty()) return {};
  std::string count = std::to_string(platform::CodePointCount(text));
  std::string out;
  out.reserve(text.size() + count.size() + 2);
  out.append(1, '@').append(count).append(1, '@').append(text);
  return out;
}

bool akNextElement(std::string_view text, std::size_t& start, std::size_t& length) noexcept {
  if (start >= text.size()) return false;
  std::uint64_t stated = 0;
  std::size_t content = ParseHead(text, start, stated);
  if (content != std::string_view::npos) {
    length = AfterCodePoints(text, content, stated) - start;
    return true;
  }
  std::size_t colon = text.find(':', start);
  length = (colon == std::string_view::npos ? text.size() : colon) - start;
  return true;
}

bool NextElement(std::string_view text, std::size_t& position, std::size_t& start,
                 std::size_t& length) noexcept {
  start = position;
  if (position >= text.size() || !akNextElement(text, start, length)) return false;
  // Step over the one character that ends the element; after a length-prefixed element that
  // may be any character, so step a whole code point.
  position = AfterCodePoints(text, start + length, 1);
  return true;
}

namespace {

// Elements 1 and 2 of a valid reply.
bool IsReplyHead(std::string_view tag, std::string_view version) {
  return tag == "VEXMSG" && (version == "2" || version == "3");
}

}  // namespace

void SplitElements(std::string_view text, clsElement& list, bool clear_first) {
  if (clear_first) list.Clear();
  if (list.Count() == 0) return list.AssignFrame(std::string(text));
  std::size_t position = 0;
  std::size_t start = 0;
  std::size_t length = 0;
  while (NextElement(text, position, start, length))
    list.Add(std::string(text.substr(start, length)));
}

bool SplitValidReply(std::string& text, clsElement& list) {
  std::string_view head[2];
  std::size_t position = 0;
  for (auto& element : head) {
    std::size_t start = 0;
    std::size_t length = 0;
    if (NextElement(text, position, start, length))
      element = std::string_view(text).substr(start, length);
  }
  if (!IsReplyHead(head[0], head[1])) {
    list.AssignFrame(std::string(text));
    return false;
  }
  // The elements stay in the frame's buffer: no copy of a large reply.
  list.AssignFrame(std::move(text));
  text.clear();
  return true;
}

bool IsValidReply(const clsElement& list) {
  return IsReplyHead(list.Item(element::kHead), list.Item(element::kVersion));
}

std::size_t LengthPrefixedContentOffset(std::string_view element) noexcept {
  std::uint64_t length = 0;
  return ParseHead(element, 0, length);
}

std::size_t FileContentOffset(std::string_view element) noexcept {
  constexpr std::size_t kLastMarkPosition = 9;  // in characters, counted from 1
  const std::size_t at = element.empty() ? std::string_view::npos : element.find('@', 1);
  if (at != std::string_view::npos &&
      platform::CodePointCount(element.substr(0, at)) < kLastMarkPosition) {
    return at + 1;
  }
  // A length prefix of eight digits or more puts its second mark further on.
  return LengthPrefixedContentOffset(element);
}

// The scanner reads the text exactly as SplitElements would, each character once, so that a
// ":MSGEND" inside a file's content does not end the frame.
bool FrameAssembler::Append(std::string_view chunk) {
  // Deep in a large stated content, make room for the rest at once: growing by doubling would
  // copy a large file again at every step. Small frames (and absurd heads that bring no data)
  // never get here; a reply gets no more room than it may have.
  if (state_ == State::kContent && length_ >= kLargeContent && text_.size() >= kLargeContent) {
    // Characters still to come take as many bytes each as those so far, and a little more.
    const std::uint64_t left = std::min(length_, kMostRoom);
    const std::uint64_t bytes_so_far = content_end_ - content_start_;
    const std::uint64_t chars_so_far = std::max<std::uint64_t>(stated_ - length_, 1);
    const auto per_char = static_cast<double>(bytes_so_far) / static_cast<double>(chars_so_far);
    const auto bytes_left =
        static_cast<std::uint64_t>(static_cast<double>(left) * per_char) + left / 64;
    const std::uint64_t room =
        std::min<std::uint64_t>(text_.size() + bytes_left, kMostRoom) + kRoomAfterContent;
    if (room > text_.capacity()) {
      if (spare_.capacity() >= room) {
        spare_.assign(text_);
        text_.swap(spare_);
        std::string().swap(spare_);
      } else {
        std::string().swap(spare_);  // too small: it must not add to the new buffer
        text_.reserve(static_cast<std::size_t>(room));
        platform::AdviseLargeBuffer(text_.data(), text_.capacity());
      }
    }
  }
  text_.append(chunk);
  octets_ += platform::CodePointCount(chunk);
  const char* data = text_.data();
  const std::size_t size = text_.size();
  std::size_t i = scanned_;
  while (i < size) {
    char c = data[i];
    switch (state_) {
      case State::kElementStart:
        if (c == '@') {
          state_ = State::kHeadMark;
          ++i;
        } else {
          state_ = State::kPlain;
        }
        break;
      case State::kPlain: {
        const void* colon = std::memchr(data + i, ':', size - i);
        if (colon == nullptr) {
          i = size;
        } else {
          i = static_cast<std::size_t>(static_cast<const char*>(colon) - data) + 1;
          state_ = State::kElementStart;
        }
        break;
      }
      case State::kHeadMark:
        if (IsDigit(c)) {
          length_ = AddDigit(0, c);
          state_ = State::kHeadDigits;
          ++i;
        } else {
          state_ = State::kPlain;  // not a head: this character belongs to a plain element
        }
        break;
      case State::kHeadDigits:
        if (IsDigit(c)) {
          length_ = AddDigit(length_, c);
          ++i;
        } else if (c == '@') {
          state_ = State::kContent;
          ++i;
          content_end_ = i;
          content_start_ = i;
          stated_ = length_;
          if (stated_ >= kProgressContent) {
            // Counted on from the last head, so that many heads still cost one pass.
            counted_octets_ +=
                platform::CodePointCount(std::string_view(data + counted_, i - counted_));
            counted_ = i;
            expected_ = counted_octets_ + stated_ + kEnd.size();
          }
        } else {
          state_ = State::kPlain;
        }
        break;
      case State::kContent:
      case State::kSeparator: {
        // A code point cut at the end of what has arrived is read once the rest is in.
        const std::size_t whole = platform::WholeCodePointsEnd(std::string_view(data, size));
        if (i >= whole) {
          scanned_ = i;
          return complete_ = false;  // the text cannot end in ":MSGEND" then
        }
        const std::string_view ready(data, whole);
        if (state_ == State::kContent) {
          if (length_ > 0) {
            i = platform::SkipCodePoints(ready, i, length_);
            content_end_ = i;
          } else {
            state_ = State::kSeparator;
          }
        } else {
          // The character after the content ends the element, whatever it is.
          std::uint64_t one = 1;
          i = platform::SkipCodePoints(ready, i, one);
          state_ = State::kElementStart;
        }
        break;
      }
    }
  }
  scanned_ = size;
  complete_ = size >= kEnd.size() && size - kEnd.size() >= content_end_ &&
              std::string_view(text_).ends_with(kEnd);
  return complete_;
}

std::size_t FrameAssembler::ExpectedOctets() const noexcept {
  if (complete_) return octets_;
  if (expected_ == 0) return 0;
  return static_cast<std::size_t>(std::max<std::uint64_t>(expected_, octets_));
}

bool FrameAssembler::IsFileReply() const noexcept {
  const std::string_view text(text_);
  return text.size() >= 15 && text.starts_with("VEXMSG:") && text.substr(8).starts_with(":AIGET:");
}

std::string FrameAssembler::Take() {
  std::string text = std::move(text_);
  Reset();
  return text;
}

void FrameAssembler::Recycle(std::string&& buffer) noexcept {
  const std::size_t room = buffer.capacity();
  if (room < kLargeContent || room > kMostRoom + kRoomAfterContent || room <= spare_.capacity())
    return;
  spare_ = std::move(buffer);
  spare_.clear();
}

void FrameAssembler::Release() noexcept {
  Reset();
  std::string().swap(text_);
  std::string().swap(spare_);
}

void FrameAssembler::Reset() noexcept {
  text_.clear();
  scanned_ = 0;
  octets_ = 0;
  state_ = State::kElementStart;
  length_ = 0;
  content_end_ = 0;
  content_start_ = 0;
  stated_ = 0;
  expected_ = 0;
  counted_ = 0;
  counted_octets_ = 0;
  complete_ = false;
}

}  // namespace vexcomm::transport
