#include "services/messages.h"

#include "platform/cp1252.h"
#include "platform/utf8.h"
#include "services/frame_trace.h"
#include "transport/frame.h"
#include "transport/reply_elements.h"
#include "transport/reply_number.h"

namespace vexcomm::services {

namespace element = transport::element;

namespace {

void SendIdentityRequest(RunState& state, std::string_view code) {
  const auto& user = state.user;
  const std::string datei_nr = std::to_string(user.DateiNr);
  SendRequest(
      state, code,
      {{user.BLZ, Privacy::kIdentity}, {user.KundenNr, Privacy::kIdentity}, {datei_nr}, {"5"}});
}

// The number the host knows a file by: element 14, else element 4.
int32_t FileNumber(const transport::clsElement& e) {
  const int32_t nummer = transport::ReadReplyInt32(e.Item(element::kFileNummer));
  return nummer != 0 ? nummer : transport::ReadReplyInt32(e.Item(element::kFileDateiNr));
}

// Runs one step of the file handler; a failure is shown and the handler goes on with the next.
template <class Step>
void TrapStep(RunState& state, Step&& step) {
  try {
    step();
  } catch (...) {
    ReplyNotProcessed(state, "VerarbeiteDatei");
  }
}

}  // namespace

std::string NumberWithSign(int32_t value) {
  return value < 0 ? std::to_string(value) : std::string(" ").append(std::to_string(value));
}

void SendeAKNEW(RunState& state) {
  SendIdentityRequest(state, "AKNEW");
}

void SendeAKGET(RunState& state) {
  ReportStatus(state, "Hole Nachricht" + NumberWithSign(state.progress_counter + 1) + " von" +
                          NumberWithSign(state.cursor.announced_files()));
  ReportProgress(state);
  SendIdentityRequest(state, "AKGET");
}

void VerarbeiteAINEW(RunState& state) {
  const std::string& count_text = state.elements->Item(element::kNewCount);
  int32_t n = transport::ReadReplyInt32(count_text);
  state.cursor.AnnounceFiles(n);
  state.progress_total = n;
  if (n != 0) {
    Log(state, count_text + " neue Nachrichten", {});
  } else {
    Log(state, "Keine neuen Nachrichten", {});
    SetOutcome(state, OutcomeKind::kNothingNew);
  }
}

void VerarbeiteDatei(RunState& state) {
  const auto& e = *state.elements;
  const int32_t datei_nr_before = state.user.DateiNr;
  const int32_t remaining_before = state.cursor.remaining_files();
  const int32_t progress_before = state.progress_counter;
  TrapStep(state, [&] { Log(state, "Datei: ", e.Item(element::kFileName)); });
  TrapStep(state,
           [&] { state.user.DateiNr = transport::ReadReplyInt32(e.Item(element::kFileDateiNr)); });
  TrapStep(state, [&] {
    state.cursor.FileTaken();
    state.progress_counter += 1;
  });
  bool is_delete = platform::ToUpper(e.Item(element::kFileTyp)) == "DELETE";
  state.file_refused.reset();
  state.in_file_handler = true;
  if (is_delete) {
    TrapStep(state, [&] {
      if (state.driver) state.driver->RaiseDelete(e.Item(element::kFileNummer));
    });
  } else {
    TrapStep(state, [&] {
      // Built once, here, and handed through to the host's handlers.
      if (auto event = TakeNeueDatei(*state.elements)) {
        if (state.driver) state.driver->RaiseNeueDatei(*event);
        return;
      }
      // Counted but never delivered: the host must be able to tell.
      const int32_t nummer = FileNumber(e);
      const std::string skipped = std::to_string(nummer) + " " + e.Item(element::kFileName);
      Log(state, "Datei ohne Inhalt übersprungen: " + skipped, {});
      SetOutcome(state, OutcomeKind::kInvalidReply, "file without content: " + skipped);
      if (state.driver) state.driver->RaiseSkippedFile(nummer, e.Item(element::kFileName));
    });
  }
  state.in_file_handler = false;
  if (state.file_refused) {
    // Not taken: the server keeps it for the next run.
    state.user.DateiNr = datei_nr_before;
    state.cursor.SetRemainingFiles(remaining_before);
    state.progress_counter = progress_before;
    state.fehler->Code = vcerrOther;
    state.fehler->Text = "Datei nicht angenommen: " + *state.file_refused;
    SetOutcome(state, OutcomeKind::kFileRefused, *state.file_refused);
  }
}

Next AfterFileReply(const RunState& state) {
  return state.cursor.remaining_files() > 0 ? Next::kFetchFile : Next::kClose;
}

Next AfterCheckNewReply(const RunState& state) {
  const bool announced = state.handled_reply == "AINEW" && state.cursor.announced_files() != 0;
  return announced ? Next::kBecomeFetch : Next::kNextStep;
}

std::optional<NeueDateiEvent> TakeNeueDatei(transport::clsElement& e) {
  const std::size_t offset = transport::FileContentOffset(e.Item(element::kFileContent));
  if (offset == std::string::npos) return std::nullopt;
  NeueDateiEvent v;
  v.DateiNummer = FileNumber(e);
  v.DateiName = e.Item(element::kFileName);
  v.Typ = platform::ToUpper(e.Item(element::kFileTyp));
  v.VonDatum = e.Item(element::kFileVonDatum);
  v.BisDatum = e.Item(element::kFileBisDatum);
  v.AnzeigeDauer = transport::ReadReplyInt32(e.Item(element::kFileAnzeigeDauer));
  v.Wichtigkeit = transport::ReadReplyInt32(e.Item(element::kFileWichtigkeit));
  v.Titel = e.Item(element::kFileTitel);
  v.URL = e.Item(element::kFileUrl);
  // Last, once nothing can fail any more: the element gives up its content.
  v.Datei = e.Take(element::kFileContent);
  v.Datei.erase(0, offset);
  return v;
}

}  // namespace vexcomm::services

namespace vexcomm {

std::string NeueDateiEvent::DateiOctets() const {
  return platform::Utf8ToCp1252(Datei);
}

}  // namespace vexcomm
