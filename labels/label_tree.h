// Descriptor-relative pieces of tree labelling. SetDirLabelRecursive is made
// of them; they are exported for callers that walk a tree their own way
// (several workers, progress, exclusions, read-only checks).
//
// Users may write inside a labelled tree and rename, swap or replace its
// entries while it is walked. Every folder below the top is therefore opened
// relative to its parent's descriptor without following a link, and every
// entry is labelled or read through a descriptor of its own (O_PATH, never
// opened for I/O: a pipe cannot block and a device is not touched), so a
// name swapped for a link between reading a folder and labelling the entry
// never leads outside the tree.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/hyx_access.h"

namespace SecPolicy {

using HyxCtl::Security::HyxAccessInterfaceImpl;

// An open directory of a tree, closed on destruction.
class LabelTreeDir {
 public:
  // Opens the top of a tree. A link here is followed: the caller named it.
  // nullopt with errno set when `path` cannot be opened as a directory.
  static std::optional<LabelTreeDir> OpenTop(const std::string& path);
  // Opens the sub-directory `name`, never following a link: errno is ENOTDIR
  // or ELOOP when the entry is no longer a directory.
  std::optional<LabelTreeDir> OpenChild(const char* name) const;

  LabelTreeDir(LabelTreeDir&& other) noexcept;
  LabelTreeDir& operator=(LabelTreeDir&& other) noexcept;
  LabelTreeDir(const LabelTreeDir&) = delete;
  LabelTreeDir& operator=(const LabelTreeDir&) = delete;
  ~LabelTreeDir();

  // The next entry that can carry a label (named pipe, character or block
  // device, directory, regular file; never "." or ".."), in the order the
  // directory yields them, or nullptr at the end. Valid until the next call.
  const dirent* Next();

  int fd() const;
  // The directory as messages name it: the top as given, then + "/" + name.
  const std::string& path() const { return path_; }
  std::string ChildPath(const char* name) const { return path_ + "/" + name; }

 private:
  LabelTreeDir(DIR* stream, std::string path) : stream_(stream), path_(std::move(path)) {}
  static std::optional<LabelTreeDir> FromFd(int fd, std::string path);
  DIR* stream_;
  std::string path_;
};

// The object an entry names at the moment it is opened, held by an O_PATH
// descriptor and closed on destruction.
class LabelTreeEntry {
 public:
  // nullopt with errno set when the entry cannot be opened (it vanished).
  static std::optional<LabelTreeEntry> Open(const LabelTreeDir& dir, const char* name);

  LabelTreeEntry(LabelTreeEntry&& other) noexcept : fd_(other.fd_), info_(other.info_) {
    other.fd_ = -1;
  }
  LabelTreeEntry(const LabelTreeEntry&) = delete;
  LabelTreeEntry& operator=(const LabelTreeEntry&) = delete;
  ~LabelTreeEntry();

  int fd() const { return fd_; }
  const struct stat& info() const { return info_; }
  // False for links and sockets, which are never labelled: the name was
  // swapped after the directory was read.
  bool CarriesLabel() const;

 private:
  LabelTreeEntry(int fd, const struct stat& info) : fd_(fd), info_(info) {}
  int fd_;
  struct stat info_;
};

// Puts `label` on the object open as `fd`, as SetFileLabel does on a path,
// with `shownPath` in messages: throws "Invalid label (L) for file P" or
// "Unable to set file label (L) for file P: " + strerror.
void SetFileLabelFd(int fd, const std::string& shownPath, const std::string& label,
                    HyxAccessInterfaceImpl& iface);

// The label id stored on the object open as `fd`: nullopt when it carries
// none (no attribute, or a value shorter than an id); throws "Unable to get
// file label for file " + shownPath + ":" + strerror for any other failure.
std::optional<std::uint32_t> GetFileLabelIdFd(int fd, const std::string& shownPath);

// The steps of SetDirLabelRecursive, each labelling through descriptors.
// Labels the top of a tree and returns it open; throws as SetFileLabel, or
// "Unable to open directory " + path.
LabelTreeDir OpenLabelledTop(const std::string& path, const std::string& label,
                             HyxAccessInterfaceImpl& iface);
// Labels the sub-directory `name` of `parent` and returns it open; nullopt
// when the entry is no longer a directory (it is then labelled as
// SetTreeNodeLabel does). Throws as SetFileLabel, or "Unable to open
// directory " + path.
std::optional<LabelTreeDir> OpenLabelledSubdir(const LabelTreeDir& parent, const char* name,
                                               const std::string& label,
                                               HyxAccessInterfaceImpl& iface);
// Labels the entry `name` of `parent` that is not a directory; returns false,
// writing nothing, when it has become a link or a socket. Throws as
// SetFileLabel.
bool SetTreeNodeLabel(const LabelTreeDir& parent, const char* name, const std::string& label,
                      HyxAccessInterfaceImpl& iface);
// Labels everything below the open directory, depth first in the order each
// directory yields its entries. The first failure ends the call.
void SetOpenDirLabelRecursive(LabelTreeDir& dir, const std::string& label,
                              HyxAccessInterfaceImpl& iface);

}  // namespace SecPolicy
