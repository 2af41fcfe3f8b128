// The race API's client side on Boost.Beast, synchronous.
#include "server/http_client.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

namespace {

// Blocking reads and writes that give up after the time (0: never).
void SetSocketTimeout(tcp::socket& socket, int seconds) {
  timeval time{};
  time.tv_sec = seconds;
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &time, sizeof time);
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &time, sizeof time);
}

bool Connect(net::io_context& io, const ServerUrl& url, tcp::socket& socket, int timeoutSeconds, std::string* error) {
  beast::error_code ec;
  tcp::resolver resolver(io);
  const auto addresses = resolver.resolve(url.host, url.port, ec);
  if (!ec) net::connect(socket, addresses, ec);
  if (ec) {
    *error = "can't reach " + url.host + ":" + url.port + ": " + ec.message();
    return false;
  }
  SetSocketTimeout(socket, timeoutSeconds);
  return true;
}

}  // namespace

bool ParseServerUrl(const std::string& text, ServerUrl* url, std::string* error) {
  static const std::string kScheme = "http://";
  if (text.compare(0, kScheme.size(), kScheme) != 0) {
    *error = "the server's URL is http://HOST[:PORT]";
    return false;
  }
  std::string rest = text.substr(kScheme.size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.empty() || rest.find('/') != std::string::npos) {
    *error = "the server's URL is http://HOST[:PORT]";
    return false;
  }
  ServerUrl parsed;
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
  *url = parsed;
  return true;
}

struct ApiClient::Connection {
  net::io_context io;
  tcp::socket socket{io};
  beast::flat_buffer buffer;
};

ApiClient::ApiClient(ServerUrl url, int timeoutSeconds) : url_(std::move(url)), timeoutSeconds_(timeoutSeconds) {}
ApiClient::~ApiClient() = default;

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
      connection_ = std::make_unique<Connection>();
      if (!Connect(connection_->io, url_, connection_->socket, timeoutSeconds_, &result.error)) {
        connection_.reset();
        return result;
      }
    }
    beast::error_code ec;
    http::write(connection_->socket, request, ec);
    http::response_parser<http::string_body> parser;
    parser.body_limit(256u << 20);
    if (!ec) http::read(connection_->socket, connection_->buffer, parser, ec);
    if (ec) {
      connection_.reset();
      if (!fresh) continue;
      result.error = "no answer from " + url_.host + ":" + url_.port + ": " + ec.message();
      return result;
    }
    const auto& response = parser.get();
    result.status = static_cast<int>(response.result_int());
    result.body = response.body();
    if (!response.keep_alive()) connection_.reset();
    return result;
  }
  return result;
}

struct EventStream::Stream {
  net::io_context io;
  websocket::stream<tcp::socket> ws{io};
  beast::flat_buffer buffer;
};

EventStream::EventStream() = default;
EventStream::~EventStream() {
  if (stream_ != nullptr) {
    beast::error_code ignored;
    stream_->ws.next_layer().close(ignored);
  }
}

bool EventStream::Open(const ServerUrl& url, const std::string& token, long long race, long long after,
                       std::string* error, int* status) {
  if (status != nullptr) *status = 0;
  stream_ = std::make_unique<Stream>();
  if (!Connect(stream_->io, url, stream_->ws.next_layer(), 30, error)) return false;
  stream_->ws.set_option(websocket::stream_base::decorator([&token](websocket::request_type& request) {
    request.set(http::field::authorization, "Bearer " + token);
    request.set(http::field::user_agent, "apexgrid-online");
  }));
  std::string target = "/api/v1/races/" + std::to_string(race) + "/events";
  if (after >= 0) target += "?after=" + std::to_string(after);
  websocket::response_type response;
  beast::error_code ec = net::error::timed_out;
  // The asynchronous handshake hands back a refusal's answer too, which the blocking one drops.
  stream_->ws.async_handshake(response, url.host, target, [&ec](beast::error_code result) { ec = result; });
  stream_->io.run_for(std::chrono::seconds(30));
  stream_->io.restart();
  if (ec) {
    if (status != nullptr) *status = static_cast<int>(response.result_int());
    const unsigned answer = response.result_int();
    *error = answer >= 400 ? "the server refused the event stream (" + std::to_string(answer) + ")"
                           : "can't open the event stream: " + ec.message();
    stream_.reset();
    return false;
  }
  if (status != nullptr) *status = 101;
  return true;
}

bool EventStream::Next(std::string* message, int timeoutSeconds, std::string* error) {
  if (stream_ == nullptr) {
    *error = "the event stream is closed";
    return false;
  }
  SetSocketTimeout(stream_->ws.next_layer(), timeoutSeconds);
  beast::error_code ec;
  stream_->buffer.clear();
  stream_->ws.read(stream_->buffer, ec);
  if (ec) {
    *error = "the event stream ended: " + ec.message();
    return false;
  }
  *message = beast::buffers_to_string(stream_->buffer.data());
  return true;
}
