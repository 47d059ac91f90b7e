#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <vexcomm/trace.h>
#include <vexcomm/vexcomm.h>

#include "exit_codes.h"
#include "output.h"
#include "received_files.h"

namespace vexcomm::cli {

struct SessionConfig {
  std::string ini_dir;   // ends in "/"
  std::string data_dir;  // ends in "/"
  std::filesystem::path registry_dir;
  SocketOptions socket;
  std::filesystem::path out_dir;
  std::shared_ptr<TraceSink> trace;  // none: no trace
  bool trace_unmasked = false;
  bool json_content = false;  // a received file's content in its JSON line
  bool utf8_text = false;     // text files saved as UTF-8 instead of the octets sent
};

struct RunResult {
  int32_t code = 0;  // Fehler.Code and Text, as the run left them
  std::string text;
  OutcomeKind outcome = OutcomeKind::kOk;  // what the run came to, and why
  std::string detail;
  int32_t server_number = 0;
  int32_t modus = 0;  // Modus after the run
  int files_saved = 0;
  int files_deleted = 0;  // saved files removed by deletion notices
  int events = 0;         // NeueDatei and Delete events
  std::optional<int32_t> noch_auf_server;
  bool cancelled = false;
  int signal = 0;  // the signal that cancelled the run
  // The server's answer to a fetch when nothing is left: the same outcome as "0 new".
  bool no_more_messages = false;
  Json files = Json::array();    // each received file: number, name, title, saved path
  Json removed = Json::array();  // each deletion notice: number, removed path

  // Ended well (with or without new messages), or nothing was left to fetch.
  bool ok() const {
    return outcome == OutcomeKind::kOk || outcome == OutcomeKind::kNothingNew || no_more_messages;
  }
};

// What the home-banking application holds while it talks to the server: a module of its own
// with the host's folders, one VexComm with a TLS socket and a callback, and the handlers that
// save received files. Runs on the thread that made it.
class HostSession {
 public:
  HostSession(SessionConfig config, Output& output);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  VexComm& vc() { return *vc_; }
  Module& module() { return *module_; }
  const SessionConfig& config() const { return config_; }

  // Sets Modus and sends; Ctrl-C posts CancelSend meanwhile. Events are shown as they come.
  RunResult Run(int32_t modus);

  // {"Fehler":{…},"Modus":…} of the last run with what `requested` fetches: the tree, the
  // stocks, the quote date, the files; and the server's notice.
  Json ResultJson(int32_t requested) const;

 private:
  void OnNeueDatei(const NeueDateiEvent& e);
  void OnDelete(const automation::VariantArray& array);
  void OnNochAufServer(int32_t anzahl);
  void OnSkippedFile(int32_t nummer, const std::string& name);
  // Makes the files saved so far durable before the run stores DateiNr past them.
  bool CommitFiles();

  SessionConfig config_;
  Output& output_;
  ReceivedFiles files_;
  std::unique_ptr<Module> module_;
  std::shared_ptr<VexComm> vc_;
  std::shared_ptr<ProxySocket> socket_;
  RunResult current_;
};

// The server's error number for a file fetch that finds nothing left.
inline constexpr int32_t kNoFurtherFile = 9057;

// The exit status of a run and the one line that says why it failed (empty when it did not).
struct RunVerdict {
  int status = kExitOk;
  std::string message;
  std::string error_class;  // the outcome's name (OutcomeName)
};
// `host`: the server's name and where it came from, for a certificate issued to another.
// `pinned`: public-key pins were given, so a refusal may be the pin's.
RunVerdict JudgeRun(const RunResult& result, const std::string& host = {}, bool pinned = false);

// The stocks and deposit results of an operation code, for people; deposit tables fit the
// terminal unless `wide`.
void PrintRunResult(Output& output, HostSession& session, int32_t requested,
                    const RunResult& result, bool wide = false);

}  // namespace vexcomm::cli
