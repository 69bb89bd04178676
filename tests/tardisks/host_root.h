// The sandboxed host root of a test program: /etc/norvane and /tardisks are
// this program's own folders, in a private mount namespace entered before
// main, while there is one thread. The root lives in the build tree, not in
// /tmp, which the host root covers with its own tree.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "hostsim/admin.h"
#include "platform/host_ctl_exception.h"

namespace HostRoot {

namespace fs = std::filesystem;

struct Sandbox {
  Sandbox() {
    const fs::path parent = fs::path(SECPOLICY_BIN_DIR).parent_path() / "test-host-roots";
    fs::create_directories(parent);
    std::string pattern = (parent / "root-XXXXXX").string();
    root = mkdtemp(pattern.data()) ? pattern : "";
    try {
      HostSim::EnterHostRoot(root);
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      error = failure.what();
    }
  }
  ~Sandbox() {
    std::error_code ignored;
    if (!root.empty()) fs::remove_all(root, ignored);
  }
  std::string root;
  std::string error;  // why the root could not be entered
};

inline Sandbox& Get() {
  static Sandbox sandbox;
  return sandbox;
}
inline const bool kEntered = (Get(), true);

// Empties /etc/norvane and /tardisks; false when there is no sandbox.
inline bool Fresh() {
  if (!Get().error.empty()) return false;
  for (const char* dir : {"/etc/norvane", "/tardisks"}) {
    for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
  }
  return true;
}

}  // namespace HostRoot

#define REQUIRE_HOST_ROOT() \
  if (!HostRoot::Fresh()) GTEST_SKIP() << "no host root: " << HostRoot::Get().error
