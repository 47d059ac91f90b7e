#include "vexmsg-server/lib/reply.h"

#include <vexcomm/text.h>

namespace vexmsg {

Reply::Reply(std::string_view code, std::string_view version) {
  pending_ = "VEXMSG:";
  pending_ += version;
  pending_ += ':';
  pending_ += vexcomm::Utf8ToCp1252(code);
}

Reply Reply::Raw(std::string_view text) {
  Reply reply;
  reply.pending_ = vexcomm::Utf8ToCp1252(text);
  reply.Flush();
  return reply;
}

Reply& Reply::Field(std::string_view text) {
  pending_ += ':';
  pending_ += vexcomm::Utf8ToCp1252(text);
  return *this;
}

Reply& Reply::Field(std::int64_t number) {
  return Field(std::to_string(number));
}

Reply& Reply::LengthPrefixed(std::shared_ptr<const std::string> content) {
  pending_ += ':';
  if (!content || content->empty()) return *this;
  pending_ += '@';
  pending_ += std::to_string(content->size());
  pending_ += '@';
  Flush();
  const std::size_t size = content->size();
  pieces_.push_back({std::move(content), 0, size});
  return *this;
}

Reply& Reply::End() {
  pending_ += ":MSGEND";
  Flush();
  return *this;
}

void Reply::Flush() {
  if (pending_.empty()) return;
  auto text = std::make_shared<const std::string>(std::move(pending_));
  pending_.clear();
  const std::size_t size = text->size();
  pieces_.push_back({std::move(text), 0, size});
}

void Reply::DropLast(std::size_t count) {
  Flush();
  while (count > 0 && !pieces_.empty()) {
    Piece& last = pieces_.back();
    const std::size_t cut = std::min(count, last.size);
    last.size -= cut;
    count -= cut;
    if (last.size == 0) pieces_.pop_back();
  }
}

std::size_t Reply::size() const {
  std::size_t total = pending_.size();
  for (const auto& piece : pieces_) total += piece.size;
  return total;
}

std::string Reply::ToString() const {
  std::string text;
  text.reserve(size());
  for (const auto& piece : pieces_) text += piece.view();
  text += pending_;
  return text;
}

}  // namespace vexmsg
