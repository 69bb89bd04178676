// A file-label file: its mappings are parsed as written, then applied to a
// small scratch tree only. Each mapping's path is swapped for one entry of
// that tree (picked by a hash of the path), so no input can ever label the
// machine's own files.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>

#include "fuzz/fuzz_host.h"
#include "hostsim/admin.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/hyx_access.h"

using HostCtl::Lib::HostCtlException;

namespace {

// Entries of the tree, relative to it; the last one never exists.
constexpr const char* kTargets[] = {"", "/a", "/d", "/d/b", "/d/e", "/d/e/c", "/fifo", "/missing"};

// The tree, and beside it a folder that a symbolic link inside the tree
// points to: a recursive mapping must never reach it.
struct Tree {
  Tree() {
    const std::string& scratch = Fuzz::Host::Get().scratch();
    root = scratch + "/tree";
    outside = scratch + "/outside";
    for (const std::string& dir : {root, root + "/d", root + "/d/e", outside}) {
      mkdir(dir.c_str(), 0755);
    }
    Fuzz::Host::Get().WriteFile("tree/a", "a");
    Fuzz::Host::Get().WriteFile("tree/d/b", "b");
    Fuzz::Host::Get().WriteFile("tree/d/e/c", "c");
    Fuzz::Host::Get().WriteFile("outside/f", "f");
    mkfifo((root + "/fifo").c_str(), 0644);
    symlink(outside.c_str(), (root + "/d/link").c_str());
  }
  std::string root;
  std::string outside;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fuzz::Host& host = Fuzz::Host::Get();
  static const Tree tree;
  host.Reset();
  HostSim::InitFileLabel(tree.root, true);
  HostSim::InitFileLabel(tree.outside, true);
  HyxCtl::Security::HyxAccessInterfaceImpl iface;

  SecPolicy::FileLabelPolicy policy;
  try {
    policy.ParsePolicy(host.WriteFile("labels", Fuzz::AsText(data, size)), iface);
  } catch (const HostCtlException&) {
    // The mappings of the lines before the bad one are still applied.
  }
  for (auto& mapping : policy.fileLabels) {
    const std::size_t pick = std::hash<std::string>{}(mapping.path) % std::size(kTargets);
    mapping.path = tree.root + kTargets[pick];
  }
  try {
    policy.SetFileLabels(iface);
  } catch (const HostCtlException&) {
  }

  for (const std::string& path : {tree.outside, tree.outside + "/f"}) {
    if (SecPolicy::GetFileLabel(path, iface) != "unlabeled") std::abort();
  }
  return 0;
}
