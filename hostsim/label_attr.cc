// The label attribute write, and its dry-run mode.
//
// Decision: normally WriteFileLabelAttr is the real setxattr. While a process
// records label writes (RecordLabelWrites(true)), a write changes nothing on
// disk: it keeps setxattr's answer for a file without a label (ENODATA) and
// for a file it cannot read, and otherwise remembers the file's label before
// the first write and after the last one, keyed by the path the policy names.
#include <sys/xattr.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "hostsim/admin.h"
#include "platform/file_label_attr.h"

namespace HostSim {
namespace {

std::mutex recordMutex;
bool recording = false;
std::map<std::string, RecordedLabelWrite> recorded;

}  // namespace

void RecordLabelWrites(bool on) {
  const std::lock_guard lock(recordMutex);
  recording = on;
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

}  // namespace HostSim

namespace HyxCtl::Security {

int WriteFileLabelAttr(const char* path, const char* shownPath, std::uint32_t id) {
  {
    const std::lock_guard lock(HostSim::recordMutex);
    if (HostSim::recording) {
      std::uint32_t before = 0;
      const ssize_t size = getxattr(path, kFileLabelAttribute, &before, sizeof before);
      if (size < 0) return -1;
      auto [entry, fresh] = HostSim::recorded.try_emplace(shownPath);
      if (fresh) {
        entry->second.path = shownPath;
        if (size == sizeof before) entry->second.before = before;
      }
      entry->second.after = id;
      return 0;
    }
  }
  return setxattr(path, kFileLabelAttribute, &id, kFileLabelSize, XATTR_REPLACE);
}

}  // namespace HyxCtl::Security
