#pragma once

#include <memory>

#include <vexcomm/socket.h>
#include <vexcomm/vexcomm.h>

namespace vexcomm::component {

// The event sink: holds the host's socket and handles its events for the run.
class clsEvent : public SocketEvents, public std::enable_shared_from_this<clsEvent> {
 public:
  explicit clsEvent(std::weak_ptr<detail::ModuleState> state) : state_(std::move(state)) {}

  const std::shared_ptr<ProxySocket>& sock() const { return sock_; }
  void set_sock(std::shared_ptr<ProxySocket> sock);

  void OnConnect() override;
  void OnSSLReady() override;
  void OnValidateCertificate(const std::shared_ptr<Certificate>& cert, bool& accept) override;
  void OnReceive(const std::string& text) override;
  void OnDisconnect() override;
  void OnError(const std::string& text, const std::string& code) override;
  void OnProxyError(const std::string& text, const std::string& code) override;

 private:
  void RefuseOversizedReply(detail::ModuleState& s, std::size_t limit);

  std::weak_ptr<detail::ModuleState> state_;
  std::shared_ptr<ProxySocket> sock_;
};

}  // namespace vexcomm::component
