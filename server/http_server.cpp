// Boost.Beast sessions for the service: plain HTTP requests handed to the workers, and the event
// streams as WebSockets.
#include "server/http_server.h"

#include <sys/resource.h>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <chrono>
#include <deque>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_map>

#include "server/service.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

namespace {

constexpr size_t kHeaderLimit = size_t{8} * 1024;
// A listener that reads no more than this many messages behind is cut off: a stalled reader
// costs bounded memory. The backlog a stream starts with counts apart, whatever the race's length:
// a client catching up on a long race is not cut for it.
constexpr size_t kMaxQueuedMessages = 1024;

// An event stream's socket sends from a buffer this large, where the system's own would grow to
// megabytes for a reader that stalls (on loopback above all): its messages are small and few, and
// 2,000 stalled streams must not hold gigabytes of the kernel's memory.
constexpr int kStreamSendBuffer = 16 * 1024;

template <class Stream>
void SmallSendBuffer(Stream& stream) {
  beast::error_code ignored;
  beast::get_lowest_layer(stream).socket().set_option(net::socket_base::send_buffer_size(kStreamSendBuffer), ignored);
}

std::string CutLine(const std::string& address, int64_t race) {
  return address + " event stream of race " + std::to_string(race) + " cut, " + std::to_string(kMaxQueuedMessages) +
         " messages behind";
}
// A server-sent event stream says something this often, so that a proxy keeps it open and a
// client that went is noticed.
constexpr int kStreamPingSeconds = 20;

using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

struct Shared {
  Service& service;
  const HttpOptions& options;
  const std::function<void(const std::string&)>& log;
  net::thread_pool& workers;
  net::ssl::context* tls;  // null: plain HTTP
  size_t maxConnections;   // the options', within the descriptors the process may have
  std::atomic<size_t> connections{0};

  // Each address's requests, as a bucket that refills at the options' rate and holds a minute of
  // them. The network thread's alone.
  struct Bucket {
    double requests = 0;
    std::chrono::steady_clock::time_point at;
  };
  std::unordered_map<std::string, Bucket> buckets{};

  // Whether the address may make one more request now.
  bool Allowed(const std::string& address) {
    const int perMinute = options.requestsPerMinute;
    if (perMinute <= 0) return true;
    const auto now = std::chrono::steady_clock::now();
    if (buckets.size() > 100000) {
      // Many addresses: those with a full bucket again are as good as new.
      for (auto it = buckets.begin(); it != buckets.end();) {
        const double refill = std::chrono::duration<double>(now - it->second.at).count() * perMinute / 60.0;
        it = it->second.requests + refill >= perMinute ? buckets.erase(it) : std::next(it);
      }
    }
    auto [it, made] = buckets.try_emplace(address, Bucket{static_cast<double>(perMinute), now});
    Bucket& bucket = it->second;
    if (!made) {
      const double refill = std::chrono::duration<double>(now - bucket.at).count() * perMinute / 60.0;
      bucket.requests = std::min<double>(perMinute, bucket.requests + refill);
      bucket.at = now;
    }
    if (bucket.requests < 1) return false;
    bucket.requests -= 1;
    return true;
  }
};

// Closes the connection under a stream of either kind, at once.
template <class Stream>
void CloseLowest(Stream& stream) {
  beast::error_code ignored;
  auto& socket = beast::get_lowest_layer(stream).socket();
  socket.shutdown(tcp::socket::shutdown_both, ignored);
  socket.close(ignored);
}

// Holds a connection's place in the count while the connection lives.
struct ConnectionSlot {
  explicit ConnectionSlot(Shared& shared) : shared_(shared) { ++shared_.connections; }
  ~ConnectionSlot() { --shared_.connections; }
  ConnectionSlot(const ConnectionSlot&) = delete;
  ConnectionSlot& operator=(const ConnectionSlot&) = delete;
  Shared& shared_;
};

std::string LogLine(const std::string& address, const std::string& method, const std::string& target, int status,
                    std::chrono::steady_clock::time_point start, const std::string& who) {
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  char took[32];
  std::snprintf(took, sizeof took, "%.1fms", ms);
  // The target is logged up to 200 characters; tokens never travel in it.
  return address + " " + method + " " + target.substr(0, 200) + " " + std::to_string(status) + " " + took +
         (who.empty() ? "" : " " + who);
}

// The race and the `after` of an events target, /api/v1/races/ID/events?after=N; false for any other.
bool EventsTarget(const std::string& target, int64_t* race, int64_t* after) {
  static const std::string kPrefix = "/api/v1/races/";
  if (target.compare(0, kPrefix.size(), kPrefix) != 0) return false;
  size_t at = kPrefix.size();
  int64_t id = 0;
  size_t digits = 0;
  while (at < target.size() && target[at] >= '0' && target[at] <= '9' && digits < 18) {
    id = id * 10 + (target[at++] - '0');
    ++digits;
  }
  static const std::string kEvents = "/events";
  if (digits == 0 || target.compare(at, kEvents.size(), kEvents) != 0) return false;
  at += kEvents.size();
  *race = id;
  *after = -1;
  if (at == target.size()) return true;
  static const std::string kAfter = "?after=";
  if (target.compare(at, kAfter.size(), kAfter) != 0) return false;
  at += kAfter.size();
  int64_t value = 0;
  digits = 0;
  while (at < target.size() && target[at] >= '0' && target[at] <= '9' && digits < 18) {
    value = value * 10 + (target[at++] - '0');
    ++digits;
  }
  if (digits == 0 || at != target.size()) return false;
  *after = value;
  return true;
}

template <class Stream>
class EventSession : public std::enable_shared_from_this<EventSession<Stream>> {
 public:
  EventSession(Stream&& stream, Shared& shared, std::string address)
      : ws_(std::move(stream)), shared_(shared), slot_(shared), address_(std::move(address)) {}

