// File labels: the label id stored in an extended attribute of a file, and
// the file-label policy that maps paths (or whole trees, "dir/*") to labels.
//
// Writes only replace an attribute the file already has: the host kernel
// gives every new file one, and a missing attribute means the file is not
// on a labelled file system.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy {

using HyxCtl::Security::HyxAccessInterfaceImpl;

// Throws "Invalid label (L) for file P" for a label that is not an object,
// "Unable to set file label (L) for file P: " + strerror when the write fails.
void SetFileLabel(const std::string& path, const std::string& label,
                  HyxAccessInterfaceImpl& iface);

// Labels `dir`, then every named pipe, device, directory and regular file
// below it; symbolic links, sockets and entries of unknown type are never
// followed. `dir` itself may be a link (the caller named it); below it every
// name is taken relative to its folder's descriptor, never following a link
// (labels/label_tree.h), so entries renamed or swapped meanwhile never lead
// it outside the tree. The first
// failure ends the call; labels already written stay.
void SetDirLabelRecursive(const std::string& dir, const std::string& label,
                          HyxAccessInterfaceImpl& iface);

// Throws "Unable to get file label for file " + path + ":" + strerror.
std::string GetFileLabel(const std::string& path, HyxAccessInterfaceImpl& iface);

class FileLabelPolicy {
 public:
  struct FileLabel {
    std::string path;  // without the trailing "/*" of a recursive mapping
    std::string label;
    bool recursive = false;
    std::string file;  // the policy file the mapping came from
    std::uint32_t line = 0;
  };

  // Appends the mappings of one file. Each line holds a path pattern and
  // an object name. A malformed line throws file + ":" + line + " : " +
  // cause and ends the file; an unknown label passes the kernel library's
  // exception unlocated.
  void ParsePolicy(const std::string& path, HyxAccessInterfaceImpl& iface);
  // The same on the lines of `path` already read (called by ParsePolicy), so
  // a caller can take a file a few lines at a time. Uses up the tokens.
  void ProcessParsedPolicyFile(const std::string& path, ParsedPolicyFile& lines,
                               HyxAccessInterfaceImpl& iface);

  // Applies and removes every queued mapping, reporting each failure with
  // its file and line; then throws "There was a failure in setting file
  // labels" if any failed.
  void SetFileLabels(HyxAccessInterfaceImpl& iface);

  // Applies one mapping, throwing HostCtlException on failure as
  // SetDirLabelRecursive and SetFileLabel do (which the overload above
  // uses): callers that walk trees their own way pass their own.
  using Applier = std::function<void(const FileLabel&)>;
  void SetFileLabels(const Applier& apply);

  std::deque<FileLabel> fileLabels;
};

// Reads every regular file of `dir` and applies all mappings gathered, even
// after parse errors. Throws "Failure in file labels policy" when anything
// failed; an unreadable directory passes the reader's exception.
void LoadPolicyFileLabels(const std::string& dir, HyxAccessInterfaceImpl& iface);
// The same, applying each mapping with `apply`.
void LoadPolicyFileLabels(const std::string& dir, HyxAccessInterfaceImpl& iface,
                          const FileLabelPolicy::Applier& apply);

}  // namespace SecPolicy
