#include "host_session.h"

#include <sstream>

#include <vexcomm/deposits.h>
#include <vexcomm/quotes.h>

#include "file_content.h"
#include "messages.h"
#include "object_views.h"
#include "quote_history.h"
#include "signal_cancel.h"

namespace vexcomm::cli {
namespace {

bool IsFetch(int32_t modus) {
  return modus == VexCommGetNew || modus == VexCommGetFile || modus == vexCommCheckNew;
}

bool FetchesStocks(int32_t modus) {
  return modus == vexCommWDT || modus == vexCommWPK || modus == vexCommNewWPK ||
         modus == vexCommGetAllWPK;
}

}  // namespace

HostSession::HostSession(SessionConfig config, Output& output)
    : config_(std::move(config)), output_(output), files_(config_.out_dir) {
  HostServices host;
  host.message_box = [this](const std::string& title, const std::string& text) {
    output_.MessageBox(title, text);
  };
  host.text_setting = [ini = config_.ini_dir, data = config_.data_dir](int number) {
    return number == 3 ? ini : number == 5 ? data : std::string();
  };
  host.registry_dir = config_.registry_dir;
  host.make_files_durable = [this] { return CommitFiles(); };
  host.trace = config_.trace;
  host.trace_unmasked = config_.trace_unmasked;
  // The spinner turns while the run waits (connecting, a slow answer); without a bar the wait
  // blocks without wake-ups.
  if (output_.progress_bar()) host.process_host_events = [this] { output_.Tick(); };
  module_ = std::make_unique<Module>(std::move(host));
  module_->OnReplyProgress(
      [this](const Module::ReplyProgress& p) { output_.ReplyProgress(p.received, p.expected); });
  vc_ = VexComm::Create(*module_);
  socket_ = module_->CreateSocket(config_.socket);
  vc_->SetSocket(socket_);
  vc_->SetCallback(automation::MakeCallback(
      [this](int16_t kind, const std::string& text) { output_.Callback(kind, text); }));
  vc_->OnNeueDatei([this](const NeueDateiEvent& e) { OnNeueDatei(e); });
  vc_->OnDelete([this](const automation::VariantArray& a) { OnDelete(a); });
  vc_->OnNochAufServer([this](int32_t n) { OnNochAufServer(n); });
  vc_->OnSkippedFile(
      [this](int32_t nummer, const std::string& name) { OnSkippedFile(nummer, name); });
}

HostSession::~HostSession() {
  // The component lets go of the socket before the module's loop goes.
  vc_.reset();
  socket_.reset();
}

RunResult HostSession::Run(int32_t modus) {
  current_ = RunResult{};
  output_.ClearLog();
  vc_->SetModus(static_cast<vexCommModus>(modus));
  output_.StartProgress();
  SignalCancel* signals = CurrentSignalCancel();
  if (signals) {
    // Called on the signal thread; PostCancelSend is the component's one thread-safe entry.
    VexComm* vc = vc_.get();
    Output* output = &output_;
    signals->SetCancel([vc, output] {
      output->StopDrawing();
      vc->PostCancelSend();
    });
  }
  vc_->Send();
  if (signals) {
    signals->SetCancel({});
    current_.cancelled = signals->cancelled();
    current_.signal = signals->signal_number();
  }
  // A cancel posted as the run ended runs here, outside a run, where it does nothing.
  module_->PumpMessages();
  current_.code = vc_->Fehler()->Code;
  current_.text = vc_->Fehler()->Text;
  const RunOutcome& outcome = *vc_->Outcome();
  current_.outcome = outcome.kind;
  current_.detail = outcome.detail;
  current_.server_number = outcome.server_number;
  current_.modus = vc_->Modus();
  current_.no_more_messages = IsFetch(modus) && outcome.kind == OutcomeKind::kServerError &&
                              outcome.server_number == kNoFurtherFile;
  output_.EndProgress(current_.ok() && !current_.cancelled);
  return current_;
}

void HostSession::OnNeueDatei(const NeueDateiEvent& e) {
  current_.events += 1;
  std::string saved;
  try {
    const SaveAs as = config_.utf8_text && IsText(e.Datei) ? SaveAs::kUtf8 : SaveAs::kOctets;
    saved = files_.Save(e.DateiNummer, e.DateiName, e.Datei, as).string();
    current_.files_saved += 1;
  } catch (const std::exception& failure) {
    // The run stops here and the server keeps the file for the next one.
    vc_->RefuseFile(failure.what());
  }
  current_.files.push_back(Json{{"DateiNummer", e.DateiNummer},
                                {"DateiName", e.DateiName},
                                {"Titel", e.Titel},
                                {"saved", saved.empty() ? Json(nullptr) : Json(saved)}});
  if (output_.json()) {
    // A file of megabytes is no JSON line for a script to parse; its path is enough.
    Json event{{"event", "NeueDatei"},
               {"DateiNummer", e.DateiNummer},
               {"DateiName", e.DateiName},
               {"Typ", e.Typ},
               {"VonDatum", e.VonDatum},
               {"VonDatumISO", IsoJson(e.VonDatum)},
               {"BisDatum", e.BisDatum},
               {"BisDatumISO", IsoJson(e.BisDatum)},
               {"AnzeigeDauer", e.AnzeigeDauer},
               {"Wichtigkeit", e.Wichtigkeit},
               {"Titel", e.Titel},
               {"URL", e.URL},
               {"saved", saved.empty() ? Json(nullptr) : Json(saved)}};
    if (config_.json_content) event["Datei"] = e.Datei;
    output_.Emit(event);
    return;
  }
  const std::string number = std::to_string(e.DateiNummer);
  const std::string& title = e.Titel.empty() ? e.DateiName : e.Titel;
  output_.Result(saved.empty() ? Fill(Tr("File %1: %2"), {number, title})
                               : Fill(Tr("File %1: %2 -> %3"), {number, title, saved}));
}

bool HostSession::CommitFiles() {
  try {
    files_.Commit();
    return true;
  } catch (const std::exception& failure) {
    // DateiNr stays before the files (the run's outcome says so): the next run fetches them again.
    output_.Note(failure.what());
    return false;
  }
}

void HostSession::OnDelete(const automation::VariantArray& array) {
  current_.events += 1;
  std::optional<std::filesystem::path> removed;
  std::string number_text = array.size() > 1 ? array[1].ToString() : std::string();
  try {
    if (auto number = ParseFileNumber(number_text)) removed = files_.Remove(*number);
    if (removed) current_.files_deleted += 1;
  } catch (const std::exception& failure) {
    vc_->RefuseFile(failure.what());
  }
  const auto number = ParseFileNumber(number_text);
  current_.removed.push_back(Json{{"DateiNummer", number ? Json(*number) : Json(nullptr)},
                                  {"removed", removed ? Json(removed->string()) : Json(nullptr)}});
  if (output_.json()) {
    Json entries = Json::array();
    for (const auto& v : array) {
      if (v.is_empty() || v.is_null()) {
        entries.push_back(nullptr);
      } else {
        entries.push_back(v.ToString());
      }
    }
    output_.Emit(Json{{"event", "Delete"},
                      {"DeleteArray", std::move(entries)},
                      {"removed", removed ? Json(removed->string()) : Json(nullptr)}});
    return;
  }
  output_.Result(removed
                     ? Fill(Tr("Deleted: file %1 (%2 removed)"), {number_text, removed->string()})
                     : Fill(Tr("Deleted: file %1"), {number_text}));
  if (!removed) {
    output_.Note(Fill(Tr("no file saved here under number %1: none removed"), {number_text}));
  }
}

void HostSession::OnSkippedFile(int32_t nummer, const std::string& name) {
  // The server counted it as delivered: without this the file would be lost unnoticed (the run's
  // outcome says it failed).
  output_.Note(
      Fill(Tr("warning: file %1 (%2) skipped, it has no content"), {std::to_string(nummer), name}));
  if (output_.json()) {
    output_.Emit(Json{{"event", "Skipped"}, {"DateiNummer", nummer}, {"DateiName", name}});
  }
}

void HostSession::OnNochAufServer(int32_t anzahl) {
  current_.noch_auf_server = anzahl;
  if (output_.json()) {
    output_.Emit(Json{{"event", "NochAufServer"}, {"Anzahl", anzahl}});
  } else if (anzahl < 0) {
    output_.Result(Tr("Still on the server: unknown"));
  } else if (anzahl != 0) {
    output_.Result(Fill(Tr("Still on the server: %1"), {std::to_string(anzahl)}));
  }
}

Json HostSession::ResultJson(int32_t requested) const {
  Json result{{"Fehler", Json{{"Code", vc_->Fehler()->Code}, {"Text", vc_->Fehler()->Text}}},
              {"Modus", vc_->Modus()}};
  if (requested == vexCommTGA) result["Tagesgeld"] = DepositTreeJson(*vc_->Tagesgeld());
  if (requested == vexCommFGA) result["Festgeld"] = DepositTreeJson(*vc_->Festgeld());
  if (FetchesStocks(requested)) result["Aktien"] = AktienJson(*vc_->Aktien());
  if (requested == vexCommWDT) {
    const std::string datum = output_.LastLogAfter("WP-Datum:");
    result["Kursdatum"] = datum;
    result["KursdatumISO"] = IsoJson(datum);
  }
  if (IsFetch(requested)) {
    result["Dateien"] = current_.files;
    result["Geloescht"] = current_.removed;
  }
  const std::string notice = output_.LastLogAfter("Meldung:");
  result["Meldung"] = notice.empty() ? Json(nullptr) : Json(notice);
  return result;
}

void PrintRunResult(Output& output, HostSession& session, int32_t requested,
                    const RunResult& result, bool wide) {
  if (output.json()) {
    output.EmitResult(session.ResultJson(requested));
    return;
  }
  std::ostringstream text;
  const std::optional<std::size_t> width = wide ? std::optional<std::size_t>(0) : std::nullopt;
  if (requested == vexCommTGA) PrintDeposits(text, *session.vc().Tagesgeld(), false, width);
  if (requested == vexCommFGA) PrintDeposits(text, *session.vc().Festgeld(), true, width);
  if (requested == vexCommWDT) {
    text << Fill(Tr("Quote date: %1"), {output.LastLogAfter("WP-Datum:")}) << "\n";
  }
  if (requested == vexCommWPK || requested == vexCommNewWPK || requested == vexCommGetAllWPK) {
    PrintAktien(text, *session.vc().Aktien(), true);
  }
  if (IsFetch(requested) && result.events == 0 && result.ok()) {
    text << Tr("No new messages") << "\n";
  }
  if (requested == vexCommSendLog || requested == vexCommSendPWD) text << Tr("Sent") << "\n";
  // The server's notice itself is the component's text, shown as it came.
  const std::string notice = output.LastLogAfter("Meldung:");
  if (!notice.empty()) text << Fill(Tr("Notice: %1"), {notice}) << "\n";
  std::string shown = text.str();
  if (!shown.empty() && shown.back() == '\n') shown.pop_back();
  // A stock the server refused leaves the others' quotes worth showing.
  const bool stocks_arrived =
      FetchesStocks(requested) && result.outcome == OutcomeKind::kServerError;
  if (!shown.empty() && (result.ok() || stocks_arrived)) output.Result(shown);
}

namespace {

// What to do about a refused certificate depends on why it was refused.
std::string CertificateHint(const RunResult& r, const std::string& host, bool pinned) {
  // OpenSSL's reason (X509_V_ERR_HOSTNAME_MISMATCH), not a text of the component.
  const std::string& why = r.detail.empty() ? r.text : r.detail;
  if (why.find("ostname mismatch") != std::string::npos) {
    return Fill(Tr("; the certificate does not name the server %1: check the server's name (IP "
                   "in MorvaZedi.ini, --connect-to); --verbose shows the certificate's names"),
                {host});
  }
  if (pinned) {
    return Tr(
        "; if the server changed its key on purpose, add the pin seen with --pin-sha256 "
        "(config: pin-sha256 in [connection]); otherwise name the authority that signed "
        "the certificate with --ca-file FILE");
  }
  return Tr(
      "; name the authority that signed it with --ca-file FILE (config: ca-file in "
      "[connection])");
}

std::pair<int, std::string> Verdict(const RunResult& r, const std::string& host, bool pinned) {
  const std::string fehler =
      "Fehler.Code " + std::to_string(r.code) + (r.text.empty() ? std::string() : ": " + r.text);
  if (r.cancelled) return {128 + r.signal, Fill(Tr("cancelled (%1)"), {fehler})};
  if (r.ok()) return {};
  switch (r.outcome) {
    case OutcomeKind::kOk:
    case OutcomeKind::kNothingNew:
      return {};
    case OutcomeKind::kFileRefused:
      return {kExitLocalStore,
              Fill(Tr("a received file could not be saved; the server keeps it (%1)"), {fehler})};
    case OutcomeKind::kQuoteDatabase:
      return {kExitLocalStore, Fill(Tr("the quote database failed: %1"), {r.detail})};
    case OutcomeKind::kRegistryStore:
      return {kExitLocalStore,
              Fill(Tr("the registry store failed: %1; what the run received is not recorded, "
                      "the next run fetches it again"),
                   {r.detail})};
    case OutcomeKind::kProxyRefused:
      return {kExitProxyAuth, Tr("the proxy refused the user name or password (--proxy-user, "
                                 "VEXCOMM_PROXY_PASSWORD)")};
    case OutcomeKind::kProxyCredentials:
      return {kExitProxyAuth, Tr("the proxy wants a user name and password (--proxy-user)")};
    case OutcomeKind::kCertificateRefused:
      return {kExitCertificate, r.text + CertificateHint(r, host, pinned)};
    case OutcomeKind::kNetworkRefused:
    case OutcomeKind::kNetworkUnreachable:
    case OutcomeKind::kNetworkTimeout:
    case OutcomeKind::kNetworkClosed:
      return {kExitNetwork, Fill(Tr("no connection to the server (%1)"), {fehler})};
    case OutcomeKind::kServerError:
      return {kExitServerError, Fill(Tr("the server refused the request (%1)"), {fehler})};
    case OutcomeKind::kInvalidReply:
      return {kExitRunFailed,
              Fill(Tr("the run failed: a reply could not be processed (%1)"), {r.detail})};
    case OutcomeKind::kCancelled:
    case OutcomeKind::kStuckRun:
      break;
  }
  return {kExitRunFailed, Fill(Tr("the run failed (%1)"), {fehler})};
}

}  // namespace

RunVerdict JudgeRun(const RunResult& r, const std::string& host, bool pinned) {
  auto [status, message] = Verdict(r, host, pinned);
  return {status, std::move(message),
          r.cancelled ? "cancelled" : std::string(OutcomeName(r.outcome))};
}

}  // namespace vexcomm::cli
