#pragma once

/// @file
/// The error record clsFehler and its reason codes.

#include <cstdint>
#include <string>

#include <vexcomm/dispatch.h>
#include <vexcomm/export.h>

namespace vexcomm {

/// Reason codes of clsFehler::Code. Code may also hold an error number the server sent in an
/// error reply (AIERR): compare with these names and treat any other number as the server's.
enum vexCommFehler : int32_t {
  vcerrNoError = 0,  ///< Set when a Send starts; still 0 after a run that went well.
  /// A socket error (refused, unreachable, timed out, a refused certificate or proxy), a reply
  /// too large, or answers of the server that do not move the run on: RunOutcome tells which.
  vcerrNoConnection = 1,
  /// CancelSend ("Benutzer-Abbruch"), a file the host refused, or installation data that
  /// cannot be read.
  vcerrOther = 2,
  vcerrKundeNotFound = 5,  ///< The server does not know the installation (its error 9056, 9058).
  vcerrDisconnect = 8,     ///< The server closed the connection.
  vcerrSuccess = 10,       ///< The server sent a notice (AIRMG) of number 10.
  vcerrCritical = 999,     ///< Never set by the component; the server may send it as its number.
};

/// The error record: what the last Send came to, in the component's documented terms. Code is
/// set to 0 at each Send; Text is only ever overwritten, so it means something only while Code
/// is not 0. RunOutcome tells the same finer, one kind per way a run ends.
/// @ownership The module's one record, shared by every VexComm of it (VexComm::Fehler).
/// @thread The module's thread.
class VEXCOMM_EXPORT clsFehler : public automation::DispatchObject<clsFehler> {
 public:
  static constexpr std::string_view kTypeName = "clsFehler";  ///< The late-bound class name.
  /// The class identifier a COM surface would register.
  static constexpr std::string_view kClsid = "{1F2158DB-D70E-4E3C-8268-E74688ABA9F8}";
  /// The interface identifier of _clsFehler.
  static constexpr std::string_view kIid = "{5FCF3DD8-A7EF-47B3-BF7E-34BF132A9BD4}";
  /// @return The late-bound members: Text (0x40030000) and Code (0x40030001), both read-write.
  static const std::vector<automation::Member<clsFehler>>& Members();
  /// @return The interfaces the object answers to: kIid.
  static std::span<const std::string_view> InterfaceIds();

  std::string Text;             ///< The message for the user.
  int32_t Code = vcerrNoError;  ///< The reason code: a vexCommFehler or the server's number.
};

}  // namespace vexcomm
