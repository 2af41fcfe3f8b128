// The HTTP/1.1 and WebSocket front of the service, on Boost.Beast, plain or over TLS: one network thread, a few
// worker threads for the requests, bounded connections, bodies, headers and time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

class Service;

struct HttpOptions {
  std::string address = "127.0.0.1";
  unsigned short port = 8470;
  size_t maxConnections = 20000;  // more are closed as soon as they come (fewer when the process
                                  // may not open that many descriptors)
  int headerSeconds = 10;         // to send a request's header, from its first byte or the last answer
  int idleSeconds = 60;           // a connection with no request in it
  int bodySeconds = 120;          // to send a body, the largest circuit included
  int workers = 3;
  // Requests an address may make in a minute, at once or spread (0: any number); more are
  // answered 429. Many clients behind one address stay under it, and so does a lobby.
  int requestsPerMinute = 60000;
  // Both given: HTTPS and secure WebSockets only; neither: plain HTTP.
  std::string tlsCertificate;  // PEM, the chain
  std::string tlsKey;          // PEM
};

// Serves until SIGTERM or SIGINT, then lets the requests under way end and returns 0; 1 when the
// address can't be had. `ready` hears the bound address ("127.0.0.1:8470"), the port chosen when
// 0 was given.
int ServeHttp(Service& service, const HttpOptions& options, const std::function<void(const std::string&)>& log,
              const std::function<void(const std::string&)>& ready);
