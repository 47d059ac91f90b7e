#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace vexcomm::cli {

using Json = nlohmann::ordered_json;

// The version of the JSON lines' layout; it grows when a name changes or goes, not when one is
// added.
inline constexpr int kJsonSchema = 1;

// Text from the server as a terminal shows it: control characters written out ("\x1b"), so no
// escape sequence in a title or message can act on the terminal.
std::string EscapeControls(std::string_view text, bool keep_newlines = false);

// One JSON value as one line of text; text that is not UTF-8 is replaced, never an error.
std::string JsonLine(const Json& value);

// Where everything the program shows goes. With JSON, standard output carries only JSON lines;
// without it, results go to standard output and the progress bar, notes and (with verbose)
// the component's log lines to standard error.
class Output {
 public:
  Output(bool json, bool verbose, bool progress_bar, std::ostream& out, std::ostream& err);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // A terminal that obeys escape sequences (not TERM=dumb).
  static bool StderrIsTerminal();

  bool json() const { return json_; }
  // For scripts: no progress bar and no remarks; the failure's line stays.
  void SetQuiet() {
    quiet_ = true;
    progress_bar_ = false;
  }
  bool progress_bar() const { return progress_bar_; }
  // One report of the component's callback: kind 0 log line, 2 progress, 3 status, 4 name.
  void Callback(int kind, const std::string& text);
  void MessageBox(const std::string& title, const std::string& text);
  // A box the command tells in its own line instead; LastMessageBoxText gives it.
  void KeepMessageBox(const std::string& text) { last_box_ = text; }
  const std::string& LastMessageBoxText() const { return last_box_; }
  void Emit(const Json& value);  // JSON mode only
  // What the command came to; Finish writes it as the one result line.
  void EmitResult(Json result) { result_ = std::move(result); }
  void SetCommand(std::string_view name) { command_ = name; }
  // A failure: its one line on standard error now, and the error member of the result line.
  // `error_class` is the run's outcome name, or one of the tool's own classes. Returns `status`.
  int Fail(int status, std::string_view error_class, std::string_view message);
  // Ends the command: with JSON, the one result line {"schema","command","result","error"},
  // failures included. Returns `status`.
  int Finish(int status);
  // A line of the result for people; nothing in JSON mode.
  void Result(std::string_view line);
  // A remark or failure on standard error, in both modes.
  void Note(std::string_view line);
  // How much of the current reply has arrived (`expected` 0: unknown). Drawn at most a few
  // times a second, with the rate and the time left.
  void ReplyProgress(std::size_t received, std::size_t expected);
  // Turns the spinner of a run that is waiting; a few times a second at most.
  void Tick();
  void StartProgress() {
    running_ = true;
    stopped_ = false;
  }
  // A cancelled run draws no more bar: the next draw clears it. The one call that may come
  // from another thread (the signal thread).
  void StopDrawing() { stopped_ = true; }
  // A run that ended well leaves its bar at 100 %; otherwise the bar goes.
  void EndProgress(bool completed = false);

  // Log lines are not kept: a run may log hundreds of megabytes of server notices. Only the
  // last line that starts with each of the few prefixes the program shows stays, until the
  // next ClearLog: "Meldung:" and "WP-Datum:".
  void ClearLog() { last_lines_.clear(); }
  // The extra text of the last such log line that starts with `prefix`, or empty.
  std::string LastLogAfter(std::string_view prefix) const;
  // Sees every log line as it comes, without its final blank.
  void OnLogLine(std::function<void(const std::string&)> fn) { on_log_line_ = std::move(fn); }

 private:
  void KeepLogLine(const std::string& text);
  void Draw();
  void DrawThrottled();
  void ClearBar();

  bool json_;
  bool verbose_;
  bool progress_bar_;
  bool quiet_ = false;
  std::ostream& out_;
  std::ostream& err_;
  std::string command_;
  Json result_;  // null until the command has one
  std::string error_class_;
  std::string error_message_;
  std::string last_note_;
  std::string last_box_;
  bool bar_shown_ = false;
  std::atomic<bool> stopped_{false};
  double percent_ = 0;
  double shown_percent_ = 0;  // the bar never goes back within a run
  bool running_ = false;
  unsigned spinner_ = 0;
  std::size_t received_ = 0;
  std::size_t expected_ = 0;
  std::chrono::steady_clock::time_point reply_start_;
  std::chrono::steady_clock::time_point last_draw_;
  std::string name_;
  std::string status_;
  std::vector<std::string> last_lines_;  // at most one per kept prefix
  std::function<void(const std::string&)> on_log_line_;
};

}  // namespace vexcomm::cli
