#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace vexmsg {

// One entry of an installation's numbered series: a file, or a deletion notice (typ "DELETE",
// ref the withdrawn file's number). Texts are UTF-8; the content is already Windows-1252.
struct ServerFile {
  std::int32_t nr = 0;
  std::string name;
  std::string typ;
  std::string von;
  std::string bis;
  std::string dauer = "0";
  std::string wichtigkeit = "0";
  std::string titel;
  std::string url;
  std::shared_ptr<const std::string> content;
  std::int32_t ref = 0;
};

struct Installation {
  std::string blz;
  std::string kundennr;
  std::vector<ServerFile> files;  // ascending by nr
};

// How a connection ends when a rule closes it.
enum class CloseMode {
  None,
  Clean,  // TLS close_notify, then the TCP connection ends
  Abort,  // the TCP connection ends without close_notify
  Reset,  // the TCP connection is reset (RST)
};

// A reaction on demand, matched against each request in turn; the first rule that matches wins.
struct Rule {
  enum class Action {
    Reply,   // the normal reply of the request's handler
    Error,   // AIERR with number and text
    Notice,  // AIRMG with number and text
    Raw,     // `text` sent as it is
    Silent,  // no reply at all
    Close,   // the connection ends instead of a reply (see `close`)
  };
  std::string code = "*";  // request code, "*" for any
  int nth = 0;             // the n-th request of that code on the connection; 0 for every one
  Action action = Action::Reply;
  std::string number;
  std::string text;
  std::size_t chunk_size = 0;                // 0: the scenario's
  std::chrono::milliseconds delay{-1};       // negative: the scenario's
  std::chrono::milliseconds chunk_delay{0};  // a pause between the pieces of the reply
  bool unterminated = false;                 // the reply without its final "MSGEND"
  CloseMode close = CloseMode::None;         // after the reply, or instead of it for Action::Close
};

// What the server answers. Built from JSON (see README.md); immutable while a server uses it.
struct Scenario {
  std::string version = "2";  // of every reply frame
  std::vector<Installation> installations;
  std::size_t chunk_size = 0;          // replies cut into pieces of this many octets; 0: whole
  std::chrono::milliseconds delay{0};  // before every reply
  std::vector<Rule> rules;
  // The whole document, for the sections that the handlers of further request codes read.
  std::shared_ptr<const nlohmann::json> document;

  const Installation* FindInstallation(std::string_view blz, std::string_view kundennr) const;
  // The section of that name, or a null value.
  const nlohmann::json& Section(std::string_view name) const;

  // Throws std::runtime_error with the offending place on a malformed scenario. Relative
  // content files are found from `base_dir`.
  static Scenario FromJson(const nlohmann::json& document, const std::filesystem::path& base_dir);
  static Scenario Parse(std::string_view json_text,
                        const std::filesystem::path& base_dir = std::filesystem::path());
  static Scenario Load(const std::filesystem::path& file);
};

}  // namespace vexmsg
