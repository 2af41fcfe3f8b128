// Single-instance endpoints: a lock and a local socket for each name, in a folder only the user
// can enter.
//
// The lock decides which copy owns a name. Taking it is one atomic step, and the kernel lets go of
// it when its holder ends however it ends, so of copies started together exactly one wins and a
// copy that crashed never stands in the way of the next. The socket beside it is where the other
// copies knock. Both live in a folder that belongs to the user and is closed to everyone else, so
// another user can neither take a name first nor connect; as a second guard, a connection from
// another user is closed unread, and a copy only knocks on a socket its own user holds.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "platform/core.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kFrontRequest[] = "front\n";
// Connections served at once by a holder; more wait in the listening queue.
constexpr size_t kServedAtOnce = 8;
constexpr int kListenQueue = 8;
// How long a connection may take to say what it wants before it is closed.
constexpr auto kReadLimit = std::chrono::milliseconds(1000);
// How long a copy keeps knocking while the holder is between taking the lock and listening, or
// its queue is full.
constexpr auto kKnockPatience = std::chrono::milliseconds(3000);
constexpr auto kKnockPause = std::chrono::milliseconds(10);

struct Knock {
  int connection;
  Clock::time_point deadline;
};

// A name this program holds: its lock, its listening socket's file, and the connections being
// served.
struct Holding {
  int lock = -1;
  std::string lockPath;
  std::string socketPath;
  std::vector<Knock> knocks;
};

std::map<int, Holding>& Held() {  // by listening socket
  static std::map<int, Holding> held;
  return held;
}

// Names taken by FindWindow for the window this program is about to create.
std::map<std::string, int>& Reserved() {
  static std::map<std::string, int> reserved;
  return reserved;
}

uint64_t Fnv1a(const std::string& text) {
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// A real folder (no link) that others can't rearrange: owned by the user or by root, and not
// writable by others unless sticky, as /tmp is.
bool SteadyFolder(const std::string& path) {
  struct stat p;
  return lstat(path.c_str(), &p) == 0 && S_ISDIR(p.st_mode) &&
         ((p.st_mode & S_IWOTH) == 0 || (p.st_mode & S_ISVTX) != 0) && (p.st_uid == geteuid() || p.st_uid == 0);
}

// A folder that only this user can enter, made when it is missing: a real folder (no link), owned
// by the user and open to no one else, in a steady parent. One that is there already but isn't so
// (another user's, or left open) is never mended: anyone may have been inside.
bool PrivateFolder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (path.empty() || path[0] != '/' || slash + 1 == path.size()) return false;
  if (!SteadyFolder(slash == 0 ? std::string("/") : path.substr(0, slash))) return false;
  mkdir(path.c_str(), 0700);
  struct stat f;
  return lstat(path.c_str(), &f) == 0 && S_ISDIR(f.st_mode) && f.st_uid == geteuid() && (f.st_mode & 077) == 0;
}

}  // namespace

// Where this user's endpoints live: the first usable of
//   RUNTIME/apexgrid        the user's runtime folder, /run/user/UID, which the session manager
//                           makes for every session of the user (a desktop and an ssh login alike);
//   TEMP/apexgrid-UID       /tmp, where no session manager made one (root on a build machine);
//   HOME/.cache/apexgrid    when another user took that name in /tmp first, or left it open.
// Every place is derived from the account (the uid, the home the password database gives), never
// from the environment (the headless backend's tests excepted: see AccountEndpointPlaces), so that
// every copy of the user goes down the same list and they meet in the same folder however each was
// started. A place that isn't the user's own is passed over.
// Empty when none will do (the program then runs without an endpoint). A socket's whole path must
// fit its address, so the name's length is allowed for.
std::string EndpointFolderIn(const EndpointPlaces& places, size_t nameLength) {
  const std::string candidates[] = {
      places.runtime.empty() ? std::string() : places.runtime + "/apexgrid",
      places.temp.empty() ? std::string() : places.temp + "/apexgrid-" + std::to_string(geteuid()),
      places.home.empty() ? std::string() : places.home + "/.cache/apexgrid",
  };
  for (const std::string& folder : candidates) {
    if (folder.empty() || folder.size() + 1 + nameLength + 5 >= sizeof(sockaddr_un::sun_path)) continue;
    // The cache folder is made as any program that caches would make it.
    if (folder == candidates[2] && SteadyFolder(places.home)) mkdir((places.home + "/.cache").c_str(), 0700);
    if (PrivateFolder(folder)) return folder;
  }
  return std::string();
}

