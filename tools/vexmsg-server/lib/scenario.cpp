#include "vexmsg-server/lib/scenario.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <vexcomm/text.h>

namespace vexmsg {
namespace {

using json = nlohmann::json;

[[noreturn]] void Malformed(const std::string& where, const std::string& what) {
  throw std::runtime_error("scenario: " + where + ": " + what);
}

std::string Text(const json& object, const char* key, const std::string& where,
                 std::string fallback = {}) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_integer()) return std::to_string(it->get<std::int64_t>());
  Malformed(where + "." + key, "text or whole number expected");
}

std::int64_t Number(const json& object, const char* key, const std::string& where,
                    std::int64_t fallback) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_number_integer()) Malformed(where + "." + key, "whole number expected");
  return it->get<std::int64_t>();
}

std::int32_t Int32(const json& object, const char* key, const std::string& where,
                   std::int32_t fallback) {
  const std::int64_t n = Number(object, key, where, fallback);
  if (n < INT32_MIN || n > INT32_MAX) Malformed(where + "." + key, "out of the 32-bit range");
  return static_cast<std::int32_t>(n);
}

std::string ReadFile(const std::filesystem::path& file, const std::string& where) {
  std::ifstream in(file, std::ios::binary);
  if (!in) Malformed(where, "cannot read " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  return std::move(text).str();
}

// The content is converted once, here; every delivery shares it.
std::shared_ptr<const std::string> Content(const json& file, const std::string& where,
                                           const std::filesystem::path& base_dir) {
  std::string utf8;
  int sources = 0;
  if (auto it = file.find("content"); it != file.end()) {
    if (!it->is_string()) Malformed(where + ".content", "text expected");
    utf8 = it->get<std::string>();
    ++sources;
  }
  if (auto it = file.find("content_file"); it != file.end()) {
    if (!it->is_string()) Malformed(where + ".content_file", "path expected");
    std::filesystem::path path = it->get<std::string>();
    if (path.is_relative()) path = base_dir / path;
    // A file that is not UTF-8 text (a PDF, an image) goes out octet for octet.
    utf8 = vexcomm::TextAsUtf8(ReadFile(path, where + ".content_file"));
    ++sources;
  }
  if (auto it = file.find("content_repeat"); it != file.end()) {
    if (!it->is_object()) Malformed(where + ".content_repeat", "object expected");
    const std::string unit = Text(*it, "text", where + ".content_repeat");
    const std::int64_t count = Number(*it, "count", where + ".content_repeat", 0);
    if (unit.empty() || count < 0) Malformed(where + ".content_repeat", "text and count needed");
    std::string wire = vexcomm::Utf8ToCp1252(unit);
    std::string repeated;
    repeated.reserve(wire.size() * static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) repeated += wire;
    if (sources > 0) Malformed(where, "only one of content, content_file, content_repeat");
    return std::make_shared<const std::string>(std::move(repeated));
  }
  if (sources > 1) Malformed(where, "only one of content, content_file, content_repeat");
  return std::make_shared<const std::string>(vexcomm::Utf8ToCp1252(utf8));
}

ServerFile ParseFile(const json& file, const std::string& where,
                     const std::filesystem::path& base_dir) {
  if (!file.is_object()) Malformed(where, "object expected");
  if (!file.contains("nr")) Malformed(where, "nr missing");
  ServerFile f;
  f.nr = Int32(file, "nr", where, 0);
  f.name = Text(file, "name", where);
  f.typ = Text(file, "typ", where);
  f.von = Text(file, "von", where);
  f.bis = Text(file, "bis", where);
  f.dauer = Text(file, "dauer", where, "0");
  f.wichtigkeit = Text(file, "wichtigkeit", where, "0");
  f.titel = Text(file, "titel", where);
  f.url = Text(file, "url", where);
  f.ref = Int32(file, "ref", where, 0);
  // Only the content travels length-prefixed: a ":" elsewhere would shift every later element
  // of the reply, and the client would lose the file.
  const std::pair<const char*, const std::string*> plain[] = {
      {"name", &f.name},   {"typ", &f.typ},     {"von", &f.von},
      {"bis", &f.bis},     {"dauer", &f.dauer}, {"wichtigkeit", &f.wichtigkeit},
      {"titel", &f.titel}, {"url", &f.url}};
  for (const auto& [key, value] : plain) {
    if (value->find(':') != std::string::npos) {
      Malformed(where + "." + key,
                "file nr " + std::to_string(f.nr) +
                    ": \":\" is the separator of the reply and cannot stand here");
    }
  }
  f.content = Content(file, where, base_dir);
  return f;
}

CloseMode ParseClose(const json& value, const std::string& where) {
  if (value.is_boolean()) return value.get<bool>() ? CloseMode::Clean : CloseMode::None;
  if (value == "clean") return CloseMode::Clean;
  if (value == "abort") return CloseMode::Abort;
  if (value == "reset") return CloseMode::Reset;
  Malformed(where, "\"clean\", \"abort\" or \"reset\" expected");
}

Rule ParseRule(const json& rule, const std::string& where) {
  if (!rule.is_object()) Malformed(where, "object expected");
  Rule r;
  r.code = Text(rule, "code", where, "*");
  r.nth = Int32(rule, "nth", where, 0);
  int actions = 0;
  auto number_and_text = [&](const char* key) {
    const json& value = rule.at(key);
    if (!value.is_object()) Malformed(where + "." + key, "object with number and text expected");
    r.number = Text(value, "number", where + "." + key);
    r.text = Text(value, "text", where + "." + key);
  };
  if (rule.contains("error")) {
    r.action = Rule::Action::Error;
    number_and_text("error");
    ++actions;
  }
  if (rule.contains("notice")) {
    r.action = Rule::Action::Notice;
    number_and_text("notice");
    ++actions;
  }
  if (rule.contains("raw")) {
    r.action = Rule::Action::Raw;
    r.text = Text(rule, "raw", where);
    ++actions;
  }
  if (rule.value("silent", false)) {
    r.action = Rule::Action::Silent;
    ++actions;
  }
  if (rule.contains("close")) {
    r.action = Rule::Action::Close;
    r.close = ParseClose(rule.at("close"), where + ".close");
    ++actions;
  }
  if (actions > 1) Malformed(where, "more than one of error, notice, raw, silent, close");
  if (rule.contains("close_after_reply")) {
    if (r.action == Rule::Action::Close) Malformed(where, "close and close_after_reply");
    r.close = ParseClose(rule.at("close_after_reply"), where + ".close_after_reply");
  }
  r.chunk_size =
      static_cast<std::size_t>(std::max<std::int64_t>(0, Number(rule, "chunk_size", where, 0)));
  r.delay = std::chrono::milliseconds(Number(rule, "delay_ms", where, -1));
  r.chunk_delay = std::chrono::milliseconds(Number(rule, "chunk_delay_ms", where, 0));
  r.unterminated = rule.value("unterminated", false);
  return r;
}

const json& NullJson() {
  static const json null_value;
  return null_value;
}

}  // namespace