  ~EventSession() {
    if (subscription_ != 0) shared_.service.Unsubscribe(subscription_);
  }

  void Start(http::request<http::string_body> request, int64_t race, int64_t after) {
    const auto start = std::chrono::steady_clock::now();
    const std::string target(request.target());
    std::vector<std::string> backlog;
    std::weak_ptr<EventSession> weak = this->weak_from_this();
    auto executor = ws_.get_executor();
    // On the network thread, as every message this session sends: the listener's messages come
    // after the backlog.
    ApiReply refusal = shared_.service.Subscribe(
        std::string(request[http::field::authorization]), race, after,
        [weak, executor](const std::string& message) {
          net::post(executor, [weak, message] {
            if (auto self = weak.lock()) self->Send(message);
          });
        },
        &backlog, &subscription_);
    shared_.log(LogLine(address_, "GET", target, subscription_ != 0 ? 101 : refusal.status, start, refusal.who));
    beast::get_lowest_layer(ws_).expires_never();
    websocket::stream_base::timeout timeouts = websocket::stream_base::timeout::suggested(beast::role_type::server);
    timeouts.idle_timeout = std::chrono::seconds(shared_.options.idleSeconds);
    timeouts.keep_alive_pings = true;
    ws_.set_option(timeouts);
    if (subscription_ == 0) {
      // Refused before the handshake: the answer is a plain HTTP one, and the connection ends.
      auto response = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(refusal.status),
                                                                          request.version());
      response->set(http::field::content_type, refusal.contentType);
      response->keep_alive(false);
      response->body() = std::move(refusal.body);
      response->prepare_payload();
      beast::get_lowest_layer(ws_).expires_after(std::chrono::seconds(shared_.options.headerSeconds));
      http::async_write(
          ws_.next_layer(), *response,
          [self = this->shared_from_this(), response](beast::error_code, size_t) { CloseLowest(self->ws_); });
      return;
    }
    for (std::string& message : backlog) queue_.push_back(std::move(message));
    backlogLeft_ = queue_.size();
    SmallSendBuffer(ws_);
    race_ = race;
    ws_.async_accept(request, [self = this->shared_from_this()](beast::error_code ec) {
      if (ec) return;
      self->accepted_ = true;
      self->Write();
      self->Read();
    });
  }

