#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <vexcomm/dispatch.h>

namespace vexcomm::transport {

// The elements of the most recent reply, numbered from 1. Reading a number that is not there
// gives empty text, never an error. A frame's elements stay in the frame's text and are found
// there again when read, so the list costs a small constant per octet however many elements
// the frame holds.
class clsElement : public automation::DispatchObject<clsElement> {
 public:
  static constexpr std::string_view kTypeName = "clsElement";
  static constexpr std::string_view kIid = "{556FEF53-A4C2-4734-ABA7-1081DB219055}";
  static constexpr std::string_view kClsid = "{C929C394-6C9E-4F4C-9902-26074C02BDCD}";
  static const std::vector<automation::Member<clsElement>>& Members();
  static std::span<const std::string_view> InterfaceIds();

  // Empty text outside 1..Count. The text stays valid until Clear or the next frame.
  const std::string& Item(int32_t index) const;
  int32_t Count() const noexcept;

  // Internal: not on the late-bound surface.
  void Add(std::string text);
  void Clear() noexcept;
  // Replaces the content with the elements of `frame`, cut as SplitElements cuts them.
  void AssignFrame(std::string&& frame);
  // Moves an element out (it reads as empty text afterwards): a file's content is handed on
  // without a copy. Empty text outside 1..Count.
  std::string Take(int32_t index);

 private:
  struct Span {
    std::size_t start;
    std::size_t length;
    std::size_t next;  // where the element after it starts
  };
  // Element `number` of the frame as a string of its own, made on its first read.
  std::string& FrameElement(std::size_t number) const;
  bool Find(std::size_t number, Span& span) const noexcept;
  std::string CutOut(std::size_t number, const Span& span) const;

  // Reading a large element moves it out of the frame's buffer instead of copying it, so a
  // const read may change these.
  mutable std::string frame_;
  mutable std::vector<std::size_t> marks_;  // where elements 1, 1 + kStride, … start in frame_
  std::size_t frame_count_ = 0;
  std::vector<std::string> added_;  // elements added one by one, after the frame's
  mutable std::unordered_map<std::size_t, std::string> read_;  // frame elements read, by number
};

}  // namespace vexcomm::transport
