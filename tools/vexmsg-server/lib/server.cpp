#include "vexmsg-server/lib/server.h"

#include <array>
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "vexmsg-server/lib/request_handlers.h"

namespace vexmsg {

using tcp = asio::ip::tcp;

namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
constexpr auto kShutdownGrace = std::chrono::seconds(2);
constexpr std::size_t kMaxLoggedRequest = 200;

class Session;

}  // namespace

struct Server::Impl {
  Impl(ServerOptions opts, Scenario s)
      : options(std::move(opts)), scenario(std::make_shared<const Scenario>(std::move(s))) {}

  void Accept();
  void Record(std::uint64_t connection, const RequestFrame& request) {
    {
      std::lock_guard lock(mutex);
      requests.push_back({connection, request.wire, request.text, request.fault});
    }
    if (options.log) {
      std::string shown = request.text.substr(0, kMaxLoggedRequest);
      if (shown.size() < request.text.size()) shown += "...";
      Log("#" + std::to_string(connection) + " <- " + shown);
      if (!request.fault.empty()) {
        Log("#" + std::to_string(connection) + " client fault: " + request.fault);
      }
    }
  }
  std::shared_ptr<const Scenario> CurrentScenario() const {
    std::lock_guard lock(mutex);
    return scenario;
  }
  void Log(const std::string& line) {
    if (!options.log) return;
    std::lock_guard lock(log_mutex);
    options.log(line);
  }

  ServerOptions options;
  mutable std::mutex mutex;  // guards scenario, requests, connections
  std::shared_ptr<const Scenario> scenario;
  std::vector<ReceivedRequest> requests;
  std::uint64_t connections = 0;
  std::mutex log_mutex;
  std::uint16_t port = 0;  // set before the threads start

  // The TLS context outlives the io_context, whose destruction ends the last sessions.
  asio::ssl::context tls{asio::ssl::context::tls_server};
  asio::io_context io;
  tcp::acceptor acceptor{io};
  std::vector<std::thread> threads;
};

namespace {

// One client connection. Its handlers run on its own strand; it answers one request after
// the other, in the order they arrived, while reading goes on.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(Server::Impl& server, tcp::socket socket, std::uint64_t id)
      : server_(server),
        stream_(std::move(socket), server.tls),
        timer_(stream_.get_executor()),
        id_(id) {}

  void Start() {
    stream_.async_handshake(asio::ssl::stream_base::server, [self = shared_from_this()](
                                                                std::error_code ec) {
      if (ec) {
        self->server_.Log("#" + std::to_string(self->id_) + " handshake failed: " + ec.message());
        return self->Drop();
      }
      self->Read();
    });
  }

 private:
  struct Plan {
    Rule::Action action = Rule::Action::Reply;
    std::optional<Reply> reply;
    std::size_t chunk_size = 0;
    std::chrono::milliseconds chunk_delay{0};
    CloseMode close = CloseMode::None;
  };

  void Read() {
    stream_.async_read_some(asio::buffer(buffer_),
                            [self = shared_from_this()](std::error_code ec, std::size_t size) {
                              self->OnRead(ec, size);
                            });
  }

  void OnRead(std::error_code ec, std::size_t size) {
    if (closed_) return;
    if (ec) {
      server_.Log("#" + std::to_string(id_) + " closed by the client (" + ec.message() + ")");
      if (std::string rest = reader_.TakeRest(); !rest.empty()) {
        RequestFrame unfinished = ParseRequest(std::move(rest));
        unfinished.fault = "the connection ended inside the frame" +
                           (unfinished.fault.empty() ? "" : "; " + unfinished.fault);
        server_.Record(id_, unfinished);
      }
      return Drop();
    }
    reader_.Append(std::string_view(buffer_.data(), size));
    for (;;) {
      while (auto frame = reader_.Next()) Queue(ParseRequest(std::move(*frame)));
      if (!reader_.bad()) break;
      Queue(ParseRequest(reader_.Discard()));  // no code: answered as an invalid frame
    }
    if (!busy_) ProcessNext();
    if (!closed_) Read();
  }

  void Queue(RequestFrame request) {
    server_.Record(id_, request);
    pending_.push_back(std::move(request));
  }

  const Rule* Match(const Scenario& scenario, const std::string& code) const {
    for (const auto& rule : scenario.rules) {
      if (rule.code != "*" && rule.code != code) continue;
      const int count = rule.code == "*" ? total_ : counts_.at(code);
      if (rule.nth == 0 || rule.nth == count) return &rule;
    }
    return nullptr;
  }

