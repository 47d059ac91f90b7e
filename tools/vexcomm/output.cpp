#include "output.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>

#include <vexcomm/text.h>
#include <vexcomm/vexcomm.h>

#include "exit_codes.h"
#include "messages.h"
#include "text_table.h"

namespace vexcomm::cli {
namespace {

int TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
  return 80;
}

// The component writes the percentage in the locale's number form: "33,3333" or "33.3333".
double ParsePercent(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return std::clamp(value, 0.0, 100.0);
}

// The log lines whose last occurrence the program shows after a run (how the run ended is the
// outcome's to say, never a log line's).
constexpr std::string_view kKeptPrefixes[] = {"Meldung:", "WP-Datum:", "Keine gültige Nachricht:"};

std::string_view KeptPrefix(std::string_view line) {
  for (std::string_view prefix : kKeptPrefixes) {
    if (line.starts_with(prefix)) return prefix;
  }
  return {};
}

// 1536 -> "1.5 kB", as curl counts: powers of 1024.
std::string FormatBytes(std::size_t bytes) {
  static constexpr const char* kUnits[] = {"B", "kB", "MB", "GB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string WithoutFinalBlank(const std::string& line) {
  if (!line.empty() && line.back() == ' ') return line.substr(0, line.size() - 1);
  return line;
}

}  // namespace

std::string EscapeControls(std::string_view text, bool keep_newlines) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // C0, DEL, and C1 written in UTF-8 (0xC2 0x80..0x9F), which terminals also obey.
    const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                    (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
    if ((c < 0x20 && !(keep_newlines && c == '\n')) || c == 0x7F || c1) {
      const std::size_t count = c1 ? 2 : 1;
      for (std::size_t k = 0; k < count; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        shown += "\\x";
        shown += kHex[b >> 4];
        shown += kHex[b & 0xF];
      }
      i += count - 1;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

std::string JsonLine(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Output::Output(bool json, bool verbose, bool progress_bar, std::ostream& out, std::ostream& err)
    : json_(json), verbose_(verbose), progress_bar_(progress_bar && !json), out_(out), err_(err) {}

Output::~Output() {
  EndProgress();
}

bool Output::StderrIsTerminal() {
  const char* term = std::getenv("TERM");
  return isatty(STDERR_FILENO) == 1 && !(term != nullptr && std::string_view(term) == "dumb");
}

void Output::Callback(int kind, const std::string& text) {
  if (kind == kLogLine) KeepLogLine(text);
  if (json_) {
    Emit(Json{{"callback", Json{{"kind", kind}, {"text", text}}}});
    return;
  }
  switch (kind) {
    case kLogLine:
      if (verbose_) {
        ClearBar();
        err_ << EscapeControls(WithoutFinalBlank(text)) << "\n";
        Draw();
      }
      break;
    case kProgress:
      percent_ = ParsePercent(text);
      Draw();
      break;
    case kStatusText:
      status_ = text;
      Draw();
      break;
    case kOperationName:
      name_ = text;
      status_.clear();
      percent_ = 0;
      Draw();
      break;
    default:
      break;
  }
}

void Output::MessageBox(const std::string& title, const std::string& text) {
  last_box_ = text;
  if (json_) {
    Emit(Json{{"messagebox", Json{{"title", title}, {"text", text}}}});
    return;
  }
  ClearBar();
  err_ << "[" << EscapeControls(title) << "] " << EscapeControls(text) << "\n";
  err_.flush();
  Draw();
}

void Output::Emit(const Json& value) {
  out_ << JsonLine(value) << "\n";
  out_.flush();  // a reader sees each line as it happens
}

int Output::Fail(int status, std::string_view error_class, std::string_view message) {
  quiet_ = false;
  Note(message);
  error_class_ = error_class;
  error_message_ = EscapeControls(message);
  return status;
}

int Output::Finish(int status) {
  if (!json_) return status;
  Json error = nullptr;
  if (status != kExitOk) {
    // A failure told by Note alone takes its class from the status.
    const std::string_view error_class = !error_class_.empty()  ? std::string_view(error_class_)
                                         : status == kExitUsage ? "input"
                                         : status == kExitLocalStore ? "local"
                                         : status > 128              ? "cancelled"
                                                                     : "failed";
    error = Json{{"status", status},
                 {"class", error_class},
                 {"message", error_message_.empty() ? last_note_ : error_message_}};
  }
  Emit(Json{{"schema", kJsonSchema},
            {"command", command_.empty() ? Json(nullptr) : Json(command_)},
            {"result", std::move(result_)},
            {"error", std::move(error)}});
  result_ = nullptr;
  return status;
}

void Output::Result(std::string_view line) {
  if (json_) return;
  ClearBar();
  out_ << EscapeControls(line, true) << "\n";
  out_.flush();
  Draw();
}

void Output::Note(std::string_view line) {
  if (quiet_) return;
  last_note_ = EscapeControls(line);
  ClearBar();
  err_ << "vexcomm: " << EscapeControls(line) << "\n";
  err_.flush();
  Draw();
}

void Output::ReplyProgress(std::size_t received, std::size_t expected) {
  if (received < received_ || received_ == 0) reply_start_ = std::chrono::steady_clock::now();
  received_ = received;
  // The size shows at once when it becomes known; then a few times a second.
  const bool news = expected != expected_;
  expected_ = expected;
  if (news) {
    Draw();
  } else {
    DrawThrottled();
  }
}

void Output::Tick() {
  ++spinner_;
  DrawThrottled();
}

void Output::DrawThrottled() {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_draw_ < std::chrono::milliseconds(100)) return;
  Draw();
}

void Output::EndProgress(bool completed) {
  shown_percent_ = 0;
  if (completed && bar_shown_) {
    percent_ = 100;
    received_ = expected_;
    running_ = false;
    Draw();
    err_ << "\n";
    err_.flush();
    bar_shown_ = false;
  }
  ClearBar();
  running_ = false;
  received_ = expected_ = 0;
  name_.clear();
  status_.clear();
  percent_ = 0;
}

void Output::KeepLogLine(const std::string& text) {
  if (on_log_line_) on_log_line_(WithoutFinalBlank(text));
  const std::string_view prefix = KeptPrefix(text);
  if (prefix.empty()) return;
  auto same = std::find_if(last_lines_.begin(), last_lines_.end(),
                           [prefix](const std::string& kept) { return kept.starts_with(prefix); });
  if (same == last_lines_.end()) same = last_lines_.emplace(last_lines_.end());
  // Into the line it replaces, and no more of it than a person reads: a notice of megabytes is
  // neither copied twice nor kept.
  constexpr std::size_t kKeptCharacters = 16 * 1024;
  const bool blank = !text.empty() && text.back() == ' ';
  const std::string_view line(text.data(), text.size() - (blank ? 1 : 0));
  const std::string_view kept = CodePointPrefix(line, kKeptCharacters);
  same->assign(kept);
  if (kept.size() < line.size()) {
    same->append(" " + Fill(Tr("… (%1 more characters)"),
                            {std::to_string(CodePointCount(line.substr(kept.size())))}));
  }
}

std::string Output::LastLogAfter(std::string_view prefix) const {
  for (const auto& line : last_lines_) {
    if (line.starts_with(prefix)) {
      std::string rest = line.substr(prefix.size());
      const auto start = rest.find_first_not_of(' ');
      return start == std::string::npos ? std::string() : rest.substr(start);
    }
  }
  return {};
}

void Output::Draw() {
  if (!progress_bar_ || (name_.empty() && status_.empty() && !running_)) return;
  if (stopped_) {
    ClearBar();
    return;
  }
  last_draw_ = std::chrono::steady_clock::now();
  const int width = TerminalWidth();
  constexpr int kBar = 20;
  // While a large reply arrives its bytes move the bar; the run's steps move it otherwise.
  const bool bytes = expected_ > 0 && received_ < expected_;
  const double measured =
      bytes ? 100.0 * static_cast<double>(received_) / static_cast<double>(expected_) : percent_;
  // Never back: the next step's name resets the component's percentage before it ends.
  const double percent = std::max(measured, shown_percent_);
  shown_percent_ = percent;
  // Full only when done: 97.5 % is not drawn as a full bar.
  const int filled = static_cast<int>(std::floor(percent / 100.0 * kBar));
  static constexpr char kSpinner[] = {'|', '/', '-', '\\'};
  std::string line = running_ ? std::string(1, kSpinner[spinner_ % 4]) + " " : std::string();
  if (!name_.empty()) line += name_ + " ";
  line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
          std::string(static_cast<std::size_t>(kBar - filled), '.') + "] ";
  const std::string shown = std::to_string(static_cast<int>(percent));
  line += std::string(3 - std::min<std::size_t>(3, shown.size()), ' ') + shown + "%";
  if (bytes) {
    line += "  " + Fill(Tr("%1 of %2"), {FormatBytes(received_), FormatBytes(expected_)});
    const double seconds = std::chrono::duration<double>(last_draw_ - reply_start_).count();
    if (seconds >= 0.5 && received_ > 0) {
      const double rate = static_cast<double>(received_) / seconds;
      const auto left = static_cast<long long>(static_cast<double>(expected_ - received_) / rate);
      char eta[32];
      std::snprintf(eta, sizeof eta, "%lld:%02lld", left / 60, left % 60);
      const std::string time_left = "  " + Fill(Tr("%1 left"), {eta});
      const std::string speed = "  " + FormatBytes(static_cast<std::size_t>(rate)) + "/s";
      // The time left matters more than the rate: the rate goes first when the line is too wide.
      const std::size_t room = static_cast<std::size_t>(width - 1);
      if (CodePointCount(line + speed + time_left) <= room) line += speed;
      line += time_left;
      if (CodePointCount(line) > room && !name_.empty())
        line.erase(line.find(name_), name_.size() + 1);
    }
  } else if (!status_.empty() && status_ != name_) {
    line += "  " + status_;
  }
  err_ << "\r\x1b[K" << CodePointPrefix(EscapeControls(line), static_cast<std::size_t>(width - 1));
  err_.flush();
  bar_shown_ = true;
}

void Output::ClearBar() {
  if (!bar_shown_) return;
  err_ << "\r\x1b[K";
  err_.flush();
  bar_shown_ = false;
}

}  // namespace vexcomm::cli