 private:
  void Send(const std::string& message) {
    if (closed_) return;
    if (queue_.size() >= backlogLeft_ + kMaxQueuedMessages) {
      closed_ = true;
      CloseLowest(ws_);
      shared_.log(CutLine(address_, race_));
      return;
    }
    queue_.push_back(message);
    if (accepted_) Write();
  }

  void Write() {
    if (writing_ || queue_.empty() || closed_) return;
    writing_ = true;
    ws_.text(true);
    ws_.async_write(net::buffer(queue_.front()), [self = this->shared_from_this()](beast::error_code ec, size_t) {
      self->writing_ = false;
      if (ec) {
        self->closed_ = true;
        return;
      }
      self->queue_.pop_front();
      if (self->backlogLeft_ > 0) --self->backlogLeft_;
      self->Write();
    });
  }

  // Reads and drops what the client sends; a read ends when the connection does.
  void Read() {
    ws_.async_read(readBuffer_, [self = this->shared_from_this()](beast::error_code ec, size_t) {
      if (ec) {
        self->closed_ = true;
        return;
      }
      self->readBuffer_.consume(self->readBuffer_.size());
      self->Read();
    });
  }

  websocket::stream<Stream> ws_;
  Shared& shared_;
  ConnectionSlot slot_;
  std::string address_;
  beast::flat_buffer readBuffer_;
  std::deque<std::string> queue_;
  size_t backlogLeft_ = 0;  // of the queue's front, the messages of the backlog
  int64_t race_ = 0;
  int subscription_ = 0;
  bool accepted_ = false;
  bool writing_ = false;
  bool closed_ = false;
};

// The event stream as server-sent events: the answer's body never ends, each message an event
// named by its move's index, which a reconnecting client sends back as Last-Event-ID.
template <class Stream>
class SentEventSession : public std::enable_shared_from_this<SentEventSession<Stream>> {
 public:
  SentEventSession(Stream&& stream, Shared& shared, std::string address)
      : stream_(std::move(stream)),
        shared_(shared),
        slot_(shared),
        address_(std::move(address)),
        ping_(beast::get_lowest_layer(stream_).get_executor()) {}

  ~SentEventSession() {
    if (subscription_ != 0) shared_.service.Unsubscribe(subscription_);
  }

