#include "secpolicy/labels/label_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "secpolicy/labels/file_labels.h"
#include "secpolicy/platform/file_label_attr.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace SecPolicy {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::kFileLabelAttribute;
using HyxCtl::Security::kFileLabelSize;

namespace {

bool IsLabelledType(unsigned char type) {
  return type == DT_FIFO || type == DT_CHR || type == DT_DIR || type == DT_BLK || type == DT_REG;
}

bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

[[noreturn]] void ThrowUnopenable(const std::string& path) {
  throw HostCtlException("Unable to open directory " + path);
}

[[noreturn]] void ThrowUnlabelled(const std::string& label, const std::string& path, int error) {
  throw HostCtlException("Unable to set file label (" + label + ") for file " + path + ": " +
                         std::strerror(error));
}

// Labels the entry `name` of `dirfd` ("" for the directory itself).
void SetFileLabelAt(int dirfd, const char* name, const std::string& shownPath,
                    const std::string& label, HyxAccessInterfaceImpl& iface) {
  const std::uint32_t id = iface.LookupLabel(label, HYXACCESS_LABEL_OBJECT);
  if (id == 1) throw HostCtlException("Invalid label (" + label + ") for file " + shownPath);
  errno = 0;
  if (HyxCtl::Security::WriteFileLabelAttrAt(dirfd, name, shownPath.c_str(), id) < 0) {
    ThrowUnlabelled(label, shownPath, errno);
  }
}

// Labels the entry `name` of `parent`, which changed since `parent` was
// read, unless it is now a link or a socket; returns whether it did.
bool SetChangedEntryLabel(const LabelTreeDir& parent, const char* name, const std::string& label,
                          HyxAccessInterfaceImpl& iface) {
  struct stat info {};
  if (fstatat(parent.fd(), name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    const int error = errno;
    ThrowUnlabelled(label, parent.ChildPath(name), error);
  }
  if (S_ISLNK(info.st_mode) || S_ISSOCK(info.st_mode)) return false;
  SetFileLabelAt(parent.fd(), name, parent.ChildPath(name), label, iface);
  return true;
}

// The label id in the answer `size` (and `error`, its errno) of a read of
// the attribute into `id`.
std::optional<std::uint32_t> LabelIdRead(ssize_t size, std::uint32_t id, int error,
                                         const std::string& shownPath) {
  if (size == static_cast<ssize_t>(kFileLabelSize)) return id;
  if (size >= 0 || error == ENODATA) return std::nullopt;
  throw HostCtlException("Unable to get file label for file " + shownPath + ":" +
                         std::strerror(error));
}

}  // namespace

std::optional<LabelTreeDir> LabelTreeDir::FromFd(int fd, std::string path) {
  if (fd < 0) return std::nullopt;
  DIR* stream = fdopendir(fd);
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
    return std::nullopt;
  }
  return LabelTreeDir(stream, std::move(path));
}

std::optional<LabelTreeDir> LabelTreeDir::OpenTop(const std::string& path) {
  return FromFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), path);
}

