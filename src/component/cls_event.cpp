#include "component/cls_event.h"

#include <utility>

#include "component/module_state.h"
#include "services/frame_trace.h"
#include "services/reply_dispatcher.h"
#include "services/run_state.h"

namespace vexcomm::component {

namespace {

// Every handler runs with the state held: a host's code inside may release the last instance.
template <class Fn>
void WithState(const std::weak_ptr<detail::ModuleState>& weak, Fn&& fn) noexcept {
  auto state = weak.lock();
  if (!state) return;
  try {
    fn(*state);
  } catch (...) {
    // Socket event handlers ignore their errors: nothing escapes into the socket.
  }
}

// What a socket error means for the host, by its Windows Sockets number: a limit that ran out
// (connect, idle, reply or transfer rate) is 10060 whatever its text.
OutcomeKind NetworkOutcome(const std::string& code) {
  if (code == "10061") return OutcomeKind::kNetworkRefused;
  if (code == "10060") return OutcomeKind::kNetworkTimeout;
  for (const char* unreachable :
       {"11001", "11002", "11003", "11004", "10051", "10065", "10050", "10049", "10048", "10013"}) {
    if (code == unreachable) return OutcomeKind::kNetworkUnreachable;
  }
  return OutcomeKind::kNetworkClosed;  // aborted, reset, and whatever else ends a connection
}

}  // namespace

void clsEvent::set_sock(std::shared_ptr<ProxySocket> sock) {
  if (sock_) sock_->SetEvents({});
  sock_ = std::move(sock);
  if (sock_) sock_->SetEvents(weak_from_this());
}

void clsEvent::OnConnect() {}

void clsEvent::OnSSLReady() {
  WithState(state_, [](detail::ModuleState& s) {
    s.receive_buffer.Reset();
    Dispatch(s);
  });
}

void clsEvent::OnValidateCertificate(const std::shared_ptr<Certificate>& cert, bool& accept) {
  // Only a certificate that passes the socket's check is accepted; a failing check leaves the
  // flag unset, so the socket ends the attempt with an error the run reports. The error that
  // follows is the refusal's, whatever its number says.
  auto sock = sock_;
  if (!sock || !cert) return;
  auto refuse = [this, &cert](std::string reason) {
    if (auto state = state_.lock()) {
      if (!cert->verify_error.empty()) reason = cert->verify_error;
      state->attempt_refusal = {OutcomeKind::kCertificateRefused, std::move(reason)};
    }
  };
  try {
    accept = sock->CheckCertificate(*cert);
  } catch (...) {
    refuse(services::DescribeCurrentException());
    throw;
  }
  if (!accept) refuse("not accepted");
}

void clsEvent::OnReceive(const std::string& text) {
  WithState(state_, [this, &text](detail::ModuleState& s) {
    if (text.empty()) return;
    // The last reply has been handled: its elements (a notice of megabytes, say) need not stay
    // while the next one arrives.
    if (s.receive_buffer.size() == 0 && s.run.elements) s.run.elements->Clear();
    const bool complete = s.receive_buffer.Append(text);
    if (s.on_reply_progress) {
      // Held: the host's code may remove its handler from inside it.
      const auto progress = s.on_reply_progress;
      try {
        progress({s.receive_buffer.octets(), s.receive_buffer.ExpectedOctets()});
      } catch (...) {
        // A host callback's failure is ignored.
      }
    }
    if (!complete) {
      // Only a file may be large; every other reply gets a much smaller limit once its head
      // is in. Until then the text is too short to matter.
      const std::size_t limit =
          s.receive_buffer.IsFileReply() ? s.max_frame_bytes : s.max_non_file_frame_bytes;
      if (s.receive_buffer.octets() > limit) RefuseOversizedReply(s, limit);
      return;
    }
    std::string frame = s.receive_buffer.Take();
    services::TraceReceived(s.run, frame);
    services::DispatchReceivedFrame(s.run, std::move(frame), ReplyHandlers());
    s.loop.Poll();
    services::ProcessHostEvents(s.run);
    // A run cancelled or ended while the reply was handled sends nothing more.
    if (!s.run.session_done) Advance(s);
  });
}

void clsEvent::RefuseOversizedReply(detail::ModuleState& s, std::size_t limit) {
  // A server that never ends its reply must not exhaust the host's memory.
  std::string text = "Die Antwort des Servers ist größer als " + std::to_string(limit) + " Bytes";
  services::Log(s.run, "Socket Fehler: " + text, {});
  s.receive_buffer.Take();  // gives the memory back
  try {
    if (sock_) sock_->Close();
  } catch (...) {
  }
  s.run.fehler->Code = vcerrNoConnection;
  s.run.fehler->Text = text;
  services::SetOutcome(s.run, OutcomeKind::kInvalidReply, text);
  s.run.session_done = true;
}

void clsEvent::OnDisconnect() {
  WithState(state_, [this](detail::ModuleState& s) {
    services::Log(s.run, "Verbindung wurde geschlossen", {});
    try {
      if (sock_) sock_->Close();
    } catch (...) {
    }
    s.run.fehler->Code = vcerrDisconnect;
    s.run.fehler->Text = "Der Server hat die Verbindung geschlossen!";
    services::SetOutcome(s.run, OutcomeKind::kNetworkClosed, s.run.fehler->Text);
    s.run.session_done = true;
  });
}

void clsEvent::OnError(const std::string& text, const std::string& code) {
  WithState(state_, [&](detail::ModuleState& s) {
    // The first two attempts after a valid reply fail quietly; every error ends the run, whatever
    // its code, so a failure is never taken for success and nothing waits for a second event.
    if (s.run.attempts > 2) {
      services::Log(s.run, code == "10060" ? "Timeout" : "Socket Fehler: " + code + " " + text, {});
    }
    s.run.session_done = true;
    // A refusal of this attempt (its certificate, the proxy's credentials) is what the error is
    // about.
    if (auto refusal = std::exchange(s.attempt_refusal, std::nullopt)) {
      services::SetOutcome(s.run, refusal->kind, std::move(refusal->detail));
    } else {
      services::SetOutcome(s.run, NetworkOutcome(code), code + " " + text);
    }
    if (!s.run.fehler) return;
    s.run.fehler->Code = vcerrNoConnection;
    s.run.fehler->Text = text;
  });
}

void clsEvent::OnProxyError(const std::string& text, const std::string& code) {
  WithState(state_, [&](detail::ModuleState& s) {
    if (code == "9023") {
      services::Log(s.run, "Proxy Authentifizierung fehlgeschlagen", {});
      s.attempt_refusal = {OutcomeKind::kProxyRefused, text};
    } else if (code == "9024") {
      services::Log(s.run, "Proxy Server benötigt Authentifizierung", {});
      s.attempt_refusal = {OutcomeKind::kProxyCredentials, text};
    } else {
      // The proxy's other answers end the attempt with the error that tells what they mean.
      services::Log(s.run, "Socket Fehler: " + code + " " + text, {});
    }
  });
}

}  // namespace vexcomm::component
