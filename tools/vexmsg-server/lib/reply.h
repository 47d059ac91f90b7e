#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vexmsg {

// A reply frame in Windows-1252, built from UTF-8 fields. Large contents are shared, not
// copied: the frame is a list of pieces that the server writes as they are.
class Reply {
 public:
  struct Piece {
    std::shared_ptr<const std::string> owner;
    std::size_t offset = 0;
    std::size_t size = 0;
    std::string_view view() const { return std::string_view(*owner).substr(offset, size); }
  };

  // Starts "VEXMSG:<version>:<code>".
  Reply(std::string_view code, std::string_view version = "2");
  // Text sent exactly as given (converted to Windows-1252), for frames a test wants broken.
  static Reply Raw(std::string_view text);

  Reply& Field(std::string_view text);
  Reply& Field(std::int64_t number);
  // ":@<octets>@<content>", the content already in Windows-1252 and shared; an empty content
  // is an empty field.
  Reply& LengthPrefixed(std::shared_ptr<const std::string> content);
  // Appends ":MSGEND"; the reply is complete.
  Reply& End();

  // Leaves off the last `count` octets (a frame that never ends).
  void DropLast(std::size_t count);

  const std::vector<Piece>& pieces() const { return pieces_; }
  std::size_t size() const;
  std::string ToString() const;  // a copy, for tests and logs

 private:
  Reply() = default;
  void Flush();

  std::vector<Piece> pieces_;
  std::string pending_;  // text not yet made a piece
};

}  // namespace vexmsg
