#include "component/scripted_socket.h"

namespace vexcomm::testing {

void ScriptedSocket::PostEvent(std::function<void(SocketEvents&)> fn) {
  auto self = shared_from_this();
  unsigned generation = generation_;
  loop_.Post([self, generation, fn = std::move(fn)] {
    if (generation != self->generation_) return;
    if (auto events = self->events()) fn(*events);
  });
}

void ScriptedSocket::RaiseConnectSequence() {
  PostEvent([](SocketEvents& e) { e.OnConnect(); });
  PostEvent([](SocketEvents& e) {
    bool accept = false;
    auto cert = std::make_shared<Certificate>();
    cert->subject = "CN=test";
    cert->verified = true;
    e.OnValidateCertificate(cert, accept);
    if (accept) {
      e.OnSSLReady();
    } else {
      e.OnError("Das Serverzertifikat wurde abgelehnt", "10053");
    }
  });
}

void ScriptedSocket::RaiseReceive(std::string chunk) {
  PostEvent([chunk = std::move(chunk)](SocketEvents& e) { e.OnReceive(chunk); });
}

void ScriptedSocket::RaiseDisconnect() {
  PostEvent([](SocketEvents& e) { e.OnDisconnect(); });
}

void ScriptedSocket::RaiseError(std::string text, std::string code) {
  PostEvent(
      [text = std::move(text), code = std::move(code)](SocketEvents& e) { e.OnError(text, code); });
}

void ScriptedSocket::SetSecure(bool secure) {
  calls.push_back(secure ? "SetSecure(1)" : "SetSecure(0)");
}

void ScriptedSocket::Close() {
  calls.push_back("Close");
  ++generation_;
}

void ScriptedSocket::Connect(const std::string& host, int32_t& port) {
  ++generation_;
  calls.push_back("Connect(" + host + ":" + std::to_string(port) + ")");
  if (on_connect) {
    on_connect(*this);
  } else {
    RaiseConnectSequence();
  }
}

void ScriptedSocket::Send(const std::string& text) {
  calls.push_back("Send(" + text + ")");
  sent.push_back(text);
  if (on_send) {
    on_send(*this, text);
    return;
  }
  if (replies.empty()) return;
  auto chunks = std::move(replies.front());
  replies.pop_front();
  for (auto& chunk : chunks) RaiseReceive(std::move(chunk));
}

bool ScriptedSocket::CheckCertificate(const Certificate& cert) {
  calls.push_back("CheckCertificate");
  return cert.verified;
}

}  // namespace vexcomm::testing