  void Start(const http::request<http::string_body>& request, int64_t race, int64_t after) {
    const auto start = std::chrono::steady_clock::now();
    const std::string target(request.target());
    std::vector<std::string> backlog;
    std::weak_ptr<SentEventSession> weak = this->weak_from_this();
    auto executor = beast::get_lowest_layer(stream_).get_executor();
    ApiReply refusal = shared_.service.Subscribe(
        std::string(request[http::field::authorization]), race, after,
        [weak, executor](const std::string& message) {
          net::post(executor, [weak, message] {
            if (auto self = weak.lock()) self->Send(Event(message));
          });
        },
        &backlog, &subscription_);
    shared_.log(LogLine(address_, "GET", target, subscription_ != 0 ? 200 : refusal.status, start, refusal.who));
    if (subscription_ == 0) {
      auto response = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(refusal.status),
                                                                          request.version());
      response->set(http::field::server, "apexgrid-server");
      response->set(http::field::content_type, refusal.contentType);
      response->keep_alive(false);
      response->body() = std::move(refusal.body);
      response->prepare_payload();
      beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(shared_.options.headerSeconds));
      http::async_write(stream_, *response, [self = this->shared_from_this(), response](beast::error_code, size_t) {
        CloseLowest(self->stream_);
      });
      return;
    }
    beast::get_lowest_layer(stream_).expires_never();
    queue_.push_back(
        "HTTP/1.1 200 OK\r\nServer: apexgrid-server\r\nContent-Type: text/event-stream\r\n"
        "Cache-Control: no-store\r\nConnection: close\r\n\r\n");
    for (const std::string& message : backlog) queue_.push_back(Event(message));
    backlogLeft_ = queue_.size();
    SmallSendBuffer(stream_);
    race_ = race;
    Write();
    Read();
    Ping();
  }

 private:
  // A message as an event; a move's carries its index as the event's id.
  static std::string Event(const std::string& message) {
    const nlohmann::json event = nlohmann::json::parse(message, nullptr, false);
    std::string text;
    if (event.is_object() && event.value("type", "") == "move") {
      text = "id: " + std::to_string(event.value("index", 0)) + "\n";
    }
    return text + "data: " + message + "\n\n";
  }

  void Send(std::string text) {
    if (closed_) return;
    if (queue_.size() >= backlogLeft_ + kMaxQueuedMessages) {
      shared_.log(CutLine(address_, race_));
      return Close();
    }
    queue_.push_back(std::move(text));
    Write();
  }

  void Write() {
    if (writing_ || queue_.empty() || closed_) return;
    writing_ = true;
    net::async_write(stream_, net::buffer(queue_.front()),
                     [self = this->shared_from_this()](beast::error_code ec, size_t) {
                       self->writing_ = false;
                       if (ec) return self->Close();
                       self->queue_.pop_front();
                       if (self->backlogLeft_ > 0) --self->backlogLeft_;
                       self->Write();
                     });
  }

  // The client says nothing more; a read ends when its connection does.
  void Read() {
    stream_.async_read_some(net::buffer(scratch_), [self = this->shared_from_this()](beast::error_code ec, size_t) {
      if (ec) return self->Close();
      self->Read();
    });
  }

  void Ping() {
    ping_.expires_after(std::chrono::seconds(kStreamPingSeconds));
    ping_.async_wait([weak = this->weak_from_this()](beast::error_code ec) {
      auto self = weak.lock();
      if (ec || self == nullptr || self->closed_) return;
      self->Send(":\n\n");
      self->Ping();
    });
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    ping_.cancel();
    CloseLowest(stream_);
  }

  Stream stream_;
  Shared& shared_;
  ConnectionSlot slot_;
  std::string address_;
  net::steady_timer ping_;
  std::deque<std::string> queue_;
  size_t backlogLeft_ = 0;  // of the queue's front, the header and the messages of the backlog
  int64_t race_ = 0;
  char scratch_[512];
  int subscription_ = 0;
  bool writing_ = false;
  bool closed_ = false;
};

// The moves after which a server-sent event stream resumes: the target's `after`, else the last
// event's id the client had, else none (-1).
int64_t LastEventId(const http::request<http::string_body>& request, int64_t after) {
  if (after >= 0) return after;
  const auto field = request.find("Last-Event-ID");
  if (field == request.end()) return -1;
  const std::string text(field->value());
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stoll(text);
}

template <class Stream>
class HttpSession : public std::enable_shared_from_this<HttpSession<Stream>> {
 public:
  HttpSession(Stream&& stream, Shared& shared) : stream_(std::move(stream)), shared_(shared), slot_(shared) {
    beast::error_code ec;
    const tcp::endpoint peer = Lowest().socket().remote_endpoint(ec);
    address_ = ec ? "?" : peer.address().to_string();
  }

  void Start() {
    if constexpr (std::is_same_v<Stream, TlsStream>) {
      // The handshake is part of the header's time.
      Lowest().expires_after(std::chrono::seconds(shared_.options.headerSeconds));
      stream_.async_handshake(net::ssl::stream_base::server, [self = this->shared_from_this()](beast::error_code ec) {
        if (ec) return self->Close();
        self->ReadHeader(false);
      });
    } else {
      ReadHeader(false);
    }
  }

 private:
  beast::tcp_stream& Lowest() { return beast::get_lowest_layer(stream_); }

