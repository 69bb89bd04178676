#include "labels/label_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "labels/file_labels.h"
#include "platform/file_label_attr.h"
#include "platform/host_ctl_exception.h"

namespace SecPolicy {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::kFileLabelAttribute;
using HyxCtl::Security::kFileLabelSize;

namespace {

// The name through which the attribute calls reach the object held by `fd`
// (the f*xattr calls refuse an O_PATH descriptor).
struct FdName {
  explicit FdName(int fd) { std::snprintf(text, sizeof text, "/proc/self/fd/%d", fd); }
  char text[32];
};

bool IsLabelledType(unsigned char type) {
  return type == DT_FIFO || type == DT_CHR || type == DT_DIR || type == DT_BLK || type == DT_REG;
}

bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

[[noreturn]] void ThrowUnopenable(const std::string& path) {
  throw HostCtlException("Unable to open directory " + path);
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

std::optional<LabelTreeEntry> LabelTreeEntry::Open(const LabelTreeDir& dir, const char* name) {
  const int fd = openat(dir.fd(), name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return std::nullopt;
  }
  return LabelTreeEntry(fd, info);
}

LabelTreeEntry::~LabelTreeEntry() {
  if (fd_ >= 0) close(fd_);
}

bool LabelTreeEntry::CarriesLabel() const {
  return !S_ISLNK(info_.st_mode) && !S_ISSOCK(info_.st_mode);
}

void SetFileLabelFd(int fd, const std::string& shownPath, const std::string& label,
                    HyxAccessInterfaceImpl& iface) {
  const std::uint32_t id = iface.LookupLabel(label, HYXACCESS_LABEL_OBJECT);
  if (id == 1) throw HostCtlException("Invalid label (" + label + ") for file " + shownPath);
  errno = 0;
  const FdName name(fd);
  if (HyxCtl::Security::WriteFileLabelAttr(name.text, shownPath.c_str(), id) < 0) {
    throw HostCtlException("Unable to set file label (" + label + ") for file " + shownPath +
                           ": " + std::strerror(errno));
  }
}

std::optional<std::uint32_t> GetFileLabelIdFd(int fd, const std::string& shownPath) {
  std::uint32_t id = 0;
  const FdName name(fd);
  const ssize_t size = getxattr(name.text, kFileLabelAttribute, &id, kFileLabelSize);
  if (size == static_cast<ssize_t>(kFileLabelSize)) return id;
  if (size >= 0 || errno == ENODATA) return std::nullopt;
  throw HostCtlException("Unable to get file label for file " + shownPath + ":" +
                         std::strerror(errno));
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
    SetTreeNodeLabel(parent, name, label, iface);
    return std::nullopt;
  }
  // Out of descriptors the entry cannot be reached at all: the directory is
  // what failed. Otherwise label it, as it can be, before reporting.
  if (OutOfDescriptors(error)) ThrowUnopenable(parent.ChildPath(name));
  std::optional<LabelTreeEntry> entry = LabelTreeEntry::Open(parent, name);
  if (!entry && OutOfDescriptors(errno)) ThrowUnopenable(parent.ChildPath(name));
  if (!entry) {
    throw HostCtlException("Unable to set file label (" + label + ") for file " +
                           parent.ChildPath(name) + ": " + std::strerror(errno));
  }
  if (!entry->CarriesLabel()) return std::nullopt;
  SetFileLabelFd(entry->fd(), parent.ChildPath(name), label, iface);
  ThrowUnopenable(parent.ChildPath(name));
}

bool SetTreeNodeLabel(const LabelTreeDir& parent, const char* name, const std::string& label,
                      HyxAccessInterfaceImpl& iface) {
  const std::optional<LabelTreeEntry> entry = LabelTreeEntry::Open(parent, name);
  if (!entry) {
    throw HostCtlException("Unable to set file label (" + label + ") for file " +
                           parent.ChildPath(name) + ": " + std::strerror(errno));
  }
  if (!entry->CarriesLabel()) return false;
  SetFileLabelFd(entry->fd(), parent.ChildPath(name), label, iface);
  return true;
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
