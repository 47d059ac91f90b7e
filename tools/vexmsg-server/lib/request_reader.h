#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexmsg {

// The elements of a frame, read as the component reads them: runs of text between ":", except
// that an element opening with "@", digits and "@" runs through the stated number of content
// octets, ":" included (clipped to the end of the text), and the one octet after it ends the
// element whatever it is. When that octet is not ":" (or the content runs past the end) the
// stated length was wrong; `fault`, when given, then tells which element.
std::vector<std::string_view> SplitElements(std::string_view frame, std::string* fault = nullptr);

// One request as it arrived.
struct RequestFrame {
  std::string wire;                 // the exact octets (Windows-1252)
  std::string text;                 // the same as UTF-8
  std::string code;                 // element 3
  std::vector<std::string> fields;  // elements 4 up to the one before "MSGEND", as UTF-8
  std::string fault;                // the client's fault in the frame (a wrong length), or ""
};
RequestFrame ParseRequest(std::string wire);

// Cuts the byte stream of a connection into request frames. A frame ends with an element
// "MSGEND" outside any length-prefixed content, so a support log that contains ":MSGEND" does
// not end its request early. Each byte is examined once.
class RequestReader {
 public:
  void Append(std::string_view bytes) { buffer_.append(bytes); }
  // The next complete frame's octets, consumed from the stream.
  std::optional<std::string> Next();
  // The stream does not start like a frame ("VEXMSG:"). Discard() takes the text off up to
  // the next "VEXMSG" and returns it.
  bool bad() const noexcept { return bad_; }
  std::string Discard();
  // What has arrived of a frame that is not finished, consumed.
  std::string TakeRest();

 private:
  enum class State { ElementStart, Plain, PrefixDigits, Content, AfterContent };
  void Restart(std::size_t at);

  std::string buffer_;
  std::size_t pos_ = 0;            // next byte to examine
  std::size_t element_start_ = 0;  // where the current element began
  std::size_t element_count_ = 0;
  State state_ = State::ElementStart;
  std::uint64_t length_ = 0;
  bool digits_ = false;
  std::size_t content_end_ = 0;
  bool bad_ = false;
};

}  // namespace vexmsg
