// Progress of a long walk on standard error: entries done, the rate and the
// folder being worked on, at most four times a second. While it runs,
// standard error goes through it line by line, so that messages are whole
// lines and never land inside a progress line.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace SecPolicyCli {

class Progress {
 public:
  // `workers` counters, one per worker so that counting never contends.
  // `terminal`: redraw one line in place; otherwise print a line per report.
  Progress(unsigned workers, bool terminal);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Called by worker `worker` only, for each entry done.
  void Count(unsigned worker) {
    auto& value = counters_[worker].value;
    value.store(value.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
  void SetFolder(const std::string& path);

  // The line shown for `entries` after `seconds` in `folder`.
  static std::string Line(std::uint64_t entries, double seconds, const std::string& folder);

 private:
  class LineBuffer;
  struct alignas(64) Counter {
    std::atomic<std::uint64_t> value{0};
  };

  void Report();
  void WriteLine(const std::string& line);  // a message line, whole

  const bool terminal_;
  const std::chrono::steady_clock::time_point start_;
  std::vector<Counter> counters_;
  std::mutex mutex_;  // guards everything below and every write to stderr
  std::condition_variable wake_;
  bool stop_ = false;
  bool drawn_ = false;  // a progress line stands on the terminal
  std::string folder_;
  std::unique_ptr<LineBuffer> buffer_;
  std::streambuf* savedBuffer_ = nullptr;
  std::thread reporter_;
};

}  // namespace SecPolicyCli
