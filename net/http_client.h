// A small client of the race API over Boost.Beast, plain or over TLS, synchronous: for
// apexgrid-online, the tests and the threaded client below the game (net/client.h). Calls with
// JSON bodies and a bearer token, and a race's event stream as a WebSocket.
#pragma once

#include <memory>
#include <mutex>
#include <string>

struct ServerUrl {
  std::string host;
  std::string port = "80";
  bool tls = false;
  std::string caFile;  // PEM certificates to trust over TLS; empty: the system's
};

// http://HOST[:PORT][/] or https://...; false with a reason for anything else. The CA file the url
// held is kept.
bool ParseServerUrl(const std::string& text, ServerUrl* url, std::string* error);

struct HttpResult {
  int status = 0;  // 0: no answer, the reason in error
  std::string body;
  std::string error;
};

class ApiClient {
 public:
  // Calls give up after `timeoutSeconds` without progress.
  explicit ApiClient(ServerUrl url, int timeoutSeconds = 30);
  ~ApiClient();
  ApiClient(const ApiClient&) = delete;
  ApiClient& operator=(const ApiClient&) = delete;

  void SetToken(const std::string& token) { token_ = token; }
  // METHOD /api/v1/PATH with the body; one connection, kept open between calls.
  HttpResult Call(const std::string& method, const std::string& path, const std::string& body = {},
                  const std::string& contentType = "application/json");
  // From another thread: the call under way gives up at once (no answer), and so does every later
  // one, so that a client shutting down never waits for a server that doesn't answer.
  void Interrupt();

 private:
  struct Connection;
  ServerUrl url_;
  int timeoutSeconds_;
  std::string token_;
  std::mutex guard_;  // connection_ as Interrupt sees it
  bool interrupted_ = false;
  std::unique_ptr<Connection> connection_;
};

// A race's events, as the server pushes them: one JSON message at a time.
class EventStream {
 public:
  EventStream();
  ~EventStream();
  EventStream(const EventStream&) = delete;
  EventStream& operator=(const EventStream&) = delete;

  // Opens /api/v1/races/RACE/events?after=AFTER (no after when it is negative). A refusal's
  // status is in *status (0 when there was no answer).
  bool Open(const ServerUrl& url, const std::string& token, long long race, long long after, std::string* error,
            int* status = nullptr);
  // The next message; false when the stream ended or `timeoutSeconds` (0: forever) passed.
  bool Next(std::string* message, int timeoutSeconds, std::string* error);
  // Ends a Next under way on another thread (it returns false), for a client shutting down. Safe to
  // call from any thread while the stream's own thread is in Next; not while it opens or closes.
  void Interrupt();

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};
