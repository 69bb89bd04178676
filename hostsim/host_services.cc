// Host services around the kernel: logging, file helpers, advanced options,
// the configuration store and the inode statistics sysinfo node.
//
// Decisions:
// - SyslogIsRunning: SetSyslogRunning's answer when set, else
//   HOSTSIM_SYSLOG=up|down, else whether a unix datagram socket connects to
//   /dev/log right now.
// - WriteToKlog appends (tag, text) to the kernel log of the state and
//   swallows every failure.
// - Advanced options hold an integer or a string (the last set wins).
// - The configuration store keeps string values per object (four strings)
//   and key; GetDesiredUserConfig takes a snapshot of the object's values,
//   empty handle when it has none. SetBootStatus is journaled as
//   "SetBootStatus <component> <group> <owner> <name> true|false".
// - QSI_NODE_system_lumenfs_inodes_stats is 0x2A7. The 548-byte record
//   holds, in host byte order: inode number (uint64, offset 0), size in
//   bytes (uint64, 8), link count (uint32, 16), mode (uint32, 20), uid
//   (uint32, 24), gid (uint32, 28), 4 zero bytes (32), then at 36 the
//   NUL-terminated tardisk name (empty when the inode is not mapped). Size,
//   links, mode and ids are those of the mapped file when MapTardisk named
//   it, otherwise zero.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "hostsim/admin.h"
#include "hostsim/state.h"
#include "secpolicy/platform/advanced_options.h"
#include "secpolicy/platform/config_store.h"
#include "secpolicy/platform/host_files.h"
#include "secpolicy/platform/host_system.h"
#include "secpolicy/platform/sysinfo.h"

using HostCtl::Lib::HostCtlException;
using HostSim::State::Txn;

const std::uint16_t QSI_NODE_system_lumenfs_inodes_stats = 0x2A7;

bool File_Exists(const char* path) {
  struct stat info {};
  return path != nullptr && stat(path, &info) == 0;
}

bool File_IsDirectory(const char* path) {
  struct stat info {};
  return path != nullptr && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

namespace HostSim {

namespace {
// -1 probe, 0 down, 1 up.
std::atomic<int> syslogOverride{-1};
KernelLogObserver kernelLogObserver;
}  // namespace

void SetSyslogRunning(std::optional<bool> running) {
  syslogOverride = running ? (*running ? 1 : 0) : -1;
}

void ObserveKernelLog(KernelLogObserver observer) { kernelLogObserver = std::move(observer); }

}  // namespace HostSim

namespace HyxCtl::System {

bool SyslogIsRunning() {
  if (const int forced = HostSim::syslogOverride.load(); forced >= 0) return forced == 1;
  if (const char* env = std::getenv("HOSTSIM_SYSLOG"); env != nullptr) {
    if (std::strcmp(env, "up") == 0) return true;
    if (std::strcmp(env, "down") == 0) return false;
  }
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, "/dev/log", sizeof address.sun_path - 1);
  const bool up = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return up;
}

void WriteToKlog(const std::string& message, const std::string& tag) {
  try {
    if (HostSim::kernelLogObserver) HostSim::kernelLogObserver(tag, message);
    Txn txn(Txn::kWrite);
    txn.Exec("INSERT INTO klog(tag, text) VALUES(?, ?)", tag, message);
    txn.Commit();
  } catch (...) {
    // The kernel log is best effort: a caller must never fail for it.
  }
}

}  // namespace HyxCtl::System

namespace HostCtl::Adv {
AdvancedOption::~AdvancedOption() = default;
AdvancedIntegerOption::~AdvancedIntegerOption() = default;
AdvancedStringOption::~AdvancedStringOption() = default;
}  // namespace HostCtl::Adv

namespace HyxCtl::Adv {

AdvancedOptionImpl::AdvancedOptionImpl() = default;
AdvancedOptionImpl::~AdvancedOptionImpl() = default;

HostCtl::Adv::AdvancedOption* AdvancedOptionImpl::FindOption(const std::string& path) {
  HostSim::State::ControlFault("FindOption", {path});
  Txn txn(Txn::kRead);
  HostSim::State::Stmt s = txn.Query("SELECT int_value, str_value FROM options WHERE path=?", path);
  if (!s.Step()) return nullptr;
  if (!s.IsNull(0)) {
    return new HostCtl::Adv::AdvancedIntegerOption(path, static_cast<std::int32_t>(s.Int(0)));
  }
  return new HostCtl::Adv::AdvancedStringOption(path, s.Text(1));
}

}  // namespace HyxCtl::Adv