  void ProcessNext() {
    if (closed_ || pending_.empty()) {
      busy_ = false;
      return;
    }
    busy_ = true;
    RequestFrame request = std::move(pending_.front());
    pending_.pop_front();
    const auto scenario = server_.CurrentScenario();
    ++total_;
    ++counts_[request.code];
    if (server_.options.replay) return Execute(ReplayPlan(request));
    const Rule* rule = Match(*scenario, request.code);

    Plan plan;
    plan.chunk_size = rule && rule->chunk_size > 0 ? rule->chunk_size : scenario->chunk_size;
    plan.chunk_delay = rule ? rule->chunk_delay : std::chrono::milliseconds(0);
    plan.action = rule ? rule->action : Rule::Action::Reply;
    plan.close = rule ? rule->close : CloseMode::None;
    switch (plan.action) {
      case Rule::Action::Reply:
        plan.reply = request.code.empty()
                         ? ErrorReply(*scenario, kErrInvalidFrame, "Ungültige Nachricht")
                         : Answer(*scenario, request);
        break;
      case Rule::Action::Error:
        plan.reply = ErrorReply(*scenario, rule->number, rule->text);
        break;
      case Rule::Action::Notice:
        plan.reply = NoticeReply(*scenario, rule->number, rule->text);
        break;
      case Rule::Action::Raw:
        plan.reply = Reply::Raw(rule->text);
        break;
      case Rule::Action::Silent:
      case Rule::Action::Close:
        break;
    }
    if (plan.reply && rule && rule->unterminated) plan.reply->DropLast(6);  // "MSGEND"

    const auto delay = rule && rule->delay.count() >= 0 ? rule->delay : scenario->delay;
    if (delay.count() <= 0) return Execute(std::move(plan));
    timer_.expires_after(delay);
    timer_.async_wait(
        [self = shared_from_this(), plan = std::move(plan)](std::error_code ec) mutable {
          if (ec || self->closed_) return;
          self->Execute(std::move(plan));
        });
  }

  Plan ReplayPlan(const RequestFrame& request) {
    auto answer = server_.options.replay->Next(request);
    if (!answer.divergence.empty()) {
      server_.Log("#" + std::to_string(id_) + " replay divergence: " + answer.divergence);
    }
    Plan plan;
    if (answer.close) {
      plan.action = Rule::Action::Close;
      plan.close = CloseMode::Clean;
    } else {
      plan.reply = Reply::Raw(answer.replies);
    }
    return plan;
  }

  void Execute(Plan plan) {
    if (plan.action == Rule::Action::Close) return Close(plan.close);
    if (!plan.reply) return ProcessNext();  // silent
    out_ = std::move(*plan.reply);
    out_size_ = out_->size();
    out_pos_ = 0;
    chunk_size_ = plan.chunk_size > 0 ? plan.chunk_size : out_size_;
    chunk_delay_ = plan.chunk_delay;
    close_after_ = plan.close;
    WritePiece();
  }

  // Writes the next chunk of the reply; its pieces are the reply's own buffers, not copies.
  void WritePiece() {
    if (out_pos_ >= out_size_) return Written();
    const std::size_t end = std::min(out_size_, out_pos_ + chunk_size_);
    buffers_.clear();
    std::size_t at = 0;
    for (const auto& piece : out_->pieces()) {
      const std::size_t from = std::max(at, out_pos_);
      const std::size_t to = std::min(at + piece.size, end);
      if (from < to) buffers_.push_back(asio::buffer(piece.view().substr(from - at, to - from)));
      at += piece.size;
      if (at >= end) break;
    }
    asio::async_write(stream_, buffers_,
                      [self = shared_from_this(), end](std::error_code ec, std::size_t) {
                        if (self->closed_) return;
                        if (ec) return self->Drop();
                        self->out_pos_ = end;
                        if (self->chunk_delay_.count() <= 0 || end >= self->out_size_) {
                          return self->WritePiece();
                        }
                        // A server that drips its reply.
                        self->timer_.expires_after(self->chunk_delay_);
                        self->timer_.async_wait([self](std::error_code timer_ec) {
                          if (timer_ec || self->closed_) return;
                          self->WritePiece();
                        });
                      });
  }

  void Written() {
    out_.reset();
    if (close_after_ != CloseMode::None) return Close(close_after_);
    ProcessNext();
  }

