#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <vexcomm/socket.h>

#include "platform/message_loop.h"

namespace vexcomm::testing {

// A socket double that raises the socket's events on the loop, as the real one does, from a
// script: the connect outcome and, for each request sent, the reply chunks.
class ScriptedSocket : public ProxySocket, public std::enable_shared_from_this<ScriptedSocket> {
 public:
  explicit ScriptedSocket(platform::MessageLoop& loop) : loop_(loop) {}

  // What Connect does. Default: OnConnect, OnValidateCertificate, then OnSSLReady if accepted.
  std::function<void(ScriptedSocket&)> on_connect;
  // What Send does with a request. Default: the next entry of `replies`, chunk by chunk.
  std::function<void(ScriptedSocket&, const std::string& frame)> on_send;
  std::deque<std::vector<std::string>> replies;

  // Everything the component did to the socket, in order: "SetSecure(1)",
  // "Connect(host:443)", "Send(frame)", "Close", "CheckCertificate".
  std::vector<std::string> calls;
  std::vector<std::string> sent;

  // Raise events on the loop (after the current handler, like a real socket).
  void RaiseConnectSequence();
  void RaiseReceive(std::string chunk);
  void RaiseDisconnect();
  void RaiseError(std::string text, std::string code);
  // Any event; dropped when the connection was closed since, as a real socket does.
  void PostEvent(std::function<void(SocketEvents&)> fn);

  void SetSecure(bool secure) override;
  void Close() override;
  void Connect(const std::string& host, int32_t& port) override;
  void Send(const std::string& text) override;
  bool CheckCertificate(const Certificate& cert) override;

  std::optional<automation::DispId> GetIdOfName(std::string_view) const override { return {}; }
  automation::Variant Invoke(automation::DispId, automation::InvokeKind,
                             automation::Args) override {
    return {};
  }

 private:
  platform::MessageLoop& loop_;
  unsigned generation_ = 0;
};

}  // namespace vexcomm::testing