std::optional<LabelTreeDir> LabelTreeDir::OpenChild(const char* name) const {
  return FromFd(openat(fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
                ChildPath(name));
}

LabelTreeDir::LabelTreeDir(LabelTreeDir&& other) noexcept
    : stream_(other.stream_), path_(std::move(other.path_)) {
  other.stream_ = nullptr;
}

LabelTreeDir& LabelTreeDir::operator=(LabelTreeDir&& other) noexcept {
  if (this != &other) {
    if (stream_ != nullptr) closedir(stream_);
    stream_ = other.stream_;
    path_ = std::move(other.path_);
    other.stream_ = nullptr;
  }
  return *this;
}

LabelTreeDir::~LabelTreeDir() {
  if (stream_ != nullptr) closedir(stream_);
}

const dirent* LabelTreeDir::Next() {
  while (const dirent* entry = readdir(stream_)) {
    if (!IsLabelledType(entry->d_type)) continue;
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    return entry;
  }
  return nullptr;
}

int LabelTreeDir::fd() const { return dirfd(stream_); }

void SetFileLabelFd(int fd, const std::string& shownPath, const std::string& label,
                    HyxAccessInterfaceImpl& iface) {
  SetFileLabelAt(fd, "", shownPath, label, iface);
}

std::optional<std::uint32_t> GetFileLabelIdAt(const LabelTreeDir& dir, const char* name) {
  std::uint32_t id = 0;
  const ssize_t size = HyxCtl::Security::ReadFileLabelAttrAt(dir.fd(), name, &id);
  if (size == static_cast<ssize_t>(kFileLabelSize)) return id;
  const int error = errno;
  return LabelIdRead(size, id, error, *name == '\0' ? dir.path() : dir.ChildPath(name));
}

std::optional<std::uint32_t> GetFileLabelIdByName(const std::string& path) {
  std::uint32_t id = 0;
  const ssize_t size = getxattr(path.c_str(), kFileLabelAttribute, &id, kFileLabelSize);
  return LabelIdRead(size, id, errno, path);
}

LabelTreeDir OpenLabelledTop(const std::string& path, const std::string& label,
                             HyxAccessInterfaceImpl& iface) {
  std::optional<LabelTreeDir> dir = LabelTreeDir::OpenTop(path);
  if (!dir) {
    // Not a directory, or not readable: label it by name as the caller
    // named it (a file mapping does the same), then report the directory.
    SetFileLabel(path, label, iface);
    ThrowUnopenable(path);
  }
  SetFileLabelFd(dir->fd(), path, label, iface);
  return std::move(*dir);
}

std::optional<LabelTreeDir> OpenLabelledSubdir(const LabelTreeDir& parent, const char* name,
                                               const std::string& label,
                                               HyxAccessInterfaceImpl& iface) {
  std::optional<LabelTreeDir> dir = parent.OpenChild(name);
  if (dir) {
    SetFileLabelFd(dir->fd(), dir->path(), label, iface);
    return dir;
  }
  const int error = errno;
  // Replaced by something else since the parent was read: label what is
  // there now, if it carries labels, and do not descend.
  if (error == ENOTDIR || error == ELOOP) {
    SetChangedEntryLabel(parent, name, label, iface);
    return std::nullopt;
  }
  // Out of descriptors the entry cannot be reached at all: the directory is
  // what failed. Otherwise label it, as it can be, before reporting.
  if (OutOfDescriptors(error)) ThrowUnopenable(parent.ChildPath(name));
  if (!SetChangedEntryLabel(parent, name, label, iface)) return std::nullopt;
  ThrowUnopenable(parent.ChildPath(name));
}

void SetTreeNodeLabel(const LabelTreeDir& parent, const char* name, const std::string& label,
                      HyxAccessInterfaceImpl& iface) {
  // Most entries are files: their shown path is built in a buffer that each
  // thread reuses rather than allocated per entry.
  thread_local std::string shownPath;
  shownPath.assign(parent.path()).append("/").append(name);
  SetFileLabelAt(parent.fd(), name, shownPath, label, iface);
}

void SetOpenDirLabelRecursive(LabelTreeDir& dir, const std::string& label,
                              HyxAccessInterfaceImpl& iface) {
  // One open directory per level, as a path walk would hold: a tree deeper
  // than the descriptor limit fails with the path where it ran out.
  while (const dirent* entry = dir.Next()) {
    if (entry->d_type != DT_DIR) {
      SetTreeNodeLabel(dir, entry->d_name, label, iface);
    } else if (std::optional<LabelTreeDir> sub =
                   OpenLabelledSubdir(dir, entry->d_name, label, iface)) {
      SetOpenDirLabelRecursive(*sub, label, iface);
    }
  }
}

}  // namespace SecPolicy
