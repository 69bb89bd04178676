#include "secpolicy/admin/label_verify.h"

#include <fcntl.h>
#include <libgen.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/policy_file_reader.h"
#include "secpolicy/platform/unique_fd.h"

namespace SecPolicy::Admin {

using HostCtl::Lib::HostCtlException;

namespace {

[[noreturn]] void ThrowErrno(const std::string& what, const std::string& path) {
  throw HostCtlException(what + path + ": " + std::strerror(errno));
}

bool CarriesLabel(const struct stat& info) {
  return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode) || S_ISFIFO(info.st_mode) ||
         S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode);
}

// The folders a walk from above passes on its way down to the object `path`
// names (following links in `path`, as a mapping's own name is followed),
// nearest first: the real parents, as ".." leads up.
std::vector<std::pair<dev_t, ino_t>> Ancestors(const std::string& path, const struct stat& info) {
  std::vector<std::pair<dev_t, ino_t>> chain;
  int first = -1;
  if (S_ISDIR(info.st_mode)) {
    const Posix::UniqueFd self(open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (self.get() < 0) ThrowErrno("Unable to examine ", path);
    first = openat(self.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
  } else {
    const std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr),
                                                           &std::free);
    if (!real) ThrowErrno("Unable to examine ", path);
    first = open(dirname(real.get()), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (first < 0) ThrowErrno("Unable to examine ", path);
  auto current = std::make_unique<Posix::UniqueFd>(first);
  for (;;) {
    struct stat here {};
    if (fstat(current->get(), &here) != 0) ThrowErrno("Unable to examine ", path);
    if (!chain.empty() && chain.back() == std::pair{here.st_dev, here.st_ino}) break;  // the root
    chain.emplace_back(here.st_dev, here.st_ino);
    auto up = std::make_unique<Posix::UniqueFd>(openat(current->get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (up->get() < 0) ThrowErrno("Unable to examine ", path);
    current = std::move(up);
  }
  return chain;
}

struct Difference {
  std::string path;
  std::optional<std::uint32_t> current;
  std::string wanted;
};

struct Tally {
  std::vector<Difference> differences;
  std::uint64_t matched = 0;
};

// Reads the label of every entry of one recursive mapping that no later
// mapping writes.
class Checker : public TreeVisitor {
 public:
  Checker(const MappingSet& set, std::size_t index, std::uint32_t wanted,
          const WalkSettings& settings)
      : set_(set), index_(index), wanted_(wanted), settings_(settings),
        laterWrites_(set.AnyLaterWrite(index)), tallies_(std::max(settings.jobs, 1u)) {}

  void Node(unsigned worker, const LabelTreeDir& parent, const char* name) override {
    // The listing said file, pipe or device. Its identity is asked only when
    // a later mapping may write it; a name swapped for a link since is read
    // as the link itself, never followed.
    if (laterWrites_ && !StillChecked(parent, name)) return;
    Check(worker, parent, name);
  }

  std::optional<LabelTreeDir> Subdir(unsigned worker, const LabelTreeDir& parent,
                                     const char* name) override {
    std::optional<LabelTreeDir> sub = parent.OpenChild(name);
    if (!sub) {
      if (errno != ENOTDIR && errno != ELOOP) {
        throw HostCtlException("Unable to open directory " + parent.ChildPath(name));
      }
      if (StillChecked(parent, name)) Check(worker, parent, name);  // no longer a directory
      return std::nullopt;
    }
    struct stat info {};
    if (fstat(sub->fd(), &info) != 0) ThrowErrno("Unable to get file label for file ", sub->path());
    if (settings_.exclusions.Contains(info) || set_.LaterWalks(index_, info)) return std::nullopt;
    if (!set_.LaterWrites(index_, info)) Check(worker, *sub, "");
    return sub;
  }

  void AddTo(Tally& total) {
    for (Tally& tally : tallies_) {
      total.matched += tally.matched;
      std::move(tally.differences.begin(), tally.differences.end(),
                std::back_inserter(total.differences));
    }
  }

 private:
  // Whether the entry `name` of `parent` carries a label that this mapping
  // gives: not a link or socket, and no later mapping writes it.
  bool StillChecked(const LabelTreeDir& parent, const char* name) const {
    struct stat info {};
    if (fstatat(parent.fd(), name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      ThrowErrno("Unable to get file label for file ", parent.ChildPath(name));
    }
    return CarriesLabel(info) && !set_.LaterWrites(index_, info);
  }

  // Reads the entry `name` of `dir` ("" for `dir` itself) and counts it.
  void Check(unsigned worker, const LabelTreeDir& dir, const char* name) {
    const std::optional<std::uint32_t> current = SecPolicy::GetFileLabelIdAt(dir, name);
    Tally& tally = tallies_[worker];
    if (current == wanted_) {
      ++tally.matched;
    } else {
      tally.differences.push_back(
          {*name == '\0' ? dir.path() : dir.ChildPath(name), current, set_.mappings()[index_].label});
    }
  }

  const MappingSet& set_;
  const std::size_t index_;
  const std::uint32_t wanted_;
  const WalkSettings& settings_;
  const bool laterWrites_;
  std::vector<Tally> tallies_;
};

std::uint32_t WantedId(const Mapping& mapping, HyxAccessInterfaceImpl& iface) {
  const std::uint32_t id = iface.LookupLabel(mapping.label, HYXACCESS_LABEL_OBJECT);
  if (id == 1) {
    throw HostCtlException("Invalid label (" + mapping.label + ") for file " + mapping.path);
  }
  return id;
}

// Reads the label of the object `path` names, following links as a write
// by name does.
void CheckByName(const std::string& path, const std::string& label, std::uint32_t wanted,
                 Tally& tally) {
  const std::optional<std::uint32_t> current = SecPolicy::GetFileLabelIdByName(path);
  if (current == wanted) {
    ++tally.matched;
  } else {
    tally.differences.push_back({path, current, label});
  }
}

void VerifyMapping(const MappingSet& set, std::size_t index, const WalkSettings& settings,
                   HyxAccessInterfaceImpl& iface, Tally& tally) {
  const Mapping& mapping = set.mappings()[index];
  const std::uint32_t wanted = WantedId(mapping, iface);
  if (settings.exclusions.ContainsPath(mapping.path)) return;
  const std::optional<std::size_t> winner = set.Match(mapping.path);
  if (winner == index) CheckByName(mapping.path, mapping.label, wanted, tally);
  if (!mapping.recursive) return;
  struct stat info {};
  if (stat(mapping.path.c_str(), &info) != 0) ThrowErrno("Unable to examine ", mapping.path);
  if (set.LaterWalks(index, info)) return;
  for (const auto& above : Ancestors(mapping.path, info)) {
    struct stat up {};
    up.st_dev = above.first;
    up.st_ino = above.second;
    if (set.LaterWalks(index, up)) return;
  }
  std::optional<LabelTreeDir> top = LabelTreeDir::OpenTop(mapping.path);
  if (!top) throw HostCtlException("Unable to open directory " + mapping.path);
  if (settings.progress != nullptr) settings.progress->Count(0);
  Checker checker(set, index, wanted, settings);
  try {
    WalkTree(std::move(*top), checker, settings);
  } catch (...) {
    checker.AddTo(tally);
    throw;
  }
  checker.AddTo(tally);
}

std::string LabelName(std::uint32_t id, HyxAccessInterfaceImpl& iface,
                      std::map<std::uint32_t, std::string>& names) {
  auto [entry, fresh] = names.try_emplace(id);
  if (fresh) {
    try {
      entry->second = iface.GetLabel(id, HYXACCESS_LABEL_OBJECT);
    } catch (const HostCtlException&) {
      entry->second = "(unknown id " + std::to_string(id) + ")";
    }
  }
  return entry->second;
}

// A parse error of the mapping file `path`: "<path>:<line> : <cause>" when
// the parser located it, else its text alone.
Finding Located(const std::string& path, const std::string& text) {
  const std::string head = path + ":";
  if (text.starts_with(head)) {
    std::size_t end = head.size();
    while (end < text.size() && end - head.size() < 10 && text[end] >= '0' && text[end] <= '9') ++end;
    const unsigned long line = end > head.size() ? std::stoul(text.substr(head.size(), end - head.size())) : 0;
    if (end > head.size() && line <= UINT_MAX && text.compare(end, 3, " : ") == 0) {
      return {path, static_cast<unsigned int>(line), text.substr(end + 3)};
    }
  }
  return {path, std::nullopt, text};
}

void Tell(const ErrorReport& report, const std::string& text) {
  if (report) report(text);
}

}  // namespace

std::vector<Finding> MappingSet::Load(const std::string& dir, HyxAccessInterfaceImpl& iface,
                                      const ErrorReport& report) {
  SecPolicy::PolicyFileList files;
  SecPolicy::GetFileList(dir, files);
  SecPolicy::FileLabelPolicy policy;
  std::vector<Finding> errors;
  for (const auto& [path, name] : files) {
    try {
      policy.ParsePolicy(path, iface);
    } catch (const HostCtlException& failure) {
      Tell(report, "Error parsing file " + path);
      Tell(report, failure.what());
      errors.push_back(Located(path, failure.what()));
    }
  }
  mappings_.assign(policy.fileLabels.begin(), policy.fileLabels.end());
  for (std::size_t index = 0; index < mappings_.size(); ++index) {
    struct stat info {};
    if (stat(mappings_[index].path.c_str(), &info) != 0) {
      named_.emplace_back();
      continue;
    }
    const Identity id{info.st_dev, info.st_ino};
    named_.emplace_back(id);
    lastWrite_[id] = index;
    if (mappings_[index].recursive && S_ISDIR(info.st_mode)) lastWalk_[id] = index;
  }
  return errors;
}

std::optional<std::size_t> MappingSet::Match(const std::string& path) const {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) ThrowErrno("Unable to examine ", path);
  std::optional<std::size_t> best;
  const auto consider = [&best](const std::map<Identity, std::size_t>& last, const Identity& id) {
    const auto found = last.find(id);
    if (found != last.end() && (!best || found->second > *best)) best = found->second;
  };
  consider(lastWrite_, {info.st_dev, info.st_ino});
  if (CarriesLabel(info) && !lastWalk_.empty()) {
    for (const auto& above : Ancestors(path, info)) consider(lastWalk_, above);
  }
  return best;
}

bool MappingSet::LaterWrites(std::size_t index, const struct stat& info) const {
  const auto found = lastWrite_.find({info.st_dev, info.st_ino});
  return found != lastWrite_.end() && found->second > index;
}

bool MappingSet::AnyLaterWrite(std::size_t index) const {
  return std::any_of(lastWrite_.begin(), lastWrite_.end(),
                     [index](const auto& write) { return write.second > index; });
}

bool MappingSet::LaterWalks(std::size_t index, const struct stat& info) const {
  const auto found = lastWalk_.find({info.st_dev, info.st_ino});
  return found != lastWalk_.end() && found->second > index;
}

VerifyResult VerifyLabels(const VerifyOptions& options, const ErrorReport& report) {
  HyxAccessInterfaceImpl iface;
  MappingSet set;
  VerifyResult result;
  try {
    result.errors = set.Load(options.mappingDir, iface, report);
  } catch (const HostCtlException& failure) {
    Tell(report, failure.what());
    result.errors.push_back({options.mappingDir, std::nullopt, failure.what()});
  }
  Tally tally;
  if (options.paths.empty()) {
    for (std::size_t index = 0; index < set.mappings().size(); ++index) {
      const Mapping& mapping = set.mappings()[index];
      try {
        VerifyMapping(set, index, options.walk, iface, tally);
      } catch (const HostCtlException& failure) {
        Tell(report, mapping.file + ":" + std::to_string(mapping.line) + " : " + failure.what());
        result.errors.push_back({mapping.file, mapping.line, failure.what()});
      }
    }
  } else {
    for (const std::string& path : options.paths) {
      try {
        const std::optional<std::size_t> winner = set.Match(path);
        if (!winner) throw HostCtlException("No file-label mapping covers " + path);
        const Mapping& mapping = set.mappings()[*winner];
        CheckByName(path, mapping.label, WantedId(mapping, iface), tally);
      } catch (const HostCtlException& failure) {
        Tell(report, failure.what());
        result.errors.push_back({path, std::nullopt, failure.what()});
      }
    }
  }

  std::sort(tally.differences.begin(), tally.differences.end(),
            [](const Difference& a, const Difference& b) { return a.path < b.path; });
  std::map<std::uint32_t, std::string> names;
  for (Difference& d : tally.differences) {
    std::optional<std::string> current;
    if (d.current) current = LabelName(*d.current, iface, names);
    result.differences.push_back({std::move(d.path), std::move(current), std::move(d.wanted)});
  }
  result.matched = tally.matched;
  return result;
}

}  // namespace SecPolicy::Admin
