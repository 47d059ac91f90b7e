#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace vexcomm::transport {

class clsElement;

// "VEXMSG:2:" + code, then ":" + each field, then ":MSGEND".
std::string BuildRequest(std::string_view code, std::span<const std::string> fields);
std::string BuildRequest(std::string_view code, std::initializer_list<std::string_view> fields);

// "" for empty text, else "@" + character count + "@" + text.
std::string LengthPrefixed(std::string_view text);

// The element reader: from `start` (a byte offset), finds the next element. Returns false when
// none is left. An element opening with "@", digits and "@" runs through its stated content,
// ":" included; otherwise it runs to the next ":" or the end. Never reads past the text.
bool akNextElement(std::string_view text, std::size_t& start, std::size_t& length) noexcept;

// The element at `position` as SplitElements finds it: false when none is left, else its start
// and length, and `position` moved on to the element after it.
bool NextElement(std::string_view text, std::size_t& position, std::size_t& start,
                 std::size_t& length) noexcept;

// Cuts a frame into elements and appends them to the list, emptying it first when asked.
void SplitElements(std::string_view text, clsElement& list, bool clear_first);

// SplitElements into an emptied list for a received frame. When the frame is a valid reply
// (see IsValidReply) the list takes over the text's buffer, leaving `text` empty; otherwise the
// text stays as it was, for reporting.
bool SplitValidReply(std::string& text, clsElement& list);

// Element 1 + ":" + element 2 + ":" is "VEXMSG:2:" or "VEXMSG:3:".
bool IsValidReply(const clsElement& list);

// Offset of the content of a length-prefixed element (just after its second "@"), found by its
// marks whatever the number of length digits; npos when the element has no such marks.
std::size_t LengthPrefixedContentOffset(std::string_view element) noexcept;

// Offset of a delivered file's content: just after the first "@" from the element's second
// character when that stands at character 2 to 9; beyond, after the marks of a long length
// prefix. npos when the element has neither: the file carries no content.
std::size_t FileContentOffset(std::string_view element) noexcept;

// Collects received text into whole frames. A frame is complete when it ends in ":MSGEND"
// outside any length-prefixed content as the element reader reads it. Linear over the whole
// reception: each appended character is examined once.
class FrameAssembler {
 public:
  // Appends a chunk; returns true when the collected text is now a complete frame.
  bool Append(std::string_view chunk);
  bool complete() const noexcept { return complete_; }
  const std::string& text() const noexcept { return text_; }
  std::string Take();  // hands the text over and starts afresh
  void Reset() noexcept;
  // A large buffer its owner is done with (a file's content once the host has seen it): the
  // next large content is received into it, its memory already mapped, not into fresh memory.
  void Recycle(std::string&& buffer) noexcept;
  void Release() noexcept;  // Reset, and gives back every buffer
  std::size_t size() const noexcept { return text_.size(); }
  // Octets as they came off the wire: one per character, whatever its UTF-8 length here.
  std::size_t octets() const noexcept { return octets_; }
  // The size in octets the frame will have as far as its heads tell: after a large stated
  // content, the octets up to it, the content and ":MSGEND"; 0 while nothing says. Never below
  // octets(), and equal to it once the frame is complete.
  std::size_t ExpectedOctets() const noexcept;
  // The head received so far names a file reply ("VEXMSG:" version ":AIGET:").
  bool IsFileReply() const noexcept;

 private:
  // Where the scanner stands in the element being read, as the element reader sees it.
  enum class State : std::uint8_t {
    kElementStart,
    kPlain,       // up to the next ":"
    kHeadMark,    // "@" seen: a head if digits and "@" follow
    kHeadDigits,  // the stated length
    kContent,     // length_ code points still to come
    kSeparator,   // the one character after a content
  };

  std::string text_;
  std::string spare_;        // a recycled buffer, empty
  std::size_t scanned_ = 0;  // bytes of text_ already read
  std::size_t octets_ = 0;
  State state_ = State::kElementStart;
  std::uint64_t length_ = 0;       // saturating
  std::size_t content_end_ = 0;    // end of the last content byte read: ":MSGEND" counts after it
  std::size_t content_start_ = 0;  // of the content being read
  std::uint64_t stated_ = 0;       // its stated length
  std::uint64_t expected_ = 0;     // see ExpectedOctets
  std::size_t counted_ = 0;        // bytes of text_ whose code points are in counted_octets_
  std::uint64_t counted_octets_ = 0;
  bool complete_ = false;
};

}  // namespace vexcomm::transport
