// The label attribute calls, and their dry-run mode.
//
// Decision: normally WriteFileLabelAttr is the real setxattr. While a process
// records label writes (RecordLabelWrites(true)), a write changes nothing on
// disk: it keeps setxattr's answer for a file without a label (ENODATA) and
// for a file it cannot read, and otherwise remembers the file's label before
// the first write and after the last one, keyed by the path the policy names.
//
// The directory-relative calls use the kernel's setxattrat/getxattrat with
// AT_SYMLINK_NOFOLLOW: one lookup of one name, no descriptor per entry. A
// kernel without them (ENOSYS, told once per process) gets the same meaning
// from an O_PATH | O_NOFOLLOW descriptor reached through /proc/self/fd/N,
// which names the link itself when the entry is a link.
#include <fcntl.h>
#include <linux/types.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "hostsim/admin.h"
#include "secpolicy/platform/file_label_attr.h"

namespace HostSim {
namespace {

std::mutex recordMutex;
// Read without the lock on every write; changed only under it.
std::atomic<bool> recording{false};
std::map<std::string, RecordedLabelWrite> recorded;

std::atomic<bool> xattrAtCalls{true};

}  // namespace

void RecordLabelWrites(bool on) {
  const std::lock_guard lock(recordMutex);
  recording.store(on);
  recorded.clear();
}

std::vector<RecordedLabelWrite> TakeRecordedLabelWrites() {
  const std::lock_guard lock(recordMutex);
  std::vector<RecordedLabelWrite> writes;
  writes.reserve(recorded.size());
  for (auto& [path, write] : recorded) writes.push_back(std::move(write));
  recorded.clear();
  return writes;
}

void UseXattrAtCalls(bool on) { xattrAtCalls.store(on); }

}  // namespace HostSim

namespace HyxCtl::Security {
namespace {

// Debian 12's headers predate these calls (Linux 6.13).
#ifndef SYS_setxattrat
#if defined(__x86_64__)
constexpr long kSetxattrat = 463;
constexpr long kGetxattrat = 464;
#else
constexpr long kSetxattrat = -1;
constexpr long kGetxattrat = -1;
#endif
#else
constexpr long kSetxattrat = SYS_setxattrat;
constexpr long kGetxattrat = SYS_getxattrat;
#endif

struct XattrArgs {
  __aligned_u64 value;
  __u32 size;
  __u32 flags;
};

bool IsEntryName(const char* name) {
  if (std::strchr(name, '/') != nullptr) return false;
  return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

// The /proc name of an O_PATH | O_NOFOLLOW descriptor of `name`, closed on
// destruction; fd < 0 with errno set when the entry cannot be opened.
class EntryPath {
 public:
  EntryPath(int dirfd, const char* name)
      : fd_(openat(dirfd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC)) {
    std::snprintf(text_, sizeof text_, "/proc/self/fd/%d", fd_);
  }
  EntryPath(const EntryPath&) = delete;
  EntryPath& operator=(const EntryPath&) = delete;
  ~EntryPath() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  const char* text() const { return text_; }

 private:
  int fd_;
  char text_[32];
};

// Set once the kernel answers ENOSYS: later calls take the descriptor route.
std::atomic<bool> xattrAtMissing{kSetxattrat < 0};

bool TryXattrAt() {
  return !xattrAtMissing.load(std::memory_order_relaxed) &&
         HostSim::xattrAtCalls.load(std::memory_order_relaxed);
}

ssize_t ReadAt(int dirfd, const char* name, std::uint32_t* id) {
  if (*name == '\0') return fgetxattr(dirfd, kFileLabelAttribute, id, kFileLabelSize);
  if (TryXattrAt()) {
    XattrArgs args{reinterpret_cast<std::uintptr_t>(id), kFileLabelSize, 0};
    const long size = syscall(kGetxattrat, dirfd, name, AT_SYMLINK_NOFOLLOW, kFileLabelAttribute,
                              &args, sizeof args);
    if (size >= 0 || errno != ENOSYS) return size;
    xattrAtMissing.store(true);
  }
  const EntryPath entry(dirfd, name);
  if (!entry.ok()) return -1;
  return getxattr(entry.text(), kFileLabelAttribute, id, kFileLabelSize);
}

int WriteAt(int dirfd, const char* name, std::uint32_t id) {
  if (*name == '\0') return fsetxattr(dirfd, kFileLabelAttribute, &id, kFileLabelSize, XATTR_REPLACE);
  if (TryXattrAt()) {
    XattrArgs args{reinterpret_cast<std::uintptr_t>(&id), kFileLabelSize, XATTR_REPLACE};
    const long result = syscall(kSetxattrat, dirfd, name, AT_SYMLINK_NOFOLLOW,
                                kFileLabelAttribute, &args, sizeof args);
    if (result == 0 || errno != ENOSYS) return result == 0 ? 0 : -1;
    xattrAtMissing.store(true);
  }
  const EntryPath entry(dirfd, name);
  if (!entry.ok()) return -1;
  return setxattr(entry.text(), kFileLabelAttribute, &id, kFileLabelSize, XATTR_REPLACE);
}

// In the dry run: remembers the write of `id` to `shownPath`, whose label on
// disk `readBefore` reads; returns what the write itself would.
template <typename Read>
int Record(const char* shownPath, std::uint32_t id, Read readBefore) {
  std::uint32_t before = 0;
  const ssize_t size = readBefore(&before);
  if (size < 0) return -1;
  auto [entry, fresh] = HostSim::recorded.try_emplace(shownPath);
  if (fresh) {
    entry->second.path = shownPath;
    if (size == sizeof before) entry->second.before = before;
  }
  entry->second.after = id;
  return 0;
}

}  // namespace

int WriteFileLabelAttr(const char* path, const char* shownPath, std::uint32_t id) {
  if (HostSim::recording.load()) {
    const std::lock_guard lock(HostSim::recordMutex);
    if (HostSim::recording.load()) {
      return Record(shownPath, id, [path](std::uint32_t* before) {
        return getxattr(path, kFileLabelAttribute, before, sizeof *before);
      });
    }
  }
  return setxattr(path, kFileLabelAttribute, &id, kFileLabelSize, XATTR_REPLACE);
}

int WriteFileLabelAttrAt(int dirfd, const char* name, const char* shownPath, std::uint32_t id) {
  if (*name != '\0' && !IsEntryName(name)) {
    errno = EINVAL;
    return -1;
  }
  if (HostSim::recording.load()) {
    const std::lock_guard lock(HostSim::recordMutex);
    if (HostSim::recording.load()) {
      return Record(shownPath, id,
                    [dirfd, name](std::uint32_t* before) { return ReadAt(dirfd, name, before); });
    }
  }
  return WriteAt(dirfd, name, id);
}

ssize_t ReadFileLabelAttrAt(int dirfd, const char* name, std::uint32_t* id) {
  if (*name != '\0' && !IsEntryName(name)) {
    errno = EINVAL;
    return -1;
  }
  return ReadAt(dirfd, name, id);
}

}  // namespace HyxCtl::Security
