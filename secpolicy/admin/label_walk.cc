#include "secpolicy/admin/label_walk.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "secpolicy/platform/host_ctl_exception.h"

namespace SecPolicy::Admin {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;

void Exclusions::Add(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    throw HostCtlException("Unable to examine excluded path " + path + ": " +
                           std::strerror(errno));
  }
  ids_.insert({info.st_dev, info.st_ino});
}

bool Exclusions::ContainsFd(int fd) const {
  struct stat info {};
  return !ids_.empty() && fstat(fd, &info) == 0 && Contains(info);
}

bool Exclusions::ContainsPath(const std::string& path) const {
  struct stat info {};
  return !ids_.empty() && stat(path.c_str(), &info) == 0 && Contains(info);
}

bool Exclusions::ContainsEntry(const LabelTreeDir& parent, const char* name) const {
  struct stat info {};
  return !ids_.empty() && fstatat(parent.fd(), name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         Contains(info);
}

unsigned JobCount(unsigned requested) {
  if (requested != 0) return requested;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

namespace {

// Where an entry stands in a one-worker depth-first walk: the index of each
// entry on the way down. Comparing two positions compares when that walk
// would have met them.
using Position = std::vector<std::uint32_t>;

class Walker {
 public:
  Walker(TreeVisitor& visitor, const WalkSettings& settings)
      : visitor_(visitor), settings_(settings) {}

  void Run(LabelTreeDir top) {
    queue_.push_back(Task{std::move(top), {}});
    const unsigned jobs = settings_.jobs == 0 ? 1 : settings_.jobs;
    std::vector<std::thread> helpers;
    for (unsigned worker = 1; worker < jobs; ++worker) {
      helpers.emplace_back([this, worker] { Work(worker); });
    }
    Work(0);
    for (auto& helper : helpers) helper.join();
    if (firstFailure_) std::rethrow_exception(firstFailure_);
  }

 private:
  struct Task {
    LabelTreeDir dir;
    Position position;
  };

  void Work(unsigned worker) {
    for (;;) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !queue_.empty() || busy_ == 0; });
      if (queue_.empty()) {
        changed_.notify_all();
        return;
      }
      Task task = std::move(queue_.front());
      queue_.pop_front();
      ++busy_;
      lock.unlock();
      Walk(worker, task.dir, task.position);
      lock.lock();
      if (--busy_ == 0 && queue_.empty()) changed_.notify_all();
    }
  }

  void Walk(unsigned worker, LabelTreeDir& dir, Position& position) {
    if (settings_.progress != nullptr && position.size() <= 1) {
      settings_.progress->SetFolder(dir.path());
    }
    std::uint32_t index = 0;
    while (const dirent* entry = dir.Next()) {
      position.push_back(index++);
      if (failed_.load(std::memory_order_relaxed) && AfterFailure(position)) {
        position.pop_back();
        return;
      }
      try {
        Visit(worker, dir, *entry, position);
      } catch (...) {
        Fail(position, std::current_exception());
        position.pop_back();
        return;
      }
      position.pop_back();
    }
  }

  void Visit(unsigned worker, LabelTreeDir& dir, const dirent& entry, Position& position) {
    if (entry.d_type != DT_DIR) {
      if (!settings_.exclusions.empty() && settings_.exclusions.ContainsEntry(dir, entry.d_name)) {
        return;
      }
      visitor_.Node(worker, dir, entry.d_name);
      Count(worker);
      return;
    }
    std::optional<LabelTreeDir> sub = visitor_.Subdir(worker, dir, entry.d_name);
    if (!sub) return;
    Count(worker);
    if (ShouldShare()) {
      const std::lock_guard lock(mutex_);
      queue_.push_back(Task{std::move(*sub), position});
      changed_.notify_one();
      return;
    }
    Walk(worker, *sub, position);
  }

  void Count(unsigned worker) {
    if (settings_.progress != nullptr) settings_.progress->Count(worker);
  }

  // Keeps up to one sub-directory per worker queued, so that a worker that
  // runs out finds the next one waiting instead of sleeping until another
  // worker meets a sub-directory; the bound holds the descriptors that
  // queued directories keep open to one per worker.
  bool ShouldShare() {
    if (settings_.jobs <= 1) return false;
    const std::lock_guard lock(mutex_);
    return queue_.size() < settings_.jobs;
  }

  bool AfterFailure(const Position& position) {
    const std::lock_guard lock(mutex_);
    return failurePosition_ < position;
  }

  void Fail(const Position& position, std::exception_ptr failure) {
    const std::lock_guard lock(mutex_);
    if (!firstFailure_ || position < failurePosition_) {
      firstFailure_ = std::move(failure);
      failurePosition_ = position;
    }
    failed_.store(true, std::memory_order_relaxed);
  }

  TreeVisitor& visitor_;
  const WalkSettings& settings_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> queue_;
  unsigned busy_ = 0;
  std::atomic<bool> failed_{false};
  Position failurePosition_;
  std::exception_ptr firstFailure_;
};

