// The race API's client side on Boost.Beast, synchronous, over plain TCP or TLS.
#include "net/http_client.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <chrono>
#include <optional>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using TlsSocket = net::ssl::stream<tcp::socket>;

namespace {

// Blocking reads and writes that give up after the time (0: never).
void SetSocketTimeout(tcp::socket& socket, int seconds) {
  timeval time{};
  time.tv_sec = seconds;
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &time, sizeof time);
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &time, sizeof time);
}

// The connection is made within the time too: a host that never answers (a dropped packet, a
// firewall) would otherwise hold the caller for the system's own minutes.
bool Connect(net::io_context& io, const ServerUrl& url, tcp::socket& socket, int timeoutSeconds, std::string* error) {
  beast::error_code ec;
  tcp::resolver resolver(io);
  const auto addresses = resolver.resolve(url.host, url.port, ec);
  if (!ec) {
    ec = net::error::timed_out;
    net::async_connect(socket, addresses, [&ec](beast::error_code result, const tcp::endpoint&) { ec = result; });
    io.run_for(std::chrono::seconds(timeoutSeconds > 0 ? timeoutSeconds : 30));
    io.restart();
    if (ec == net::error::timed_out) socket.close();
  }
  if (ec) {
    *error = "can't reach " + url.host + ":" + url.port + ": " + ec.message();
    return false;
  }
  SetSocketTimeout(socket, timeoutSeconds);
  return true;
}

// The certificates a TLS server is checked against: the file given, else the system's.
bool PrepareTls(const ServerUrl& url, net::ssl::context& context, std::string* error) {
  beast::error_code ec;
  context.set_verify_mode(net::ssl::verify_peer);
  if (url.caFile.empty()) {
    context.set_default_verify_paths(ec);
  } else {
    context.load_verify_file(url.caFile, ec);
  }
  if (ec) *error = "can't read the certificates to trust: " + ec.message();
  return !ec;
}

// The TLS handshake, checking that the certificate names the host.
bool Handshake(TlsSocket& stream, const ServerUrl& url, std::string* error) {
  SSL_set_tlsext_host_name(stream.native_handle(), url.host.c_str());
  stream.set_verify_callback(net::ssl::host_name_verification(url.host));
  beast::error_code ec;
  stream.handshake(net::ssl::stream_base::client, ec);
  if (ec) *error = "no secure connection to " + url.host + ":" + url.port + ": " + ec.message();
  return !ec;
}

}  // namespace

bool ParseServerUrl(const std::string& text, ServerUrl* url, std::string* error) {
  static const std::string kPlain = "http://";
  static const std::string kSecure = "https://";
  ServerUrl parsed;
  std::string rest;
  if (text.compare(0, kPlain.size(), kPlain) == 0) {
    rest = text.substr(kPlain.size());
  } else if (text.compare(0, kSecure.size(), kSecure) == 0) {
    rest = text.substr(kSecure.size());
    parsed.tls = true;
    parsed.port = "443";
  } else {
    *error = "the server's URL is http[s]://HOST[:PORT]";
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.empty() || rest.find('/') != std::string::npos) {
    *error = "the server's URL is http[s]://HOST[:PORT]";
    return false;
  }
  const size_t colon = rest.rfind(':');
  if (colon != std::string::npos && rest.find(']', colon) == std::string::npos) {
    parsed.port = rest.substr(colon + 1);
    rest.resize(colon);
    if (parsed.port.empty() || parsed.port.size() > 5 ||
        parsed.port.find_first_not_of("0123456789") != std::string::npos) {
      *error = "the server's port is a number";
      return false;
    }
  }
  if (rest.size() > 2 && rest.front() == '[' && rest.back() == ']') rest = rest.substr(1, rest.size() - 2);
  parsed.host = rest;
  parsed.caFile = url->caFile;
  *url = parsed;
  return true;
}

struct ApiClient::Connection {
  net::io_context io;
  net::ssl::context tls{net::ssl::context::tls_client};
  std::optional<tcp::socket> plain;
  std::optional<TlsSocket> secure;
  beast::flat_buffer buffer;
  std::atomic<int> descriptor{-1};  // the connected socket, for Interrupt from another thread