  void ReadHeader(bool idle) {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    // The header is read against the largest body any request may have; its own limit is set
    // once the target is known.
    parser_->body_limit(kMaxCircuitBody);
    // The whole header must come within its time, however slowly its bytes trickle in.
    Lowest().expires_after(std::chrono::seconds(idle ? shared_.options.idleSeconds : shared_.options.headerSeconds));
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = this->shared_from_this()](beast::error_code ec, size_t) { self->OnHeader(ec); });
  }

  void OnHeader(beast::error_code ec) {
    start_ = std::chrono::steady_clock::now();
    if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::operation_aborted ||
        ec == net::error::connection_reset || ec == net::error::eof || ec == net::ssl::error::stream_truncated) {
      return Close();
    }
    if (ec == http::error::body_limit) return Refuse(413, "the body is too large");
    if (ec) return Refuse(ec == http::error::header_limit ? 431 : 400, "malformed request");
    auto& request = parser_->get();
    method_ = std::string(request.method_string());
    target_ = std::string(request.target());
    int64_t race = 0;
    int64_t after = 0;
    // Every request counts against its address, the event streams' included.
    if (!shared_.Allowed(address_)) {
      retryAfter_ = true;
      return Refuse(429, "too many requests; try again later");
    }
    if (websocket::is_upgrade(request)) {
      if (!EventsTarget(target_, &race, &after)) return Refuse(404, "no event stream here");
      auto session = std::make_shared<EventSession<Stream>>(std::move(stream_), shared_, address_);
      session->Start(parser_->release(), race, after);
      return;
    }
    if (request.method() == http::verb::get && EventsTarget(target_, &race, &after) &&
        std::string(request[http::field::accept]).find("text/event-stream") != std::string::npos) {
      auto session = std::make_shared<SentEventSession<Stream>>(std::move(stream_), shared_, address_);
      session->Start(request, race, LastEventId(request, after));
      return;
    }
    const bool circuit = request.method() == http::verb::put && target_ == "/api/v1/circuits";
    const size_t limit = circuit ? kMaxCircuitBody : kMaxJsonBody;
    // A body announced too large is refused before a byte of it is read.
    if (parser_->content_length() && *parser_->content_length() > limit) {
      return Refuse(413, "the body is too large");
    }
    parser_->body_limit(limit);
    Lowest().expires_after(std::chrono::seconds(circuit ? shared_.options.bodySeconds : shared_.options.headerSeconds));
    http::async_read(stream_, buffer_, *parser_,
                     [self = this->shared_from_this()](beast::error_code ec2, size_t) { self->OnBody(ec2); });
  }

  void OnBody(beast::error_code ec) {
    if (ec == http::error::body_limit) return Refuse(413, "the body is too large");
    if (ec == beast::error::timeout || ec == http::error::end_of_stream || ec == net::error::eof ||
        ec == net::error::connection_reset || ec == net::ssl::error::stream_truncated) {
      return Close();
    }
    if (ec) return Refuse(400, "malformed request");
    Lowest().expires_never();
    auto request = std::make_shared<http::request<http::string_body>>(parser_->release());
    ApiRequest api;
    api.method = method_;
    api.target = target_;
    api.body = std::move(request->body());
    api.authorization = std::string((*request)[http::field::authorization]);
    api.address = address_;
    keepAlive_ = request->keep_alive();
    version_ = request->version();
    net::post(shared_.workers, [self = this->shared_from_this(), api = std::move(api)] {
      ApiReply reply = self->shared_.service.Handle(api);
      net::post(self->Lowest().get_executor(), [self, reply = std::move(reply)]() mutable { self->Answer(reply); });
    });
  }

  void Refuse(int status, const std::string& reason) {
    keepAlive_ = false;
    ApiReply reply;
    reply.status = status;
    reply.body = "{\"error\":\"" + reason + "\"}";
    if (method_.empty()) method_ = "-";
    if (target_.empty()) target_ = "-";
    Answer(reply);
  }

  void Answer(ApiReply& reply) {
    shared_.log(LogLine(address_, method_, target_, reply.status, start_, reply.who));
    auto response = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(reply.status),
                                                                        version_ == 10 ? 10 : 11);
    response->set(http::field::server, "apexgrid-server");
    response->set(http::field::content_type, reply.contentType);
    if (retryAfter_) response->set(http::field::retry_after, "60");
    response->keep_alive(keepAlive_);
    response->body() = std::move(reply.body);
    response->prepare_payload();
    Lowest().expires_after(std::chrono::seconds(shared_.options.bodySeconds));
    http::async_write(stream_, *response, [self = this->shared_from_this(), response](beast::error_code ec, size_t) {
      if (ec || !response->keep_alive()) return self->Close();
      self->method_.clear();
      self->target_.clear();
      self->ReadHeader(true);
    });
  }

  void Close() { CloseLowest(stream_); }

  Stream stream_;
  Shared& shared_;
  ConnectionSlot slot_;
  std::string address_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::string method_;
  std::string target_;
  bool keepAlive_ = true;
  bool retryAfter_ = false;
  unsigned version_ = 11;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void Accept(tcp::acceptor& acceptor, Shared& shared, net::steady_timer& pause) {
  acceptor.async_accept([&acceptor, &shared, &pause](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
    if (ec) {
      // Out of descriptors or memory: the pending connection stays queued, and accepting at once
      // again would only spin. A moment later some may have closed.
      pause.expires_after(std::chrono::milliseconds(50));
      pause.async_wait([&acceptor, &shared, &pause](beast::error_code waited) {
        if (!waited) Accept(acceptor, shared, pause);
      });
      return;
    }
    {
      if (shared.connections.load() >= shared.maxConnections) {
        beast::error_code ignored;
        socket.close(ignored);
      } else if (shared.tls != nullptr) {
        std::make_shared<HttpSession<TlsStream>>(TlsStream(std::move(socket), *shared.tls), shared)->Start();
      } else {
        std::make_shared<HttpSession<PlainStream>>(PlainStream(std::move(socket)), shared)->Start();
      }
    }
    Accept(acceptor, shared, pause);
  });
}

}  // namespace

