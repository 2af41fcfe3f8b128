// The race file's writing thread.
#include "race/race_writer.h"

#include "race/race_file.h"

RaceFileWriter::~RaceFileWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void RaceFileWriter::Write(const std::string& hostPath, std::string text) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // Another file's text still waiting is taken up first, so that no race loses its end.
    changed_.wait(lock, [&] { return !pending_ || path_ == hostPath; });
    path_ = hostPath;
    text_ = std::move(text);
    pending_ = true;
    if (!thread_.joinable()) thread_ = std::thread(&RaceFileWriter::Run, this);
  }
  changed_.notify_all();
}

void RaceFileWriter::Flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !pending_ && !busy_; });
}

void RaceFileWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return pending_ || stopping_; });
    if (!pending_) return;  // stopping, with nothing left to write
    const std::string path = std::move(path_);
    const std::string text = std::move(text_);
    pending_ = false;
    busy_ = true;
    lock.unlock();
    changed_.notify_all();
    WriteRaceFile(path, text, nullptr);
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}
