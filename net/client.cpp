// The threaded race client: a request thread, a stream thread, and results handed to a window.
#include "net/client.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <utility>

#include "platform/window.h"

int ReconnectDelaySeconds(int failures) {
  if (failures <= 0) return 0;
  if (failures > 5) return 30;
  return std::min(30, 1 << (failures - 1));
}

NetClient::NetClient(WindowHandle window, ServerUrl url, int timeoutSeconds)
    : window_(window), url_(std::move(url)), timeoutSeconds_(timeoutSeconds) {
  requests_ = std::thread([this] { RunRequests(); });
}

NetClient::~NetClient() {
  StopFollowing();
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    if (requestClient_ != nullptr) requestClient_->Interrupt();
  }
  wake_.notify_all();
  requests_.join();
}

void NetClient::SetToken(const std::string& token) {
  std::lock_guard<std::mutex> hold(lock_);
  token_ = token;
}

uint32_t NetClient::Request(const std::string& method, const std::string& path, const std::string& body,
                            const std::string& contentType) {
  uint32_t id;
  {
    std::lock_guard<std::mutex> hold(lock_);
    id = nextId_++;
    jobs_.push_back(Job{id, method, path, body, contentType, token_});
  }
  wake_.notify_all();
  return id;
}

void NetClient::Follow(long long race, long long after) {
  StopFollowing();
  std::lock_guard<std::mutex> hold(lock_);
  const uint64_t generation = ++generation_;
  stream_ = std::thread([this, race, after, token = token_, generation] { RunStream(race, after, token, generation); });
}

void NetClient::StopFollowing() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++generation_;
    if (openStream_ != nullptr) openStream_->Interrupt();
  }
  wake_.notify_all();
  if (stream_.joinable()) stream_.join();
}

bool NetClient::Take(uintptr_t id, NetResult* result) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = results_.find(static_cast<uint32_t>(id));
  if (found == results_.end()) return false;
  *result = std::move(found->second);
  results_.erase(found);
  return true;
}

// Every result gets an id of its own, so that the window can count them and take each once.
void NetClient::Post(NetResult result) {
  uint32_t id;
  {
    std::lock_guard<std::mutex> hold(lock_);
    id = nextId_++;
    if (result.kind == NetKind::kAnswer) {
      // An answer arrives under its request's id, which the caller already holds.
      id = result.request;
    }
    results_[id] = std::move(result);
  }
  PostMessageFromAnyThread(window_, WM_NETWORK, id, 0);
}

void NetClient::RunRequests() {
  ApiClient client(url_, timeoutSeconds_);
  {
    std::lock_guard<std::mutex> hold(lock_);
    requestClient_ = &client;
    if (stopping_) client.Interrupt();
  }
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) {
        requestClient_ = nullptr;
        return;
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    client.SetToken(job.token);
    NetResult result;
    result.kind = NetKind::kAnswer;
    result.request = job.id;
    result.http = client.Call(job.method, job.path, job.body, job.contentType);
    Post(std::move(result));
  }
}

void NetClient::RunStream(long long race, long long after, std::string token, uint64_t generation) {
  int failures = 0;
  const auto current = [this, generation] { return generation_ == generation && !stopping_; };
  for (;;) {
    EventStream stream;
    std::string error;
    int status = 0;
    bool opened = stream.Open(url_, token, race, after, &error, &status);
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!current()) return;
      if (opened) openStream_ = &stream;
    }
    if (opened) {
      failures = 0;
      NetResult connected;
      connected.kind = NetKind::kConnected;
      Post(std::move(connected));
      std::string message;
      while (stream.Next(&message, 0, &error)) {
        // The next connection asks only for what follows the last move passed on.
        const nlohmann::json event = nlohmann::json::parse(message, nullptr, false);
        if (event.is_object() && event.value("type", "") == "move" && event.contains("index") &&
            event["index"].is_number_integer()) {
          after = std::max(after, event["index"].get<long long>());
        }
        NetResult result;
        result.kind = NetKind::kEvent;
        result.event = std::move(message);
        Post(std::move(result));
      }
      std::lock_guard<std::mutex> hold(lock_);
      openStream_ = nullptr;
      if (!current()) return;
    }
    // A refusal (no seat, no such race, a bad token) won't change by asking again soon, but the
    // server may still come back to its senses: it waits the longest.
    ++failures;
    NetResult lost;
    lost.kind = NetKind::kLost;
    lost.error = error;
    lost.retrySeconds = status >= 400 ? ReconnectDelaySeconds(99) : ReconnectDelaySeconds(failures);
    const int delay = lost.retrySeconds;
    Post(std::move(lost));
    std::unique_lock<std::mutex> hold(lock_);
    if (wake_.wait_for(hold, std::chrono::seconds(delay), [&current] { return !current(); })) return;
  }
}