class Labeller : public TreeVisitor {
 public:
  Labeller(const std::string& label, const WalkSettings& settings)
      : label_(label), settings_(settings) {
    for (unsigned worker = 0; worker < std::max(settings.jobs, 1u); ++worker) {
      ifaces_.push_back(std::make_unique<HyxAccessInterfaceImpl>());
    }
  }

  HyxAccessInterfaceImpl& Iface(unsigned worker) { return *ifaces_[worker]; }

  void Node(unsigned worker, const LabelTreeDir& parent, const char* name) override {
    SecPolicy::SetTreeNodeLabel(parent, name, label_, Iface(worker));
  }

  std::optional<LabelTreeDir> Subdir(unsigned worker, const LabelTreeDir& parent,
                                     const char* name) override {
    if (settings_.exclusions.empty()) {
      return SecPolicy::OpenLabelledSubdir(parent, name, label_, Iface(worker));
    }
    // Excluded folders are known only once open (a mount point shows its
    // own identity only then), so open first and label after.
    std::optional<LabelTreeDir> sub = parent.OpenChild(name);
    if (!sub) return SecPolicy::OpenLabelledSubdir(parent, name, label_, Iface(worker));
    if (settings_.exclusions.ContainsFd(sub->fd())) return std::nullopt;
    SecPolicy::SetFileLabelFd(sub->fd(), sub->path(), label_, Iface(worker));
    return sub;
  }

 private:
  const std::string& label_;
  const WalkSettings& settings_;
  std::vector<std::unique_ptr<HyxAccessInterfaceImpl>> ifaces_;
};

}  // namespace

void WalkTree(LabelTreeDir top, TreeVisitor& visitor, const WalkSettings& settings) {
  Walker(visitor, settings).Run(std::move(top));
}

void LabelTree(const std::string& dir, const std::string& label, const WalkSettings& settings) {
  if (settings.exclusions.ContainsPath(dir)) return;
  Labeller labeller(label, settings);
  LabelTreeDir top = SecPolicy::OpenLabelledTop(dir, label, labeller.Iface(0));
  if (settings.progress != nullptr) settings.progress->Count(0);
  WalkTree(std::move(top), labeller, settings);
}

}  // namespace SecPolicy::Admin

namespace SecPolicy::Admin {

namespace {

bool Trusted(uid_t uid) { return uid == 0 || uid == geteuid(); }

// The first folder on the way down to `path` (absolute, its last component
// as named) whose entry for the next step another user could replace.
std::optional<std::string> SwappableAt(const std::filesystem::path& path) {
  std::filesystem::path folder = path.root_path();
  for (const auto& part : path.relative_path()) {
    const std::filesystem::path child = folder / part;
    struct stat holder {}, entry {};
    if (lstat(folder.c_str(), &holder) != 0 || lstat(child.c_str(), &entry) != 0) {
      return std::nullopt;
    }
    const bool othersWrite = (holder.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
                             !((holder.st_mode & S_ISVTX) != 0 && Trusted(entry.st_uid));
    if (!Trusted(holder.st_uid) || othersWrite) return folder.string();
    folder = child;
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> Real(const std::filesystem::path& path) {
  std::error_code error;
  auto real = std::filesystem::canonical(path, error);
  if (error) return std::nullopt;
  return real;
}

}  // namespace

std::vector<std::string> RootHazards(const std::string& root) {
  std::vector<std::string> hazards;
  std::error_code error;
  std::filesystem::path named = std::filesystem::absolute(root, error).lexically_normal();
  if (error) return hazards;
  if (!named.has_filename()) named = named.parent_path();  // "dir/" names dir
  struct stat info {};
  if (!named.has_relative_path() || lstat(named.c_str(), &info) != 0) return hazards;
  std::vector<std::filesystem::path> ways;  // the root's own entry, then what a link leads to
  if (const auto parent = Real(named.parent_path())) ways.push_back(*parent / named.filename());
  if (S_ISLNK(info.st_mode)) {
    hazards.push_back(root + " is a symbolic link: a recursive relabel follows it (the root "
                      "only; no link below the root is ever followed)");
    if (const auto target = Real(named)) ways.push_back(*target);
  }
  std::set<std::string> warned;
  for (const auto& way : ways) {
    const auto folder = SwappableAt(way);
    if (folder && warned.insert(*folder).second) {
      hazards.push_back(root + " lies in " + *folder + ", which other users may write: they "
                        "could swap what a recursive relabel walks");
    }
  }
  return hazards;
}

}  // namespace SecPolicy::Admin
