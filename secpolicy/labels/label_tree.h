// Descriptor-relative pieces of tree labelling. SetDirLabelRecursive is made
// of them; they are exported for callers that walk a tree their own way
// (several workers, progress, exclusions, read-only checks).
//
// Users may write inside a labelled tree and rename, swap or replace its
// entries while it is walked. Every folder below the top is therefore opened
// relative to its parent's descriptor without following a link and labelled
// through that descriptor, and every other entry is labelled by its name
// relative to its folder's descriptor, never following a link at that name.
// A name swapped for a link after the folder was read thus never leads
// outside the tree: at worst the link itself, which lies inside, is labelled.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "secpolicy/platform/hyx_access.h"

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

// Puts `label` on the directory open as `fd`, as SetFileLabel does on a
// path, with `shownPath` in messages: throws "Invalid label (L) for file P"
// or "Unable to set file label (L) for file P: " + strerror.
void SetFileLabelFd(int fd, const std::string& shownPath, const std::string& label,
                    HyxAccessInterfaceImpl& iface);

// The label id stored on the entry `name` of `dir` ("" for `dir` itself),
// not following a link at `name`: nullopt when it carries none (no
// attribute, or a value shorter than an id); throws "Unable to get file label
// for file " + its path + ":" + strerror for any other failure.
std::optional<std::uint32_t> GetFileLabelIdAt(const LabelTreeDir& dir, const char* name);
// The same for the object `path` names, following links as a write by name
// does.
std::optional<std::uint32_t> GetFileLabelIdByName(const std::string& path);

// The steps of SetDirLabelRecursive, each labelling through descriptors.
// Labels the top of a tree and returns it open; throws as SetFileLabel, or
// "Unable to open directory " + path.
LabelTreeDir OpenLabelledTop(const std::string& path, const std::string& label,
                             HyxAccessInterfaceImpl& iface);
// Labels the sub-directory `name` of `parent` and returns it open; nullopt
// when the entry is no longer a directory (it is then labelled, unless it is
// now a link or a socket). Throws as SetFileLabel, or "Unable to open
// directory " + path.
std::optional<LabelTreeDir> OpenLabelledSubdir(const LabelTreeDir& parent, const char* name,
                                               const std::string& label,
                                               HyxAccessInterfaceImpl& iface);
// Labels the entry `name` that `parent` listed as a file, pipe or device.
// Links and sockets are never labelled, and the listing said it is neither;
// the type is not asked again, since an answer could be stale by the time of
// the write anyway. If a user swapped the name for a link or socket since,
// that object itself, inside the tree, gets the label (or the write fails):
// never what a link points to. Throws as SetFileLabel.
void SetTreeNodeLabel(const LabelTreeDir& parent, const char* name, const std::string& label,
                      HyxAccessInterfaceImpl& iface);
// Labels everything below the open directory, depth first in the order each
// directory yields its entries. The first failure ends the call.
void SetOpenDirLabelRecursive(LabelTreeDir& dir, const std::string& label,
                              HyxAccessInterfaceImpl& iface);

}  // namespace SecPolicy