int ServeHttp(Service& service, const HttpOptions& options, const std::function<void(const std::string&)>& log,
              const std::function<void(const std::string&)>& ready) {
  // Room for every connection allowed, and the files besides.
  rlimit files{};
  size_t maxConnections = options.maxConnections;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    if (files.rlim_cur < files.rlim_max) {
      files.rlim_cur = files.rlim_max;
      setrlimit(RLIMIT_NOFILE, &files);
      getrlimit(RLIMIT_NOFILE, &files);
    }
    // The database, the circuits and the log keep a few descriptors of their own.
    if (files.rlim_cur != RLIM_INFINITY) {
      maxConnections = std::min<size_t>(maxConnections, files.rlim_cur > 128 ? files.rlim_cur - 64 : 64);
    }
  }
  // Declared so that the network's sessions, which the io_context may still hold, go before what
  // they use.
  net::ssl::context tls(net::ssl::context::tls_server);
  if (!options.tlsCertificate.empty()) {
    beast::error_code ec;
    tls.set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 | net::ssl::context::no_sslv3 |
                    net::ssl::context::no_tlsv1 | net::ssl::context::no_tlsv1_1);
    tls.use_certificate_chain_file(options.tlsCertificate, ec);
    if (ec) {
      log("can't read the certificate " + options.tlsCertificate + ": " + ec.message());
      return 1;
    }
    tls.use_private_key_file(options.tlsKey, net::ssl::context::pem, ec);
    if (ec) {
      log("can't read the key " + options.tlsKey + ": " + ec.message());
      return 1;
    }
  }
  net::thread_pool workers(static_cast<size_t>(options.workers));
  Shared shared{service, options, log, workers, options.tlsCertificate.empty() ? nullptr : &tls, maxConnections};
  net::io_context io(1);
  beast::error_code ec;
  const net::ip::address address = net::ip::make_address(options.address, ec);
  if (ec) {
    log("can't listen on " + options.address + ": not an address");
    return 1;
  }
  tcp::acceptor acceptor(io);
  const tcp::endpoint endpoint(address, options.port);
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    log("can't listen on " + options.address + ":" + std::to_string(options.port) + ": " + ec.message());
    return 1;
  }
  const tcp::endpoint bound = acceptor.local_endpoint();
  ready(bound.address().to_string() + ":" + std::to_string(bound.port()));
  net::steady_timer acceptPause(io);
  Accept(acceptor, shared, acceptPause);
  net::signal_set signals(io, SIGTERM, SIGINT);
  signals.async_wait([&](beast::error_code, int) {
    log("stopping");
    beast::error_code ignored;
    acceptor.close(ignored);
    acceptPause.cancel();
    io.stop();
  });
  io.run();
  // The requests under way finish (their answers go nowhere); nothing is cut mid-transaction.
  workers.join();
  return 0;
}
