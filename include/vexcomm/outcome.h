#pragma once

/// @file
/// How a run ended: one kind per way, with its detail, beside the documented error record.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <vexcomm/dispatch.h>
#include <vexcomm/export.h>

namespace vexcomm {

/// How a run ended, one value per way, beside Fehler (whose codes stay as they are documented:
/// Code 1 alone is a refused connection, a refused certificate and a time-out alike). Numbers and
/// names never change meaning; new values may be added. The first failure of a run stays its
/// kind, except that a failed local store outranks any but a cancel.
enum class OutcomeKind : int32_t {
  kOk = 0,                  ///< The run ended well.
  kNothingNew = 1,          ///< The server holds no new messages.
  kCancelled = 2,           ///< CancelSend ended the run.
  kNetworkRefused = 3,      ///< The server, or the proxy's way to it, refused the connection.
  kNetworkUnreachable = 4,  ///< No address for the name, no route, or no connection could start.
  kNetworkTimeout = 5,      ///< A connect, idle, reply or transfer-rate limit ran out.
  kNetworkClosed = 6,       ///< The connection broke or the server ended it.
  kCertificateRefused = 7,  ///< The server's certificate failed the check; detail: the reason.
  kProxyRefused = 8,        ///< The proxy refused the user name and password.
  kProxyCredentials = 9,    ///< The proxy wants a user name and password.
  kServerError = 10,        ///< The server refused a request (AIERR): server_number, server_text.
  kStuckRun = 11,           ///< The server's answers did not move the run on.
  kQuoteDatabase = 12,      ///< Local store failed: Kurse.dat; detail: the file and the cause.
  kRegistryStore = 13,      ///< Local store failed: the cursor or settings were not stored.
  kFileRefused = 14,        ///< Local store failed: the host refused a received file.
  kInvalidReply = 15,       ///< A reply that is no frame or could not be processed.
};

/// The stable lowercase name of a kind, for logs and JSON.
/// @param kind A kind.
/// @return "ok", "nothing_new", "cancelled", "network_refused", "network_unreachable",
///   "network_timeout", "network_closed", "certificate_refused", "proxy_refused",
///   "proxy_credentials", "server_error", "stuck_run", "local_store_quote_database",
///   "local_store_registry", "local_store_file_refused" or "invalid_reply"; "unknown" for a
///   number that is no kind.
/// @thread Any thread.
VEXCOMM_EXPORT std::string_view OutcomeName(OutcomeKind kind) noexcept;

/// A message box the run showed.
struct ShownMessageBox {
  std::string title;  ///< The box's title: the procedure that failed ("VexComm.Connect").
  std::string text;   ///< Its text.
};

/// What the last Send came to, as libcurl's CURLcode with its error buffer. Reset when a Send
/// starts; read it when Send has returned. Reading it never throws. Late-bound: Kind, Name,
/// Detail, ServerNumber, ServerText, MessageBoxes (an array of [title, text] arrays), all
/// read-only.
/// @ownership The module's one outcome, shared by every VexComm of it (VexComm::Outcome).
/// @thread The module's thread.
class VEXCOMM_EXPORT RunOutcome : public automation::DispatchObject<RunOutcome> {
 public:
  static constexpr std::string_view kTypeName = "RunOutcome";  ///< The late-bound class name.
  /// @return The late-bound members, read-only: Kind (0x40030000), Name, Detail, ServerNumber,
  ///   ServerText, MessageBoxes (0x40030005).
  static const std::vector<automation::Member<RunOutcome>>& Members();
  /// At most this many boxes are kept; a run that shows more has failed long before.
  static constexpr std::size_t kMostMessageBoxes = 100;

  OutcomeKind kind = OutcomeKind::kOk;  ///< How the run ended.
  /// One line on why: the verifier's reason, the store and its cause, the server's text; empty
  /// when the run ended well.
  std::string detail;
  /// The number of the server's error reply (AIERR), 0 when none came.
  int32_t server_number = 0;
  std::string server_text;  ///< The text of the server's error reply, empty when none came.
  std::vector<ShownMessageBox> message_boxes;  ///< The boxes the run showed, in order.

  /// @return OutcomeName(kind).
  std::string_view name() const noexcept { return OutcomeName(kind); }
  /// @return True when the run ended well (kOk or kNothingNew).
  bool ok() const noexcept { return kind == OutcomeKind::kOk || kind == OutcomeKind::kNothingNew; }
};

}  // namespace vexcomm
