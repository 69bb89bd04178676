// Label verify and match: what the file-label mappings give each file, and
// whether the files carry it. Nothing is written; nothing is printed.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "secpolicy/admin/finding.h"
#include "secpolicy/admin/label_walk.h"
#include "secpolicy/labels/file_labels.h"

namespace SecPolicy::Admin {

using HyxCtl::Security::HyxAccessInterfaceImpl;
using Mapping = SecPolicy::FileLabelPolicy::FileLabel;

// Where errors are reported as they are met, one text per call, as the
// load reports them.
using ErrorReport = std::function<void(const std::string& text)>;

// The mappings of a file-label policy directory, in the order a load applies
// them, with the identity of the file or folder each names.
class MappingSet {
 public:
  // Parses the files of `dir` as load-file-labels does, reporting the same
  // errors to `report`; returns one finding per file that failed to parse.
  // Throws when `dir` cannot be read.
  std::vector<Finding> Load(const std::string& dir, HyxAccessInterfaceImpl& iface,
                            const ErrorReport& report = {});

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
  std::string mappingDir;          // a fileLabels folder
  std::vector<std::string> paths;  // empty: every mapped file
  WalkSettings walk;
};

struct LabelDifference {
  std::string path;
  // The name of the label the file carries ("(unknown id N)" for an id that
  // names no object); nullopt when it carries no label attribute.
  std::optional<std::string> current;
  std::string wanted;
};

struct VerifyResult {
  std::uint64_t matched = 0;                  // files that carry their label
  std::vector<LabelDifference> differences;  // sorted by path
  // What could not be verified: mapping files that do not parse or cannot
  // be read, a path that is missing or that no mapping covers, a label that
  // cannot be read. Each was also reported when met.
  std::vector<Finding> errors;
};

// Compares the labels on disk with the mappings of `options.mappingDir`,
// for every mapped file or for `options.paths` only.
VerifyResult VerifyLabels(const VerifyOptions& options, const ErrorReport& report = {});

}  // namespace SecPolicy::Admin
