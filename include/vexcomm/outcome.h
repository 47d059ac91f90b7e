#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <vexcomm/dispatch.h>
#include <vexcomm/export.h>

namespace vexcomm {

// How a run ended, one value per way, beside Fehler (whose codes stay as they are documented:
// Code 1 alone is a refused connection, a refused certificate and a time-out alike). Numbers and
// names never change meaning; new values may be added.
enum class OutcomeKind : int32_t {
  kOk = 0,                  // the run ended well
  kNothingNew = 1,          // the server holds no new messages
  kCancelled = 2,           // CancelSend ended the run
  kNetworkRefused = 3,      // the server, or the proxy's way to it, refused the connection
  kNetworkUnreachable = 4,  // no address for the name, no route, or no connection could start
  kNetworkTimeout = 5,      // a connect, idle, reply or transfer-rate limit ran out
  kNetworkClosed = 6,       // the connection broke or the server ended it
  kCertificateRefused = 7,  // the server's certificate failed the check; detail: the reason
  kProxyRefused = 8,        // the proxy refused the user name and password
  kProxyCredentials = 9,    // the proxy wants a user name and password
  kServerError = 10,        // the server refused a request (AIERR): server_number, server_text
  kStuckRun = 11,           // the server's answers did not move the run on
  kQuoteDatabase = 12,      // local store failed: Kurse.dat; detail: the file and the cause
  kRegistryStore = 13,      // local store failed: the cursor or settings were not stored
  kFileRefused = 14,        // local store failed: the host refused a received file
  kInvalidReply = 15,       // a reply that is no frame or could not be processed
};

// The stable lowercase name of a kind ("network_refused"), for logs and JSON; "unknown" for a
// number that is no kind. Any thread.
VEXCOMM_EXPORT std::string_view OutcomeName(OutcomeKind kind) noexcept;

// A message box the run showed.
struct ShownMessageBox {
  std::string title;
  std::string text;
};

// What the last Send came to. Reset when a Send starts; read it when Send has returned, on the
// module's thread. Reading it never throws. Late-bound: Kind, Name, Detail, ServerNumber,
// ServerText, MessageBoxes (an array of [title, text] arrays).
class VEXCOMM_EXPORT RunOutcome : public automation::DispatchObject<RunOutcome> {
 public:
  static constexpr std::string_view kTypeName = "RunOutcome";
  static const std::vector<automation::Member<RunOutcome>>& Members();
  // At most this many boxes are kept; a run that shows more has failed long before.
  static constexpr std::size_t kMostMessageBoxes = 100;

  OutcomeKind kind = OutcomeKind::kOk;
  // One line on why: the verifier's reason, the store and its cause, the server's text, ...
  std::string detail;
  int32_t server_number = 0;  // the number of the server's error reply, 0 when none came
  std::string server_text;
  std::vector<ShownMessageBox> message_boxes;  // in the order shown

  std::string_view name() const noexcept { return OutcomeName(kind); }
  // Ended well, with or without new messages.
  bool ok() const noexcept { return kind == OutcomeKind::kOk || kind == OutcomeKind::kNothingNew; }
};

}  // namespace vexcomm
