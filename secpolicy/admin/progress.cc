#include "secpolicy/admin/progress.h"

namespace SecPolicy::Admin {

void ProgressCounter::SetFolder(const std::string& path) {
  const std::lock_guard lock(mutex_);
  folder_ = path;
}

std::uint64_t ProgressCounter::Entries() const {
  std::uint64_t entries = 0;
  for (const auto& counter : counters_) entries += counter.value.load(std::memory_order_relaxed);
  return entries;
}

std::string ProgressCounter::Folder() const {
  const std::lock_guard lock(mutex_);
  return folder_;
}

}  // namespace SecPolicy::Admin