EndpointPlaces AccountEndpointPlaces() {
  EndpointPlaces places;
  const std::string uid = std::to_string(geteuid());
  places.runtime = "/run/user/" + uid;
  places.temp = "/tmp";
  const passwd* account = getpwuid(geteuid());
  if (account != nullptr && account->pw_dir != nullptr && account->pw_dir[0] == '/') places.home = account->pw_dir;
  // The headless backend runs tests side by side, each in folders of its own: there the
  // environment may name the places instead.
  if (ActiveBackend() == &kHeadlessBackend) {
    const std::string runtime = EnvironmentValue("XDG_RUNTIME_DIR");
    const std::string temp = EnvironmentValue("TMPDIR");
    const std::string home = EnvironmentValue("HOME");
    places.runtime = runtime;
    if (!temp.empty()) places.temp = temp;
    if (!home.empty()) places.home = home;
  }
  return places;
}

namespace {

std::string EndpointFolder(size_t nameLength) { return EndpointFolderIn(AccountEndpointPlaces(), nameLength); }

// The display the program's windows appear on, as the desktop names it: X's screen number
// dropped, since every screen of a display is in front of the same user.
std::string DisplayName() {
  std::string display = EnvironmentValue("DISPLAY");
  if (display.empty()) display = EnvironmentValue("WAYLAND_DISPLAY");
  const size_t colon = display.rfind(':');
  const size_t dot = display.rfind('.');
  if (colon != std::string::npos && dot != std::string::npos && dot > colon) display.resize(dot);
  return display;
}

// What the holder of a name wrote in its lock file: its display, or empty.
std::string HolderDisplay(const std::string& folder, const std::string& name) {
  const int lock = open((folder + "/" + name + ".lock").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (lock < 0) return std::string();
  char buffer[256];
  const ssize_t got = read(lock, buffer, sizeof buffer);
  close(lock);
  std::string display;
  for (ssize_t i = 0; i < got; ++i) {
    if (buffer[i] < ' ' || buffer[i] > '~') return std::string();  // not a display's name
    display += buffer[i];
  }
  return display;
}

bool SameUser(int connection) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == geteuid();
}

socklen_t Address(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.data(), path.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
}

bool SameFile(int fd, const std::string& path) {
  struct stat open, named;
  return fstat(fd, &open) == 0 && lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
         open.st_ino == named.st_ino;
}

// What Claim gives instead of a socket: another copy holds the lock (or is just letting go of
// it), or the endpoint can't be made here at all, which says nothing of other copies.
constexpr int kHeld = -1;
constexpr int kCantMake = -2;

// Takes the name's lock and listens on its socket, without waiting. The listening socket, or
// kHeld or kCantMake.
int Claim(const std::string& folder, const std::string& name) {
  const std::string lockPath = folder + "/" + name + ".lock";
  const std::string socketPath = folder + "/" + name + ".sock";
  for (int tries = 0; tries < 8; ++tries) {
    const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0) return kCantMake;
    if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
      const bool held = errno == EWOULDBLOCK;
      close(lock);
      return held ? kHeld : kCantMake;
    }
    // The holder before us may have removed the lock file as it ended, after we opened it: a
    // lock on a file no longer there is no lock, so take the one that is.
    if (!SameFile(lock, lockPath)) {
      close(lock);
      continue;
    }
    // Holding the lock, whatever socket file lies there is a leftover. The lock file says which
    // display this copy shows its window on, for a copy started on another one to tell its user.
    unlink(socketPath.c_str());
    const std::string display = DisplayName();
    const bool told = ftruncate(lock, 0) == 0 &&
                      pwrite(lock, display.data(), display.size(), 0) == static_cast<ssize_t>(display.size());
    (void)told;  // failing, only that word for the other copy is lost
    const int endpoint = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address;
    const socklen_t length = Address(socketPath, &address);
    if (endpoint < 0 || bind(endpoint, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(endpoint, kListenQueue) != 0) {
      if (endpoint >= 0) close(endpoint);
      unlink(lockPath.c_str());
      close(lock);
      return kCantMake;
    }
    Holding& holding = Held()[endpoint];
    holding.lock = lock;
    holding.lockPath = lockPath;
    holding.socketPath = socketPath;
    return endpoint;
  }
  return kHeld;
}

// A connection to the copy of this user that holds the name, or -1 for now.
int Connect(const std::string& folder, const std::string& name) {
  const int connection = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (connection < 0) return -1;
  sockaddr_un address;
  const socklen_t length = Address(folder + "/" + name + ".sock", &address);
  if (connect(connection, reinterpret_cast<sockaddr*>(&address), length) != 0 || !SameUser(connection)) {
    close(connection);
    return -1;
  }
  return connection;
}

}  // namespace

