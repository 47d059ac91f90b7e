#pragma once

/// @file
/// What a run is asked to do and what it reports: the operation codes, the kinds of the host
/// callback's texts and the values of the NeueDatei event. <vexcomm/vexcomm.h> includes it.

#include <cstdint>
#include <string>

#include <vexcomm/export.h>

namespace vexcomm {

/// The first argument of the host callback's `callback(kind, text)`: what the text is.
enum CallbackKind : int16_t {
  kLogLine = 0,        ///< A log line.
  kProgress = 2,       ///< The percentage done, as text in the locale's number form ("37,5").
  kStatusText = 3,     ///< A short text for a status line ("Hole Nachricht 1 von 3").
  kOperationName = 4,  ///< The name of the operation now running.
};

/// Operation codes: what the next Send runs (VexComm::SetModus). Modus stores any value of the
/// type; a code outside the table runs nothing.
enum vexCommModus : int32_t {
  VexCommGetNew = 2,      ///< New messages and files: asks how many wait, then fetches each.
  VexCommGetFile = 3,     ///< The next file (the step VexCommGetNew repeats).
  VexCommNone = 6,        ///< Ends an operation list; as Modus it runs nothing.
  vexCommCheckNew = 8,    ///< As Modus, the same run as VexCommGetNew.
  vexCommWDT = 13,        ///< The date of the server's newest quotes.
  vexCommWPK = 14,        ///< Quotes for each stock of Aktien, from its VonDatum to its BisDatum.
  vexCommNewWPK = 15,     ///< New quotes for each stock stored in Kurse.dat, stored there.
  vexCommTGA = 16,        ///< The overnight-money offers, into Tagesgeld.
  vexCommFGA = 17,        ///< The fixed-term offers, into Festgeld.
  vexCommGetAllWPK = 18,  ///< The past year's quotes for each stock of Aktien.
  vexCommSendLog = 19,    ///< Sends the support log (LogSupport, LogDatum, LogText).
  vexCommSendPWD = 20,    ///< Sends a password request.
};

/// The values of the NeueDatei event: one file or message the server delivered.
/// @ownership Lent to the typed handlers for the call (VexComm::OnNeueDatei); copy what you keep.
struct NeueDateiEvent {
  int32_t DateiNummer = 0;   ///< The file's number in the server's series (DateiNr moves to it).
  std::string DateiName;     ///< Its name, as the server gave it: never a path to trust.
  std::string Typ;           ///< Its type, in upper case ("TXT").
  std::string VonDatum;      ///< First day to show it, as sent.
  std::string BisDatum;      ///< Last day to show it, as sent.
  int32_t AnzeigeDauer = 0;  ///< How long to show it.
  int32_t Wichtigkeit = 0;   ///< How important it is.
  std::string Titel;         ///< Its title.
  std::string URL;           ///< A link that goes with it.
  /// The content as text: the wire's Windows-1252 decoded, the five octets it leaves undefined
  /// as the C1 controls of the same number, so no octet is lost.
  std::string Datei;

  /// The content as the server sent it, one octet per character of Datei: what the Windows
  /// host's files hold, and what a binary file needs. Made on each call (a pass over Datei); to
  /// write a large file without a second copy, convert it piece by piece with Utf8ToCp1252
  /// (text.h), cut where a UTF-8 sequence starts.
  /// @return The octets.
  VEXCOMM_EXPORT std::string DateiOctets() const;
};

}  // namespace vexcomm
