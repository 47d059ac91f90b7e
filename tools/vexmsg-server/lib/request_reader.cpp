#include "vexmsg-server/lib/request_reader.h"

#include "platform/cp1252.h"

namespace vexmsg {
namespace {

constexpr std::string_view kTag = "VEXMSG";
constexpr std::string_view kEnd = "MSGEND";
constexpr std::size_t kMaxLengthDigits = 9;

// The length of the length-prefixed element at the start of `rest`, or npos when it is not one.
std::size_t PrefixedLength(std::string_view rest) {
  if (rest.size() < 3 || rest[0] != '@') return std::string_view::npos;
  std::size_t i = 1;
  std::uint64_t length = 0;
  while (i < rest.size() && i <= kMaxLengthDigits && rest[i] >= '0' && rest[i] <= '9') {
    length = length * 10 + static_cast<unsigned>(rest[i] - '0');
    ++i;
  }
  if (i == 1 || i >= rest.size() || rest[i] != '@') return std::string_view::npos;
  return std::min<std::uint64_t>(i + 1 + length, rest.size());
}

}  // namespace

std::vector<std::string_view> SplitElements(std::string_view frame) {
  std::vector<std::string_view> elements;
  std::size_t pos = 0;
  while (pos <= frame.size()) {
    std::string_view rest = frame.substr(pos);
    std::size_t size = PrefixedLength(rest);
    if (size == std::string_view::npos || (size < rest.size() && rest[size] != ':')) {
      size = std::min(rest.find(':'), rest.size());
    }
    elements.push_back(rest.substr(0, size));
    pos += size + 1;
  }
  return elements;
}

RequestFrame ParseRequest(std::string wire) {
  RequestFrame frame;
  frame.text = vexcomm::platform::Cp1252ToUtf8(wire);
  const auto elements = SplitElements(wire);
  if (elements.size() >= 3) frame.code = std::string(elements[2]);
  for (std::size_t i = 3; i + 1 < elements.size(); ++i) {
    frame.fields.push_back(vexcomm::platform::Cp1252ToUtf8(elements[i]));
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

std::optional<std::string> RequestReader::Next() {
  while (!bad_ && pos_ < buffer_.size()) {
    const char c = buffer_[pos_];
    switch (state_) {
      case State::ElementStart:
        element_start_ = pos_;
        if (c == '@' && element_count_ >= 3) {
          state_ = State::PrefixDigits;
          length_ = 0;
          digits_ = 0;
          ++pos_;
          continue;
        }
        state_ = State::Plain;
        continue;  // examine c as plain text
      case State::PrefixDigits:
        if (c >= '0' && c <= '9' && digits_ < kMaxLengthDigits) {
          length_ = length_ * 10 + static_cast<unsigned>(c - '0');
          ++digits_;
          ++pos_;
          continue;
        }
        if (c == '@' && digits_ > 0) {
          ++pos_;
          content_end_ = pos_ + length_;
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
        if (c == ':') {
          ++element_count_;
          ++pos_;
          state_ = State::ElementStart;
          continue;
        }
        state_ = State::Plain;
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
