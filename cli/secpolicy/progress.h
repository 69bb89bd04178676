// Progress of a long walk on standard error: entries done, the rate and the
// folder being worked on, as the walk reports them, at most four times a
// second. While it runs, standard error goes through it line by line, so
// that messages are whole lines and never land inside a progress line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "secpolicy/admin/progress.h"

namespace SecPolicyCli {

class Progress {
 public:
  // For a walk of `workers` workers. `terminal`: redraw one line in place;
  // otherwise print a line per report.
  Progress(unsigned workers, bool terminal);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // What the walk reports to.
  SecPolicy::Admin::WalkProgress& counter() { return counter_; }

  // The line shown for `entries` after `seconds` in `folder`.
  static std::string Line(std::uint64_t entries, double seconds, const std::string& folder);

 private:
  class LineBuffer;

  void Report();
  void WriteLine(const std::string& line);  // a message line, whole

  const bool terminal_;
  const std::chrono::steady_clock::time_point start_;
  SecPolicy::Admin::ProgressCounter counter_;
  std::mutex mutex_;  // guards everything below and every write to stderr
  std::condition_variable wake_;
  bool stop_ = false;
  bool drawn_ = false;  // a progress line stands on the terminal
  std::unique_ptr<LineBuffer> buffer_;
  std::streambuf* savedBuffer_ = nullptr;
  std::thread reporter_;
};

}  // namespace SecPolicyCli
