// The parallel tree walk: the library's descriptor-relative label functions
// (labels/label_tree.h) driven by several workers, with exclusions and
// progress. The core library keeps no thread; the workers live here.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "secpolicy/admin/progress.h"
#include "secpolicy/labels/label_tree.h"

namespace SecPolicy::Admin {

// Files and folders left out of a walk, by identity, so that a folder is
// excluded however the walk reaches it (a mount point included).
class Exclusions {
 public:
  // Throws HostCtlException when `path` cannot be examined.
  void Add(const std::string& path);
  bool empty() const { return ids_.empty(); }
  bool Contains(const struct stat& info) const {
    return ids_.count({info.st_dev, info.st_ino}) != 0;
  }
  bool ContainsFd(int fd) const;
  bool ContainsPath(const std::string& path) const;  // followed, as a mapping names it
  bool ContainsEntry(const LabelTreeDir& parent, const char* name) const;

 private:
  std::set<std::pair<dev_t, ino_t>> ids_;
};

struct WalkSettings {
  unsigned jobs = 1;  // workers; 1 walks on the calling thread only
  Exclusions exclusions;
  WalkProgress* progress = nullptr;  // told of each entry done, when set
};

// What a walk does with the entries it meets; called from up to `jobs`
// threads at once, `worker` telling which.
class TreeVisitor {
 public:
  virtual ~TreeVisitor() = default;
  // An entry that is not a directory (and not excluded).
  virtual void Node(unsigned worker, const LabelTreeDir& parent, const char* name) = 0;
  // A sub-directory: returns it open to be walked, or nullopt to skip it.
  virtual std::optional<LabelTreeDir> Subdir(unsigned worker, const LabelTreeDir& parent,
                                             const char* name) = 0;
};

// Walks everything below `top` depth first, sharing sub-directories among
// the workers. When visits fail, throws, after every worker stopped, the
// exception that a walk with one worker would have met first: the set of
// messages does not depend on the number of workers (unless descriptors run
// out, which several workers do sooner). Entries after the first failure
// may have been visited by other workers meanwhile.
void WalkTree(LabelTreeDir top, TreeVisitor& visitor, const WalkSettings& settings);

// SetDirLabelRecursive (same labels, same failures) with these settings.
void LabelTree(const std::string& dir, const std::string& label, const WalkSettings& settings);

// The number of workers for --jobs N (0: one per core).
unsigned JobCount(unsigned requested);

// What may steer a recursive relabel of `root` elsewhere, as texts for a
// warning: the root is a symbolic link (followed, as the root is opened by
// its name), or it or a folder above it lies in a folder that users other
// than the caller and root may write, who could swap it for another tree.
// Nothing below the root matters: the walk follows no link there. Empty
// when `root` cannot be examined (labelling it then fails on its own).
std::vector<std::string> RootHazards(const std::string& root);

}  // namespace SecPolicy::Admin
