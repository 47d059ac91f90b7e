#include "vexmsg-server/lib/request_reader.h"

#include <algorithm>
#include <limits>
#include <utility>

#include <vexcomm/text.h>

namespace vexmsg {
namespace {

constexpr std::string_view kTag = "VEXMSG";
constexpr std::string_view kEnd = "MSGEND";
// Absurd stated lengths saturate; the content then runs to the end of the text.
constexpr std::uint64_t kLengthCap = std::numeric_limits<std::uint64_t>::max() / 16;

std::uint64_t AddDigit(std::uint64_t length, char digit) {
  if (length >= kLengthCap) return kLengthCap;
  return length * 10 + static_cast<unsigned>(digit - '0');
}

// The stated length of the length-prefixed element at the start of `rest` and where its
// content begins; nullopt when it is not one.
std::optional<std::pair<std::uint64_t, std::size_t>> PrefixHead(std::string_view rest) {
  if (rest.empty() || rest[0] != '@') return std::nullopt;
  std::size_t i = 1;
  std::uint64_t length = 0;
  while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') length = AddDigit(length, rest[i++]);
  if (i == 1 || i >= rest.size() || rest[i] != '@') return std::nullopt;
  return std::pair{length, i + 1};
}

}  // namespace

std::vector<std::string_view> SplitElements(std::string_view frame, std::string* fault) {
  std::vector<std::string_view> elements;
  std::size_t pos = 0;
  while (pos <= frame.size()) {
    std::string_view rest = frame.substr(pos);
    std::size_t size = std::min(rest.find(':'), rest.size());
    if (const auto head = PrefixHead(rest)) {
      const auto [length, content] = *head;
      size = static_cast<std::size_t>(std::min<std::uint64_t>(content + length, rest.size()));
      if (fault && fault->empty() && (size == rest.size() || rest[size] != ':')) {
        *fault = "element " + std::to_string(elements.size() + 1) + " states " +
                 std::to_string(length) + " characters; " +
                 (size == rest.size()
                      ? "the frame ends after " + std::to_string(size - content)
                      : "after them stands \"" + std::string(1, rest[size]) + "\", not \":\"");
      }
    }
    elements.push_back(rest.substr(0, size));
    pos += size + 1;
  }
  return elements;
}

RequestFrame ParseRequest(std::string wire) {
  RequestFrame frame;
  frame.text = vexcomm::Cp1252ToUtf8(wire);
  const auto elements = SplitElements(wire, &frame.fault);
  if (elements.size() >= 3) frame.code = std::string(elements[2]);
  for (std::size_t i = 3; i + 1 < elements.size(); ++i) {
    frame.fields.push_back(vexcomm::Cp1252ToUtf8(elements[i]));
  }
  frame.wire = std::move(wire);
  return frame;
}

void RequestReader::Restart(std::size_t at) {
  buffer_.erase(0, at);
  pos_ = 0;
  element_start_ = 0;
  element_count_ = 0;
  state_ = State::ElementStart;
}

std::string RequestReader::Discard() {
  // Up to where a frame may start again, so a good request right behind the junk survives.
  const std::size_t next = std::min(buffer_.find(kTag, 1), buffer_.size());
  std::string junk = buffer_.substr(0, next);
  Restart(next);
  bad_ = false;
  return junk;
}

std::string RequestReader::TakeRest() {
  std::string rest = std::move(buffer_);
  buffer_.clear();
  Restart(0);
  bad_ = false;
  return rest;
}

std::optional<std::string> RequestReader::Next() {
  while (!bad_ && pos_ < buffer_.size()) {
    const char c = buffer_[pos_];
    switch (state_) {
      case State::ElementStart:
        element_start_ = pos_;
        if (c == '@' && element_count_ >= 3) {
          state_ = State::PrefixDigits;
          length_ = 0;
          digits_ = false;
          ++pos_;
          continue;
        }
        state_ = State::Plain;
        continue;  // examine c as plain text
      case State::PrefixDigits:
        if (c >= '0' && c <= '9') {
          length_ = AddDigit(length_, c);
          digits_ = true;
          ++pos_;
          continue;
        }
        if (c == '@' && digits_) {
          ++pos_;
          content_end_ = static_cast<std::size_t>(
              std::min<std::uint64_t>(pos_ + length_, std::numeric_limits<std::size_t>::max()));
          state_ = State::Content;
          continue;
        }
        state_ = State::Plain;
        continue;
      case State::Content:
        // The content is skipped, not scanned: it may hold ":" and even ":MSGEND".
        pos_ = std::min(content_end_, buffer_.size());
        if (pos_ == content_end_) state_ = State::AfterContent;
        continue;
      case State::AfterContent:
        // The octet after the content ends the element, also when it is no ":" (a wrong length,
        // which ParseRequest reports).
        ++element_count_;
        ++pos_;
        state_ = State::ElementStart;
        continue;
      case State::Plain: {
        if (c == ':') {
          ++element_count_;
          ++pos_;
          state_ = State::ElementStart;
          if (element_count_ == 1 &&
              std::string_view(buffer_).substr(element_start_, pos_ - 1 - element_start_) != kTag) {
            bad_ = true;
          }
          continue;
        }
        ++pos_;
        const std::string_view element =
            std::string_view(buffer_).substr(element_start_, pos_ - element_start_);
        if (element_count_ == 0 && !kTag.starts_with(element)) {
          bad_ = true;
          continue;
        }
        if (element_count_ >= 3 && element == kEnd) {
          std::string frame = buffer_.substr(0, pos_);
          Restart(pos_);
          return frame;
        }
        continue;
      }
    }
  }
  return std::nullopt;
}

}  // namespace vexmsg
