// Labelling: LoadPolicyFileLabels with one recursive mapping against a plain
// C walk (opendir/readdir) that calls setxattr on every entry; on the largest
// tree also the parallel walk with two workers and with progress counted,
// and label verify against the same C walk calling getxattr.
#include <dirent.h>
#include <sys/xattr.h>

#include <cstdio>
#include <cstring>
#include <optional>

#include "bench/bench_support.h"
#include "secpolicy/admin/label_verify.h"
#include "secpolicy/admin/label_walk.h"
#include "secpolicy/admin/progress.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/platform/file_label_attr.h"
#include "secpolicy/platform/hyx_access.h"

namespace Bench {

namespace {

using HyxCtl::Security::HyxAccessInterfaceImpl;

unsigned Dirs(unsigned multiplier) { return RunSizes().labelDirs * multiplier; }
unsigned Entries(unsigned multiplier) { return Dirs(multiplier) * (RunSizes().filesPerDir + 1) + 1; }

// Writes (or, reading, compares) the label of one path.
void Touch(const char* path, std::uint32_t id, bool reading) {
  if (reading) {
    std::uint32_t current = 0;
    if (getxattr(path, HyxCtl::Security::kFileLabelAttribute, &current, sizeof current) !=
            sizeof current ||
        current != id) {
      std::fprintf(stderr, "%s: label differs\n", path);
    }
  } else if (setxattr(path, HyxCtl::Security::kFileLabelAttribute, &id, sizeof id,
                      XATTR_REPLACE) != 0) {
    std::perror(path);
  }
}

// Labels the same entry types as the library; returns the entries labelled.
std::size_t Walk(char* path, std::size_t length, std::uint32_t id, bool reading = false) {
  Touch(path, id, reading);
  DIR* dir = opendir(path);
  if (dir == nullptr) return 1;
  std::size_t count = 1;
  while (const dirent* entry = readdir(dir)) {
    const unsigned char type = entry->d_type;
    if (type != DT_REG && type != DT_DIR && type != DT_FIFO && type != DT_CHR && type != DT_BLK) {
      continue;
    }
    if (type == DT_DIR && (std::strcmp(entry->d_name, ".") == 0 ||
                           std::strcmp(entry->d_name, "..") == 0)) {
      continue;
    }
    const std::size_t name = std::strlen(entry->d_name);
    path[length] = '/';
    std::memcpy(path + length + 1, entry->d_name, name + 1);
    if (type == DT_DIR) {
      count += Walk(path, length + 1 + name, id, reading);
    } else {
      Touch(path, id, reading);
      ++count;
    }
    path[length] = '\0';
  }
  closedir(dir);
  return count;
}

void Project(benchmark::State& state, unsigned multiplier) {
  std::string mappings;
  FreshState(1);  // first: labelling the new tree asks the state for the label
  LabelTree(Dirs(multiplier), RunSizes().filesPerDir, &mappings);
  for (auto _ : state) {
    HyxAccessInterfaceImpl iface;
    SecPolicy::LoadPolicyFileLabels(mappings, iface);
  }
  state.SetItemsProcessed(state.iterations() * Entries(multiplier));
}

// load-file-labels through the parallel walk with the given settings; the
// progress is counted as the tool counts it (showing it, four times a
// second, is the tool's).
void ToolLoad(benchmark::State& state, unsigned multiplier, unsigned jobs, bool progress) {
  std::string mappings;
  FreshState(1);  // first: labelling the new tree asks the state for the label
  LabelTree(Dirs(multiplier), RunSizes().filesPerDir, &mappings);
  for (auto _ : state) {
    HyxAccessInterfaceImpl iface;
    std::optional<SecPolicy::Admin::ProgressCounter> counted;
    if (progress) counted.emplace(jobs);
    SecPolicy::Admin::WalkSettings settings;
    settings.jobs = jobs;
    settings.progress = counted ? &*counted : nullptr;
    SecPolicy::LoadPolicyFileLabels(mappings, iface, [&](const SecPolicy::Admin::Mapping& mapping) {
      SecPolicy::Admin::LabelTree(mapping.path, mapping.label, settings);
    });
  }
  state.SetItemsProcessed(state.iterations() * Entries(multiplier));
}

void Jobs2(benchmark::State& state, unsigned multiplier) { ToolLoad(state, multiplier, 2, false); }
void ProgressOn(benchmark::State& state, unsigned multiplier) {
  ToolLoad(state, multiplier, 1, true);
}
void ProgressOff(benchmark::State& state, unsigned multiplier) {
  ToolLoad(state, multiplier, 1, false);
}

void Verify(benchmark::State& state, unsigned multiplier) {
  std::string mappings;
  FreshState(1);  // first: labelling the new tree asks the state for the label
  LabelTree(Dirs(multiplier), RunSizes().filesPerDir, &mappings);
  {
    HyxAccessInterfaceImpl iface;
    SecPolicy::LoadPolicyFileLabels(mappings, iface);
  }
  SecPolicy::Admin::VerifyOptions options;
  options.mappingDir = mappings;
  for (auto _ : state) {
    const auto result = SecPolicy::Admin::VerifyLabels(options);
    if (!result.differences.empty() || !result.errors.empty()) state.SkipWithError("labels differ");
  }
  state.SetItemsProcessed(state.iterations() * Entries(multiplier));
}

void VerifyBaseline(benchmark::State& state, unsigned multiplier) {
  std::string mappings;
  FreshState(1);  // first: labelling the new tree asks the state for the label
  const std::string tree = LabelTree(Dirs(multiplier), RunSizes().filesPerDir, &mappings);
  {
    HyxAccessInterfaceImpl iface;
    SecPolicy::LoadPolicyFileLabels(mappings, iface);
  }
  for (auto _ : state) {
    HyxAccessInterfaceImpl iface;
    const std::uint32_t id = iface.LookupLabel("systemFile", HYXACCESS_LABEL_OBJECT);
    char path[4096];
    std::snprintf(path, sizeof path, "%s", tree.c_str());
    benchmark::DoNotOptimize(Walk(path, tree.size(), id, true));
  }
  state.SetItemsProcessed(state.iterations() * Entries(multiplier));
}

void Baseline(benchmark::State& state, unsigned multiplier) {
  std::string mappings;
  FreshState(1);  // first: labelling the new tree asks the state for the label
  const std::string tree = LabelTree(Dirs(multiplier), RunSizes().filesPerDir, &mappings);
  for (auto _ : state) {
    // The one label of the mapping, asked once.
    HyxAccessInterfaceImpl iface;
    const std::uint32_t id = iface.LookupLabel("systemFile", HYXACCESS_LABEL_OBJECT);
    char path[4096];
    std::snprintf(path, sizeof path, "%s", tree.c_str());
    benchmark::DoNotOptimize(Walk(path, tree.size(), id));
  }
  state.SetItemsProcessed(state.iterations() * Entries(multiplier));
}

}  // namespace

void RegisterLabels() {
  for (unsigned m : kGrowth) RegisterSized("labelling", Project, Baseline, m);
  // The tools' figures, on the largest tree only.
  const unsigned largest = kGrowth[std::size(kGrowth) - 1];
  RegisterSized("labelling_jobs2", Jobs2, Baseline, largest);
  RegisterSized("labelling_progress", ProgressOn, ProgressOff, largest);
  RegisterSized("label_verify", Verify, VerifyBaseline, largest);
}

}  // namespace Bench
