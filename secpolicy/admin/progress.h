// How a long walk tells its caller how far it got. The walk calls these
// from its workers; showing them (a terminal line, a log) is the caller's.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace SecPolicy::Admin {

class WalkProgress {
 public:
  virtual ~WalkProgress() = default;
  // One entry done by worker `worker` (below the walk's number of jobs).
  // Called for every entry, by that worker only: keep it cheap.
  virtual void Count(unsigned worker) = 0;
  // The walk works on `path`: its top, or a folder just below it.
  virtual void SetFolder(const std::string& path) = 0;
};

// Counts entries without contention (a counter per worker) and keeps the
// folder last set, for another thread to read whenever it likes.
class ProgressCounter final : public WalkProgress {
 public:
  explicit ProgressCounter(unsigned workers) : counters_(workers == 0 ? 1 : workers) {}

  void Count(unsigned worker) override {
    auto& value = counters_[worker].value;
    value.store(value.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
  void SetFolder(const std::string& path) override;

  std::uint64_t Entries() const;
  std::string Folder() const;

 private:
  struct alignas(64) Counter {
    std::atomic<std::uint64_t> value{0};
  };
  std::vector<Counter> counters_;
  mutable std::mutex mutex_;  // guards folder_
  std::string folder_;
};

}  // namespace SecPolicy::Admin