  void Close(CloseMode mode) {
    if (closed_) return;
    closed_ = true;
    timer_.cancel();
    server_.Log("#" + std::to_string(id_) + " closed by the scenario");
    auto& socket = stream_.lowest_layer();
    std::error_code ignored;
    switch (mode) {
      case CloseMode::Clean:
      case CloseMode::None: {
        // close_notify, then wait briefly for the client's answer before the TCP end.
        timer_.expires_after(kShutdownGrace);
        timer_.async_wait([self = shared_from_this()](std::error_code) {
          std::error_code ignored;
          self->stream_.lowest_layer().close(ignored);
        });
        stream_.async_shutdown([self = shared_from_this()](std::error_code) {
          std::error_code ignored;
          self->timer_.cancel();
          self->stream_.lowest_layer().close(ignored);
        });
        return;
      }
      case CloseMode::Abort:
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
        return;
      case CloseMode::Reset:
        socket.set_option(asio::socket_base::linger(true, 0), ignored);
        socket.close(ignored);
        return;
    }
  }

  void Drop() {
    closed_ = true;
    std::error_code ignored;
    timer_.cancel();
    stream_.lowest_layer().close(ignored);
  }

  Server::Impl& server_;
  asio::ssl::stream<tcp::socket> stream_;
  asio::steady_timer timer_;
  std::uint64_t id_;
  std::array<char, kReadChunk> buffer_;
  RequestReader reader_;
  std::deque<RequestFrame> pending_;
  bool busy_ = false;
  bool closed_ = false;
  int total_ = 0;
  std::map<std::string, int> counts_;
  std::optional<Reply> out_;
  std::size_t out_size_ = 0;
  std::size_t out_pos_ = 0;
  std::size_t chunk_size_ = 0;
  std::chrono::milliseconds chunk_delay_{0};
  CloseMode close_after_ = CloseMode::None;
  std::vector<asio::const_buffer> buffers_;
};

}  // namespace

void Server::Impl::Accept() {
  acceptor.async_accept(asio::make_strand(io), [this](std::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
    if (!ec) {
      std::uint64_t id;
      {
        std::lock_guard lock(mutex);
        id = ++connections;
      }
      std::error_code ignored;
      const auto peer = socket.remote_endpoint(ignored);
      Log("#" + std::to_string(id) + " connected from " + peer.address().to_string() + ":" +
          std::to_string(peer.port()));
      socket.set_option(tcp::no_delay(true), ignored);
      std::make_shared<Session>(*this, std::move(socket), id)->Start();
    }
    Accept();
  });
}

Server::Server(ServerOptions options, Scenario scenario)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(scenario))) {
  auto& d = *impl_;
  try {
    d.tls.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                      asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                      asio::ssl::context::no_tlsv1_1);
    d.tls.use_certificate_chain_file(d.options.cert_file.string());
    d.tls.use_private_key_file(d.options.key_file.string(), asio::ssl::context::pem);
  } catch (const std::system_error& e) {
    throw std::runtime_error("certificate or key (" + d.options.cert_file.string() + ", " +
                             d.options.key_file.string() + "): " + e.what());
  }
  try {
    const tcp::endpoint endpoint(asio::ip::make_address(d.options.address), d.options.port);
    d.acceptor.open(endpoint.protocol());
    d.acceptor.set_option(tcp::acceptor::reuse_address(true));
    d.acceptor.bind(endpoint);
    d.acceptor.listen();
    d.port = d.acceptor.local_endpoint().port();
  } catch (const std::system_error& e) {
    throw std::runtime_error("cannot listen on " + d.options.address + ":" +
                             std::to_string(d.options.port) + ": " + e.what());
  }
  d.Accept();
  const int count = std::max(1, d.options.threads);
  for (int i = 0; i < count; ++i) d.threads.emplace_back([&d] { d.io.run(); });
}

Server::~Server() {
  auto& d = *impl_;
  d.io.stop();
  for (auto& t : d.threads) t.join();
}

std::uint16_t Server::port() const {
  return impl_->port;
}

std::vector<std::string> Server::Requests() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::string> texts;
  texts.reserve(impl_->requests.size());
  for (const auto& r : impl_->requests) texts.push_back(r.text);
  return texts;
}

std::vector<ReceivedRequest> Server::RequestLog() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

std::uint64_t Server::ConnectionCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->connections;
}

void Server::SetScenario(Scenario scenario) {
  auto next = std::make_shared<const Scenario>(std::move(scenario));
  std::lock_guard lock(impl_->mutex);
  impl_->scenario = std::move(next);
}

}  // namespace vexmsg
