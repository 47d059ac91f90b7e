// trace show FILE: a trace written by --trace, for a person.
#include <cstdio>
#include <fstream>
#include <string>

#include <vexcomm/trace.h>

#include "commands/commands.h"
#include "messages.h"

namespace vexcomm::cli {

namespace {

constexpr std::size_t kShownElement = 60;  // characters of an element before it is shortened
// Further lines of a record start under its first line's details.
const std::string kMore = "\n" + std::string(21, ' ');

// A long element as its start and how much was left out; the rest stays whole.
std::string ShortenElements(const std::string& frame) {
  std::string shown;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = frame.find(':', start);
    const std::string_view element =
        std::string_view(frame).substr(start, colon == std::string::npos ? colon : colon - start);
    std::size_t cut = 0;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < element.size(); ++i) {
      if ((static_cast<unsigned char>(element[i]) & 0xC0) == 0x80) continue;
      if (++characters == kShownElement + 1) cut = i;
    }
    if (cut == 0) {
      shown.append(element);
    } else {
      shown.append(element.substr(0, cut));
      shown += Fill(Tr("…(%1 chars)"), {std::to_string(characters)});
    }
    if (colon == std::string::npos) break;
    shown += ':';
    start = colon + 1;
  }
  return EscapeControls(shown);
}

std::string Text(const Json& record, const char* key) {
  const auto it = record.find(key);
  return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string Describe(const Json& r) {
  const std::string type = Text(r, "type");
  if (type == "connect") {
    std::string line = "connect  " + Text(r, "host") + ":" + Text(r, "port");
    if (!Text(r, "proxy").empty()) line += " " + Fill(Tr("via proxy %1"), {Text(r, "proxy")});
    if (!Text(r, "connect_to").empty()) line += " " + Fill(Tr("at %1"), {Text(r, "connect_to")});
    return line;
  }
  if (type == "tls") {
    std::string line = "tls      " + Text(r, "protocol") + " " + Text(r, "cipher");
    line += kMore + "subject " + Text(r, "subject") + kMore + "issuer  " + Text(r, "issuer");
    line += kMore + Fill(Tr("valid   %1 to %2"), {Text(r, "not_before"), Text(r, "not_after")});
    line += kMore + "sha256  " + Text(r, "sha256");
    if (!Text(r, "pin_sha256").empty()) line += kMore + "pin     " + Text(r, "pin_sha256");
    line += kMore;
    line += Text(r, "verified") == "true" ? Tr("verified")
                                          : Fill(Tr("NOT verified: %1"), {Text(r, "verify_error")});
    line += Text(r, "accepted") == "true" ? Tr(", accepted") : Tr(", refused");
    return line;
  }
  if (type == "sent" || type == "received") {
    std::string line =
        (type == "sent" ? "->       " : "<-       ") + ShortenElements(Text(r, "frame"));
    for (const auto& m : r.value("masks", Json::array())) {
      if (m.value("kind", "") != "file") continue;
      line +=
          kMore + Fill(Tr("element %1: %2 chars, sha256 %3, from \"%4\" to \"%5\""),
                       {std::to_string(m.value("element", 0)), std::to_string(m.value("length", 0)),
                        m.value("sha256", ""), EscapeControls(m.value("first", "")),
                        EscapeControls(m.value("last", ""))});
    }
    return line;
  }
  if (type == "end") {
    return "end      Modus " + Text(r, "modus") + ", " + Text(r, "how") + " (Fehler.Code " +
           Text(r, "code") + ")" + (Text(r, "text").empty() ? "" : ": " + Text(r, "text"));
  }
  return Fill(Tr("%1 (unknown record)"), {type});
}

}  // namespace

int TraceShow(const CommandLine& line, Output& output) {
  const std::string& file = line.arguments.at(0);
  std::ifstream in(file, std::ios::binary);
  if (!in) throw UsageError(Fill(Tr("trace show: cannot read %1"), {file}));
  std::string text;
  long long start = 0;
  std::size_t records = 0;
  for (int number = 1; std::getline(in, text); ++number) {
    if (text.empty()) continue;
    const Json record = Json::parse(text, nullptr, false);
    if (record.is_discarded() || !record.is_object()) {
      throw UsageError(Fill(Tr("%1:%2: not a trace record"), {file, std::to_string(number)}));
    }
    if (number == 1) {
      if (Text(record, "schema") != kTraceSchema) {
        throw UsageError(Fill(Tr("%1: not a trace (schema %2)"), {file, kTraceSchema}));
      }
      if (record.value("masked", true) == false) output.Result(Tr("(unmasked trace)"));
      start = record.value("t_us", 0LL);
    }
    ++records;
    if (output.json()) {
      output.Emit(record);
      continue;
    }
    const double seconds = static_cast<double>(record.value("t_us", 0LL) - start) / 1e6;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "+%8.3fs  ", seconds);
    output.Result(stamp + Describe(record));
  }
  if (records == 0) throw UsageError(Fill(Tr("%1: empty, not a trace"), {file}));
  if (output.json()) output.EmitResult(Json{{"trace", Json{{"file", file}, {"records", records}}}});
  return kExitOk;
}

}  // namespace vexcomm::cli