namespace PalConfigStore {

ConfigStoreObjectId::ConfigStoreObjectId(const std::string& component, const std::string& group,
                                         const std::string& owner, const std::string& name)
    : component_(component), group_(group), owner_(owner), name_(name) {}

StoreObject::~StoreObject() = default;

namespace {

class SnapshotObject : public StoreObject {
 public:
  explicit SnapshotObject(std::map<std::string, std::string> values) : values_(std::move(values)) {}
  bool GetValue(const char* key, std::string* value) const override {
    if (key == nullptr) throw HostCtlException("Configuration key must not be null");
    auto it = values_.find(key);
    if (it == values_.end()) return false;
    if (value != nullptr) *value = it->second;
    return true;
  }

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace

std::shared_ptr<StoreObject> GetDesiredUserConfig(const ConfigStoreObjectId& id, FLAG flags) {
  HostSim::State::ControlFault("GetDesiredUserConfig", {id.Component(), id.Group(), id.Owner(), id.Name()});
  if (flags != FLAG_NONE) throw HostCtlException("Unknown configuration store flag " + std::to_string(flags));
  Txn txn(Txn::kRead);
  std::map<std::string, std::string> values;
  HostSim::State::Stmt s = txn.Query(
      "SELECT key, value FROM config WHERE component=? AND grp=? AND owner=? AND name=?",
      id.Component(), id.Group(), id.Owner(), id.Name());
  while (s.Step()) values.emplace(s.Text(0), s.Text(1));
  if (values.empty()) return {};
  return std::make_shared<SnapshotObject>(std::move(values));
}

bool SetBootStatus(const ConfigStoreObjectId& id, bool status) {
  HostSim::State::ControlFault("SetBootStatus", {id.Component(), id.Group(), id.Owner(), id.Name()});
  Txn txn(Txn::kWrite);
  txn.Exec(
      "INSERT OR REPLACE INTO boot_status(component, grp, owner, name, status) "
      "VALUES(?, ?, ?, ?, ?)",
      id.Component(), id.Group(), id.Owner(), id.Name(), status ? 1 : 0);
  txn.Journal("SetBootStatus " + id.Component() + " " + id.Group() + " " + id.Owner() + " " +
              id.Name() + " " + (status ? "true" : "false"));
  txn.Commit();
  return true;
}

}  // namespace PalConfigStore

namespace HyxCtl::Util {

namespace {
constexpr unsigned int kRecordSize = 548;
constexpr unsigned int kNameOffset = 36;
}  // namespace

Sysinfo::Sysinfo(unsigned int nodeId) : node_(nodeId) {
  if (nodeId != QSI_NODE_system_lumenfs_inodes_stats) {
    throw HostCtlException("Unknown sysinfo node " + std::to_string(nodeId));
  }
}

Sysinfo::~Sysinfo() = default;

void Sysinfo::AddInstancePath(unsigned long instance) {
  if (hasInstance_) throw HostCtlException("Sysinfo instance already given");
  instance_ = instance;
  hasInstance_ = true;
}

void Sysinfo::Get(void* buffer, unsigned int size) {
  if (!hasInstance_) throw HostCtlException("Sysinfo node " + std::to_string(node_) + " needs an instance");
  if (size != kRecordSize || buffer == nullptr) {
    throw HostCtlException("Sysinfo node " + std::to_string(node_) + " returns " +
                           std::to_string(kRecordSize) + " bytes, not " + std::to_string(size));
  }
  HostSim::State::ControlFault("Sysinfo", {std::to_string(instance_)});
  auto* record = static_cast<unsigned char*>(buffer);
  std::memset(record, 0, kRecordSize);
  const std::uint64_t inode = instance_;
  std::memcpy(record, &inode, sizeof inode);
  Txn txn(Txn::kRead);
  HostSim::State::Stmt s =
      txn.Query("SELECT name, size, links, mode, uid, gid FROM tardisk_map WHERE inode=?",
                static_cast<std::int64_t>(instance_));
  if (!s.Step()) return;
  const std::uint64_t bytes = static_cast<std::uint64_t>(s.Int(1));
  const std::uint32_t words[4] = {s.U32(2), s.U32(3),
                                  s.U32(4), s.U32(5)};
  std::memcpy(record + 8, &bytes, sizeof bytes);
  std::memcpy(record + 16, words, sizeof words);
  const std::string name = s.Text(0);
  std::memcpy(record + kNameOffset, name.data(), std::min<std::size_t>(name.size(), kRecordSize - kNameOffset - 1));
}

}  // namespace HyxCtl::Util
