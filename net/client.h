// The race server's client for the desktop programs: requests and a race's event stream run on
// threads of their own, and every result reaches a window as WM_NETWORK through its queue.
//
// A window procedure never waits on the network: it asks (Request, Follow), goes on, and takes
// each result when its WM_NETWORK arrives (wParam: the result's id, for Take). Everything here but
// the worker threads' own work runs on the program's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "net/http_client.h"
#include "platform/gx.h"

enum class NetKind : uint8_t {
  kAnswer,     // an answer to a Request (or no answer: status 0 and the reason)
  kEvent,      // one message of the followed race's event stream, as the server sent it
  kConnected,  // the event stream is open (again)
  kLost,       // the event stream is lost; it is opened again after `retrySeconds`
};

struct NetResult {
  NetKind kind = NetKind::kAnswer;
  uint32_t request = 0;  // kAnswer: Request's id
  HttpResult http;       // kAnswer
  std::string event;     // kEvent: the JSON message
  std::string error;     // kLost: why
  int retrySeconds = 0;  // kLost
};

// The wait before the stream is opened again after its `failures`-th failure in a row: 1, 2, 4,
// 8, 16, then 30 seconds, so that a server that comes back is found soon and one that stays away
// isn't asked too often.
int ReconnectDelaySeconds(int failures);

class NetClient {
 public:
  // Results go to `window`. Requests give up after `timeoutSeconds` without progress.
  NetClient(WindowHandle window, ServerUrl url, int timeoutSeconds = 10);
  // Ends the threads at once: a request under way and a stream are cut, queued requests dropped.
  ~NetClient();
  NetClient(const NetClient&) = delete;
  NetClient& operator=(const NetClient&) = delete;

  // The bearer token for the requests and the stream queued from now on.
  void SetToken(const std::string& token);
  // Queues METHOD /api/v1/PATH; requests go out one at a time in the order queued. Returns the
  // id its answer carries.
  uint32_t Request(const std::string& method, const std::string& path, const std::string& body = {},
                   const std::string& contentType = "application/json");
  // Follows the race's events after move index `after` (-1: from the first), reconnecting with
  // back-off and asking each time only for what came after the last move event it passed on.
  // Replaces any race followed before.
  void Follow(long long race, long long after);
  void StopFollowing();

  // The result whose WM_NETWORK carried `id`; false when it was taken already (or never was).
  bool Take(uintptr_t id, NetResult* result);

 private:
  struct Job {
    uint32_t id;
    std::string method, path, body, contentType, token;
  };
  void Post(NetResult result);
  void RunRequests();
  void RunStream(long long race, long long after, std::string token, uint64_t generation);

  WindowHandle window_;
  ServerUrl url_;
  int timeoutSeconds_;

  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::string token_;
  uint32_t nextId_ = 1;
  std::deque<Job> jobs_;
  std::map<uint32_t, NetResult> results_;
  uint64_t generation_ = 0;             // the followed race's; a stream of an older one stops
  EventStream* openStream_ = nullptr;   // the stream under way, for cutting it
  ApiClient* requestClient_ = nullptr;  // the request thread's, for cutting a request under way
  std::thread requests_;
  std::thread stream_;
};
