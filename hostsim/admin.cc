// Administration of the simulated host (admin.h): options, configuration
// values, worlds, tardisk maps, file labels and invalid labels.
//
// Decisions:
// - Journal lines: "SetIntegerOption <path> <value>", "SetStringOption
//   <path> <value>", "UnsetOption <path>", "SetConfigValue <domain> <key>
//   <value>", "AddWorld <world> <domainId>", "MapTardisk <inode> <name>".
//   InvalidateLabel is a test's doing, not a write of the kernel, and is not
//   journaled.
// - AddWorld needs an existing domain and replaces the world's domain.
// - MapTardisk keys on the inode number of `file` (following symbolic
//   links) and refuses a name that is empty or holds a "/".
// - InitFileLabel writes the id of the profile's initialFileLabel as a
//   4-byte host-order value (flags 0: create or replace) on `path` (symbolic
//   links followed for `path` itself); recursively it walks the tree
//   without following symbolic links and skips links and sockets.
// - InvalidateLabel needs a defined label of that type.
#include <ftw.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "hostsim/admin.h"
#include "hostsim/kernel_state.h"
#include "hostsim/state.h"
#include "secpolicy/platform/file_label_attr.h"

namespace HostSim {

using HostCtl::Lib::HostCtlException;
using State::Txn;

namespace {

std::string Errno(int err) { return std::strerror(err); }

void PutOption(const std::string& path, std::optional<std::int64_t> number,
               std::optional<std::string> text, const std::string& line) {
  if (path.empty()) throw HostCtlException("Option path must not be empty");
  Txn txn(Txn::kWrite);
  txn.Exec("INSERT OR REPLACE INTO options(path, int_value, str_value) VALUES(?, ?, ?)", path,
           number, text);
  txn.Journal(line);
  txn.Commit();
}

}  // namespace

void SetIntegerOption(const std::string& path, std::int32_t value) {
  PutOption(path, value, std::nullopt, "SetIntegerOption " + path + " " + std::to_string(value));
}

void SetStringOption(const std::string& path, const std::string& value) {
  PutOption(path, std::nullopt, value, "SetStringOption " + path + " " + value);
}

void UnsetOption(const std::string& path) {
  Txn txn(Txn::kWrite);
  txn.Exec("DELETE FROM options WHERE path=?", path);
  txn.Journal("UnsetOption " + path);
  txn.Commit();
}

void SetConfigValue(const std::string& domain, const std::string& key, const std::string& value) {
  Txn txn(Txn::kWrite);
  txn.Exec(
      "INSERT OR REPLACE INTO config(component, grp, owner, name, key, value) "
      "VALUES('domain_settings', 'security', 'pal', ?, ?, ?)",
      domain, key, value);
  txn.Journal("SetConfigValue " + domain + " " + key + " " + value);
  txn.Commit();
}

bool GetBootStatus(const std::string& domain) {
  Txn txn(Txn::kRead);
  State::Stmt s = txn.Query(
      "SELECT status FROM boot_status WHERE component='domain_settings' AND grp='security' "
      "AND owner='pal' AND name=?",
      domain);
  return s.Step() && s.Int(0) != 0;
}

void AddWorld(int worldId, std::uint32_t domainId) {
  Txn txn(Txn::kWrite);
  Kernel::RequireDomain(txn, domainId);
  txn.Exec("INSERT OR REPLACE INTO worlds(world, domain_id) VALUES(?, ?)", worldId, domainId);
  txn.Journal("AddWorld " + std::to_string(worldId) + " " + std::to_string(domainId));
  txn.Commit();
}

void MapTardisk(const std::string& file, const std::string& tardiskName) {
  if (tardiskName.empty() || tardiskName.find('/') != std::string::npos) {
    throw HostCtlException("Bad tardisk name: \"" + tardiskName + "\"");
  }
  struct stat info {};
  if (stat(file.c_str(), &info) != 0) {
    throw HostCtlException("Cannot map " + file + " to a tardisk: " + Errno(errno));
  }
  Txn txn(Txn::kWrite);
  txn.Exec(
      "INSERT OR REPLACE INTO tardisk_map(inode, name, size, links, mode, uid, gid) "
      "VALUES(?, ?, ?, ?, ?, ?, ?)",
      static_cast<std::int64_t>(info.st_ino), tardiskName, static_cast<std::int64_t>(info.st_size),
      static_cast<std::int64_t>(info.st_nlink), info.st_mode, info.st_uid, info.st_gid);
  txn.Journal("MapTardisk " + std::to_string(info.st_ino) + " " + tardiskName);
  txn.Commit();
}

namespace {

std::uint32_t initialLabelId = 0;  // valid during one InitFileLabel walk
std::string walkFailure;

int LabelEntry(const char* path, const struct stat* info, int type, struct FTW*) {
  if (type == FTW_SL || type == FTW_SLN || S_ISSOCK(info->st_mode)) return 0;
  if (type == FTW_DNR || type == FTW_NS) {
    walkFailure = std::string("Cannot read ") + path;
    return 1;
  }
  if (lsetxattr(path, HyxCtl::Security::kFileLabelAttribute, &initialLabelId,
                sizeof initialLabelId, 0) != 0) {
    walkFailure = std::string("Cannot label ") + path + ": " + Errno(errno);
    return 1;
  }
  return 0;
}

}  // namespace

void InitFileLabel(const std::string& path, bool recursive) {
  std::uint32_t id = 0;
  {
    Txn txn(Txn::kRead);
    State::Stmt s = txn.Query("SELECT id FROM objects WHERE name=?", txn.profile().initialFileLabel);
    if (!s.Step()) throw HostCtlException("The initial file label is not defined");
    id = s.U32(0);
  }
  if (!recursive) {
    if (setxattr(path.c_str(), HyxCtl::Security::kFileLabelAttribute, &id, sizeof id, 0) != 0) {
      throw HostCtlException("Cannot label " + path + ": " + Errno(errno));
    }
    return;
  }
  // nftw takes a plain callback; one walk at a time per process.
  static std::mutex walkMutex;
  std::lock_guard lock(walkMutex);
  initialLabelId = id;
  walkFailure.clear();
  const int rc = nftw(path.c_str(), LabelEntry, 32, FTW_PHYS);
  if (rc != 0) {
    throw HostCtlException(walkFailure.empty() ? "Cannot walk " + path + ": " + Errno(errno)
                                               : walkFailure);
  }
}

void InvalidateLabel(const std::string& name, HyxAccessLabelType type) {
  Txn txn(Txn::kWrite);
  const bool exists =
      type == HYXACCESS_LABEL_OBJECT ? txn.Query("SELECT 1 FROM objects WHERE name=?", name).Step()
      : type == HYXACCESS_LABEL_DOMAIN ? Kernel::FindDomainId(txn, name).has_value()
                                       : false;
  if (!exists) {
    throw HostCtlException(std::string("No ") + (type == HYXACCESS_LABEL_DOMAIN ? "domain" : "object") +
                           " label named " + name);
  }
  txn.Exec("INSERT OR IGNORE INTO invalid_labels(type, name) VALUES(?, ?)", type, name);
  txn.Commit();
}

}  // namespace HostSim

