// Labelling: LoadPolicyFileLabels with one recursive mapping against a plain
// C walk (opendir/readdir) that calls setxattr on every entry.
#include <dirent.h>
#include <sys/xattr.h>

#include <cstdio>
#include <cstring>

#include "bench/bench_support.h"
#include "labels/file_labels.h"
#include "platform/file_label_attr.h"
#include "platform/hyx_access.h"

namespace Bench {

namespace {

using HyxCtl::Security::HyxAccessInterfaceImpl;

unsigned Dirs(unsigned multiplier) { return RunSizes().labelDirs * multiplier; }
unsigned Entries(unsigned multiplier) { return Dirs(multiplier) * (RunSizes().filesPerDir + 1) + 1; }

// Labels the same entry types as the library; returns the entries labelled.
std::size_t Walk(char* path, std::size_t length, std::uint32_t id) {
  if (setxattr(path, HyxCtl::Security::kFileLabelAttribute, &id, sizeof id, XATTR_REPLACE) != 0) {
    std::perror(path);
  }
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
      count += Walk(path, length + 1 + name, id);
    } else {
      if (setxattr(path, HyxCtl::Security::kFileLabelAttribute, &id, sizeof id, XATTR_REPLACE) !=
          0) {
        std::perror(path);
      }
      ++count;
    }
    path[length] = '\0';
  }
  closedir(dir);
  return count;
}

void Project(benchmark::State& state, unsigned multiplier) {
  std::string mappings;
  LabelTree(Dirs(multiplier), RunSizes().filesPerDir, &mappings);
  FreshState(1);
  for (auto _ : state) {
    HyxAccessInterfaceImpl iface;
    SecPolicy::LoadPolicyFileLabels(mappings, iface);
  }
  state.SetItemsProcessed(state.iterations() * Entries(multiplier));
}

void Baseline(benchmark::State& state, unsigned multiplier) {
  std::string mappings;
  const std::string tree = LabelTree(Dirs(multiplier), RunSizes().filesPerDir, &mappings);
  FreshState(1);
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
}

}  // namespace Bench
