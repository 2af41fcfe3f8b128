// Single-instance endpoints: abstract local sockets named after a window's class and title.
//
// Abstract socket names vanish with the process that holds them, so a copy that crashed never
// leaves a stale endpoint behind, and binding is atomic, so of two copies started at once only
// one owns the name.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "platform/core.h"
#include "platform/text.h"

namespace {

constexpr char kFrontRequest[] = "front\n";

// Connections accepted at each endpoint that haven't said what they want yet.
std::map<int, std::vector<int>>& Pending() {
  static std::map<int, std::vector<int>> pending;
  return pending;
}

uint64_t Fnv1a(const std::string& text) {
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

socklen_t Address(const std::string& name, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  // Leading NUL: the abstract namespace, no file on disk.
  const size_t length = name.size() < sizeof address->sun_path - 1 ? name.size()
                                                                   : sizeof address->sun_path - 1;
  std::memcpy(address->sun_path + 1, name.data(), length);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

}  // namespace

std::string EndpointName(const std::u16string& className, const std::u16string& title) {
  std::string key = std::to_string(getuid());
  const char* instance = std::getenv("APEXGRID_INSTANCE");
  if (instance != nullptr) key += std::string("\n") + instance;
  const Backend* backend = ActiveBackend();
  if (backend != nullptr) key += backend->instanceScope();
  key += "\n" + ToUtf8(className) + "\n" + ToUtf8(title);
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv1a(key)));
  return std::string(backend != nullptr ? backend->instancePrefix : "apexgrid.") + hex;
}

int OpenEndpoint(const std::string& name) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address;
  const socklen_t length = Address(name, &address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int ConnectEndpoint(const std::string& name) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address;
  const socklen_t length = Address(name, &address);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int SendFrontRequest(int connection) {
  const ssize_t sent = send(connection, kFrontRequest, sizeof kFrontRequest - 1, MSG_NOSIGNAL);
  close(connection);
  return sent == static_cast<ssize_t>(sizeof kFrontRequest - 1) ? 0 : 1;
}

void SendNothing(int connection) { close(connection); }

int TakeFrontRequests(int endpoint) {
  std::vector<int>& pending = Pending()[endpoint];
  for (;;) {
    const int connection = accept4(endpoint, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (connection < 0) break;
    pending.push_back(connection);
  }
  int requests = 0;
  std::vector<int> still;
  for (int connection : pending) {
    char buffer[64];
    const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      still.push_back(connection);  // a copy that looked us up and hasn't asked anything yet
      continue;
    }
    if (got > 0 && std::memchr(buffer, 'f', static_cast<size_t>(got)) != nullptr) ++requests;
    close(connection);
  }
  pending.swap(still);
  return requests;
}

void CloseEndpoint(int endpoint) {
  if (endpoint < 0) return;
  auto found = Pending().find(endpoint);
  if (found != Pending().end()) {
    for (int connection : found->second) close(connection);
    Pending().erase(found);
  }
  close(endpoint);
}

void CloseAllConnections() {
  for (auto& entry : Pending()) {
    for (int connection : entry.second) close(connection);
  }
  Pending().clear();
}