  bool Open(const ServerUrl& url, int timeoutSeconds, std::string* error) {
    tcp::socket socket(io);
    if (!Connect(io, url, socket, timeoutSeconds, error)) return false;
    descriptor.store(socket.native_handle());
    if (!url.tls) {
      plain.emplace(std::move(socket));
      return true;
    }
    if (!PrepareTls(url, tls, error)) return false;
    secure.emplace(std::move(socket), tls);
    return Handshake(*secure, url, error);
  }

  template <class Stream>
  void Exchange(Stream& stream, http::request<http::string_body>& request,
                http::response_parser<http::string_body>& parser, beast::error_code& ec) {
    http::write(stream, request, ec);
    if (!ec) http::read(stream, buffer, parser, ec);
  }
};

ApiClient::ApiClient(ServerUrl url, int timeoutSeconds) : url_(std::move(url)), timeoutSeconds_(timeoutSeconds) {}
ApiClient::~ApiClient() = default;

void ApiClient::Interrupt() {
  std::lock_guard<std::mutex> hold(guard_);
  interrupted_ = true;
  if (connection_ == nullptr) return;
  // A connection under way stops waiting; one made stops reading and writing.
  connection_->io.stop();
  const int descriptor = connection_->descriptor.load();
  if (descriptor >= 0) ::shutdown(descriptor, SHUT_RDWR);
}

HttpResult ApiClient::Call(const std::string& method, const std::string& path, const std::string& body,
                           const std::string& contentType) {
  HttpResult result;
  http::request<http::string_body> request(http::string_to_verb(method), "/api/v1/" + path, 11);
  request.set(http::field::host, url_.host);
  request.set(http::field::user_agent, "apexgrid-online");
  if (!token_.empty()) request.set(http::field::authorization, "Bearer " + token_);
  if (!body.empty() || method == "POST" || method == "PUT") {
    request.set(http::field::content_type, contentType);
    request.body() = body;
  }
  request.keep_alive(true);
  request.prepare_payload();
  // A kept connection the server has closed meanwhile is opened again once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool fresh = connection_ == nullptr;
    if (fresh) {
      {
        std::lock_guard<std::mutex> hold(guard_);
        if (interrupted_) {
          result.error = "the call was given up";
          return result;
        }
        connection_ = std::make_unique<Connection>();
      }
      if (!connection_->Open(url_, timeoutSeconds_, &result.error)) {
        std::lock_guard<std::mutex> hold(guard_);
        connection_.reset();
        return result;
      }
    }
    beast::error_code ec;
    http::response_parser<http::string_body> parser;
    parser.body_limit(256u << 20);
    if (connection_->secure) {
      connection_->Exchange(*connection_->secure, request, parser, ec);
    } else {
      connection_->Exchange(*connection_->plain, request, parser, ec);
    }
    if (ec) {
      {
        std::lock_guard<std::mutex> hold(guard_);
        connection_.reset();
        if (interrupted_) {
          result.error = "the call was given up";
          return result;
        }
      }
      if (!fresh) continue;
      result.error = "no answer from " + url_.host + ":" + url_.port + ": " + ec.message();
      return result;
    }
    const auto& response = parser.get();
    result.status = static_cast<int>(response.result_int());
    result.body = response.body();
    if (!response.keep_alive()) {
      std::lock_guard<std::mutex> hold(guard_);
      connection_.reset();
    }
    return result;
  }
  return result;
}

struct EventStream::Stream {
  net::io_context io;
  net::ssl::context tls{net::ssl::context::tls_client};
  std::optional<websocket::stream<tcp::socket>> plain;
  std::optional<websocket::stream<TlsSocket>> secure;
  beast::flat_buffer buffer;
  std::atomic<int> descriptor{-1};  // the socket, for Interrupt from another thread
  // The read under way: one that outlasts a Next's time goes on into the next Next, so that no
  // message is lost or cut.
  bool reading = false;
  bool read = false;
  beast::error_code readError;