const Installation* Scenario::FindInstallation(std::string_view blz,
                                               std::string_view kundennr) const {
  for (const auto& inst : installations) {
    if (inst.blz == blz && inst.kundennr == kundennr) return &inst;
  }
  return nullptr;
}

const json& Scenario::Section(std::string_view name) const {
  if (!document || !document->is_object()) return NullJson();
  auto it = document->find(name);
  return it == document->end() ? NullJson() : *it;
}

Scenario Scenario::FromJson(const json& document, const std::filesystem::path& base_dir) {
  if (!document.is_object()) Malformed("top level", "object expected");
  Scenario s;
  s.version = Text(document, "version", "top level", "2");
  s.chunk_size = static_cast<std::size_t>(
      std::max<std::int64_t>(0, Number(document, "chunk_size", "top level", 0)));
  s.delay = std::chrono::milliseconds(Number(document, "delay_ms", "top level", 0));

  if (auto it = document.find("installations"); it != document.end()) {
    if (!it->is_array()) Malformed("installations", "array expected");
    for (std::size_t i = 0; i < it->size(); ++i) {
      const json& entry = (*it)[i];
      const std::string where = "installations[" + std::to_string(i) + "]";
      if (!entry.is_object()) Malformed(where, "object expected");
      Installation inst;
      inst.blz = Text(entry, "blz", where);
      inst.kundennr = Text(entry, "kundennr", where);
      if (auto files = entry.find("files"); files != entry.end()) {
        if (!files->is_array()) Malformed(where + ".files", "array expected");
        for (std::size_t k = 0; k < files->size(); ++k) {
          inst.files.push_back(
              ParseFile((*files)[k], where + ".files[" + std::to_string(k) + "]", base_dir));
        }
      }
      std::stable_sort(inst.files.begin(), inst.files.end(),
                       [](const ServerFile& a, const ServerFile& b) { return a.nr < b.nr; });
      s.installations.push_back(std::move(inst));
    }
  }
  if (auto it = document.find("rules"); it != document.end()) {
    if (!it->is_array()) Malformed("rules", "array expected");
    for (std::size_t i = 0; i < it->size(); ++i) {
      s.rules.push_back(ParseRule((*it)[i], "rules[" + std::to_string(i) + "]"));
    }
  }
  s.document = std::make_shared<const json>(document);
  return s;
}

Scenario Scenario::Parse(std::string_view json_text, const std::filesystem::path& base_dir) {
  json document;
  try {
    document = json::parse(json_text);
  } catch (const json::exception& e) {
    Malformed("JSON", e.what());
  }
  return FromJson(document, base_dir);
}

Scenario Scenario::Load(const std::filesystem::path& file) {
  return Parse(ReadFile(file, file.string()), file.parent_path());
}

}  // namespace vexmsg