std::string EndpointName(const std::u16string& className, const std::u16string& title) {
  std::string key = std::to_string(geteuid());
  const char* instance = std::getenv("APEXGRID_INSTANCE");
  if (instance != nullptr) key += std::string("\n") + instance;
  const Backend* backend = ActiveBackend();
  if (backend != nullptr) key += backend->instanceScope();
  key += "\n" + ToUtf8(className) + "\n" + ToUtf8(title);
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv1a(key)));
  return std::string(backend != nullptr ? backend->instancePrefix : "apexgrid.") + hex;
}

int FindEndpoint(const std::string& name, int* connection, std::string* holderDisplay) {
  *connection = -1;
  holderDisplay->clear();
  if (Reserved().count(name) != 0) return 0;
  const std::string folder = EndpointFolder(name.size());
  if (folder.empty()) return 0;
  const Clock::time_point giveUp = Clock::now() + kKnockPatience;
  for (;;) {
    const int endpoint = Claim(folder, name);
    if (endpoint >= 0) {
      Reserved()[name] = endpoint;
      return 0;
    }
    // Nobody holds the name and it can't be had: the program runs without it, as where no folder
    // takes names, rather than ending as if another copy answered.
    if (endpoint == kCantMake) return 0;
    *connection = Connect(folder, name);
    if (*connection >= 0) {
      *holderDisplay = HolderDisplay(folder, name);
      return 1;
    }
    // The lock is held but nobody answers yet: its holder is about to listen, or busy. Past our
    // patience it still runs, so this copy must not start a second game beside it.
    if (Clock::now() >= giveUp) return 1;
    std::this_thread::sleep_for(kKnockPause);
  }
}

int OpenEndpoint(const std::string& name) {
  auto reserved = Reserved().find(name);
  if (reserved != Reserved().end()) {
    const int endpoint = reserved->second;
    Reserved().erase(reserved);
    return endpoint;
  }
  const std::string folder = EndpointFolder(name.size());
  const int endpoint = folder.empty() ? kCantMake : Claim(folder, name);
  return endpoint >= 0 ? endpoint : -1;
}

bool ElsewhereOnScreen(const std::string& holderDisplay) {
  return !holderDisplay.empty() && holderDisplay != DisplayName();
}

int SendFrontRequest(int connection) {
  const ssize_t sent = send(connection, kFrontRequest, sizeof kFrontRequest - 1, MSG_NOSIGNAL);
  close(connection);
  return sent == static_cast<ssize_t>(sizeof kFrontRequest - 1) ? 0 : 1;
}

void SendNothing(int connection) { close(connection); }

int TakeFrontRequests(int endpoint) {
  auto found = Held().find(endpoint);
  if (found == Held().end()) return 0;
  std::vector<Knock>& knocks = found->second.knocks;
  const Clock::time_point now = Clock::now();
  while (knocks.size() < kServedAtOnce) {
    const int connection = accept4(endpoint, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (connection < 0) break;
    if (!SameUser(connection)) {
      close(connection);
      continue;
    }
    knocks.push_back({connection, now + kReadLimit});
  }
  int requests = 0;
  std::vector<Knock> still;
  for (const Knock& knock : knocks) {
    char buffer[sizeof kFrontRequest];
    const ssize_t got = recv(knock.connection, buffer, sizeof buffer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) && now < knock.deadline) {
      still.push_back(knock);  // a copy that looked us up and hasn't asked anything yet
      continue;
    }
    if (got > 0 && buffer[0] == kFrontRequest[0]) ++requests;
    close(knock.connection);
  }
  knocks.swap(still);
  return requests;
}

void CloseEndpoint(int endpoint) {
  if (endpoint < 0) return;
  auto found = Held().find(endpoint);
  if (found != Held().end()) {
    Holding& holding = found->second;
    for (const Knock& knock : holding.knocks) close(knock.connection);
    // Removed while still locked, so that no later copy takes a lock on a file about to go.
    unlink(holding.socketPath.c_str());
    if (SameFile(holding.lock, holding.lockPath)) unlink(holding.lockPath.c_str());
    close(holding.lock);
    Held().erase(found);
  }
  close(endpoint);
}

void CloseAllConnections() {
  for (const auto& reserved : Reserved()) CloseEndpoint(reserved.second);
  Reserved().clear();
  while (!Held().empty()) CloseEndpoint(Held().begin()->first);
}
