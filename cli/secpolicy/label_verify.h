// label verify and label match: what the file-label mappings give each file,
// and whether the files carry it. Nothing is written.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "secpolicy/admin/finding.h"
#include "cli/secpolicy/label_walk.h"
#include "secpolicy/labels/file_labels.h"

namespace SecPolicyCli {

using SecPolicy::Admin::Finding;

using HyxCtl::Security::HyxAccessInterfaceImpl;
using Mapping = SecPolicy::FileLabelPolicy::FileLabel;

// The mappings of a file-label policy directory, in the order a load applies
// them, with the identity of the file or folder each names.
class MappingSet {
 public:
  // Parses the files of `dir` as load-file-labels does, reporting the same
  // errors; returns one finding per file that failed to parse. Throws when
  // `dir` cannot be read.
  std::vector<Finding> Load(const std::string& dir, HyxAccessInterfaceImpl& iface);

  const std::vector<Mapping>& mappings() const { return mappings_; }

  // The mapping that gives `path` its label: the last in load order whose
  // write reaches the object `path` names. Throws when `path` cannot be
  // examined.
  std::optional<std::size_t> Match(const std::string& path) const;

  // Whether a later mapping than `index` also writes the object `info`
  // itself, or walks the tree below it.
  bool LaterWrites(std::size_t index, const struct stat& info) const;
  // Whether a later mapping than `index` writes anything by its own name.
  bool AnyLaterWrite(std::size_t index) const;
  bool LaterWalks(std::size_t index, const struct stat& info) const;

 private:
  using Identity = std::pair<dev_t, ino_t>;
  std::vector<Mapping> mappings_;
  std::vector<std::optional<Identity>> named_;  // what each mapping names, followed
  std::map<Identity, std::size_t> lastWrite_, lastWalk_;  // last mapping per object
};

struct VerifyOptions {
  bool json = false;
  std::string mappingDir;          // a fileLabels folder
  std::vector<std::string> paths;  // empty: every mapped file
  WalkSettings walk;
};

// Prints the differences; returns 0 when every label matches, 1 when some
// differ, 3 when something could not be verified (the mappings do not
// parse or cannot be read, a path is missing or no mapping covers it, a
// label cannot be read).
int VerifyLabels(const VerifyOptions& options);

// Prints, for each path, the label and the mapping that gives it; returns 0
// when every path has one, 1 otherwise.
int MatchLabels(const std::string& mappingDir, const std::vector<std::string>& paths);

}  // namespace SecPolicyCli