  // The upgrade, asynchronously: it hands back a refusal's answer too, which the blocking one
  // drops.
  template <class Ws>
  beast::error_code Upgrade(Ws& ws, const std::string& token, const std::string& host, const std::string& target,
                            websocket::response_type* response) {
    ws.set_option(websocket::stream_base::decorator([token](websocket::request_type& request) {
      request.set(http::field::authorization, "Bearer " + token);
      request.set(http::field::user_agent, "apexgrid-online");
    }));
    beast::error_code ec = net::error::timed_out;
    ws.async_handshake(*response, host, target, [&ec](beast::error_code result) { ec = result; });
    io.run_for(std::chrono::seconds(30));
    io.restart();
    return ec;
  }
};

EventStream::EventStream() = default;
EventStream::~EventStream() = default;

bool EventStream::Open(const ServerUrl& url, const std::string& token, long long race, long long after,
                       std::string* error, int* status) {
  if (status != nullptr) *status = 0;
  stream_ = std::make_unique<Stream>();
  tcp::socket socket(stream_->io);
  if (!Connect(stream_->io, url, socket, 30, error)) return false;
  std::string target = "/api/v1/races/" + std::to_string(race) + "/events";
  if (after >= 0) target += "?after=" + std::to_string(after);
  websocket::response_type response;
  beast::error_code ec;
  if (url.tls) {
    if (!PrepareTls(url, stream_->tls, error)) return false;
    stream_->secure.emplace(std::move(socket), stream_->tls);
    if (!Handshake(stream_->secure->next_layer(), url, error)) return false;
    ec = stream_->Upgrade(*stream_->secure, token, url.host, target, &response);
  } else {
    stream_->plain.emplace(std::move(socket));
    ec = stream_->Upgrade(*stream_->plain, token, url.host, target, &response);
  }
  if (ec) {
    const unsigned answer = response.result_int();
    if (status != nullptr) *status = static_cast<int>(answer);
    *error = answer >= 400 ? "the server refused the event stream (" + std::to_string(answer) + ")"
                           : "can't open the event stream: " + ec.message();
    stream_.reset();
    return false;
  }
  if (status != nullptr) *status = 101;
  stream_->descriptor.store(url.tls ? beast::get_lowest_layer(*stream_->secure).native_handle()
                                    : beast::get_lowest_layer(*stream_->plain).native_handle());
  return true;
}

void EventStream::Interrupt() {
  // Only the descriptor is touched here: shutting it down ends a read under way on the stream's
  // own thread, which then closes and frees it.
  Stream* stream = stream_.get();
  if (stream == nullptr) return;
  const int descriptor = stream->descriptor.load();
  if (descriptor >= 0) ::shutdown(descriptor, SHUT_RDWR);
}

bool EventStream::Next(std::string* message, int timeoutSeconds, std::string* error) {
  if (stream_ == nullptr) {
    *error = "the event stream is closed";
    return false;
  }
  // A blocking read would ignore the socket's own timeout (it waits on for the socket to be
  // ready), so the read is asynchronous, and the wait for it is what the time bounds.
  Stream& s = *stream_;
  if (!s.reading) {
    s.buffer.clear();
    s.reading = true;
    s.read = false;
    auto done = [&s](beast::error_code result, size_t) {
      s.readError = result;
      s.read = true;
    };
    if (s.secure) {
      s.secure->async_read(s.buffer, done);
    } else {
      s.plain->async_read(s.buffer, done);
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (!s.read) {
    if (timeoutSeconds <= 0) {
      s.io.run_one();
    } else if (s.io.run_one_until(deadline) == 0 && std::chrono::steady_clock::now() >= deadline) {
      break;
    }
    if (s.io.stopped()) s.io.restart();
  }
  if (!s.read) {
    *error = "no event within " + std::to_string(timeoutSeconds) + " s";
    return false;
  }
  s.reading = false;
  if (s.readError) {
    *error = "the event stream ended: " + s.readError.message();
    return false;
  }
  *message = beast::buffers_to_string(s.buffer.data());
  return true;
}
