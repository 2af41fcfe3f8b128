// Keeps a race file written whole on a thread of its own, so that a commit only hands the new text
// over: making the file durable (a sync to the disk) takes milliseconds the turn shouldn't wait.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class RaceFileWriter {
 public:
  RaceFileWriter() = default;
  // Finishes the write under way and whatever was handed over after it.
  ~RaceFileWriter();
  RaceFileWriter(const RaceFileWriter&) = delete;
  RaceFileWriter& operator=(const RaceFileWriter&) = delete;

  // Hands the file's whole text over. A text handed over for the same file before its write began
  // is replaced: only the newest text is written, so at most the move being committed is ever lost.
  // A file that can't be written is tried again at the next text.
  void Write(const std::string& hostPath, std::string text);
  // Returns once everything handed over has been written (or has failed).
  void Flush();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
  std::string path_;
  std::string text_;
  bool pending_ = false;
  bool busy_ = false;
  bool stopping_ = false;
};
