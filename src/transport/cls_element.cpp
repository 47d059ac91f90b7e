#include "transport/cls_element.h"

#include <limits>

#include "automation/member_table.h"
#include "transport/frame.h"

namespace vexcomm::transport {

namespace {

// One mark per this many elements: a read walks past at most that many.
constexpr std::size_t kStride = 64;
// Elements from this size on that fill half the frame or more (a file's content, a condition
// list) give up the frame's buffer when read.
constexpr std::size_t kOwnBufferFrom = 4096;

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

}  // namespace

const std::vector<automation::Member<clsElement>>& clsElement::Members() {
  using automation::Args;
  static const std::vector<automation::Member<clsElement>> members =
      automation::MemberTable<clsElement>()
          .Add(automation::InvokeKind::PropertyGet, "Item", automation::kDispIdValue, 1,
               [](clsElement& self, Args args) { return self.Item(args[0].ToInt32()); })
          .Get("Count", 0x68030000, [](clsElement& self) { return self.Count(); })
          .Build();
  return members;
}

std::span<const std::string_view> clsElement::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

bool clsElement::Find(std::size_t number, Span& span) const noexcept {
  const std::size_t mark = (number - 1) / kStride;
  std::size_t position = marks_[mark];
  for (std::size_t n = mark * kStride + 1;; ++n) {
    // Past a large element that was cut out at the end, nothing is left.
    if (!NextElement(frame_, position, span.start, span.length)) return false;
    if (n == number) {
      span.next = position;
      return true;
    }
  }
}

std::string clsElement::CutOut(std::size_t number, const Span& span) const {
  // What stays is the frame without the element; a ":" in its place reads as an empty element.
  const bool more = span.next < frame_.size();
  std::string rest;
  rest.reserve(span.start + (more ? 1 + frame_.size() - span.next : 0));
  rest.append(frame_, 0, span.start);
  if (more) rest.append(1, ':').append(frame_, span.next);
  const std::size_t removed = span.next - span.start - (more ? 1 : 0);
  for (std::size_t m = (number - 1) / kStride + 1; m < marks_.size(); ++m) marks_[m] -= removed;
  std::string element = std::move(frame_);
  element.resize(span.start + span.length);
  element.erase(0, span.start);
  frame_ = std::move(rest);
  return element;
}

const std::string& clsElement::Item(int32_t index) const {
  if (index < 1) return EmptyText();
  const auto number = static_cast<std::size_t>(index);
  if (number > frame_count_) {
    const std::size_t added = number - frame_count_ - 1;
    return added < added_.size() ? added_[added] : EmptyText();
  }
  return FrameElement(number);
}

std::string& clsElement::FrameElement(std::size_t number) const {
  if (auto it = read_.find(number); it != read_.end()) return it->second;
  Span span{};
  std::string text;
  if (Find(number, span)) {
    if (span.length >= kOwnBufferFrom && 2 * span.length >= frame_.size()) {
      text = CutOut(number, span);
    } else {
      text.assign(frame_, span.start, span.length);
    }
  }
  return read_.emplace(number, std::move(text)).first->second;
}

int32_t clsElement::Count() const noexcept {
  const std::size_t count = frame_count_ + added_.size();
  return static_cast<int32_t>(std::min<std::size_t>(count, std::numeric_limits<int32_t>::max()));
}

std::string clsElement::Take(int32_t index) {
  if (index < 1 || index > Count()) return {};
  const auto number = static_cast<std::size_t>(index);
  std::string& element =
      number > frame_count_ ? added_[number - frame_count_ - 1] : FrameElement(number);
  std::string taken = std::move(element);
  element.clear();
  return taken;
}

void clsElement::Add(std::string text) {
  added_.push_back(std::move(text));
}

void clsElement::AssignFrame(std::string&& frame) {
  Clear();
  frame_ = std::move(frame);
  std::size_t position = 0;
  std::size_t start = 0;
  std::size_t length = 0;
  while (NextElement(frame_, position, start, length)) {
    if (frame_count_ % kStride == 0) marks_.push_back(start);
    ++frame_count_;
  }
}

void clsElement::Clear() noexcept {
  // The memory goes too: a frame may have been large.
  std::string().swap(frame_);
  std::vector<std::size_t>().swap(marks_);
  frame_count_ = 0;
  added_.clear();
  read_.clear();
}

}  // namespace vexcomm::transport
