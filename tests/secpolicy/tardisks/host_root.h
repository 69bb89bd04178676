// The sandboxed host root of a test program: /etc/norvane and /tardisks are
// this program's own folders, in a private mount namespace entered before
// main, while there is one thread.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "hostsim/admin.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "tests/support/sim_fixture.h"

namespace HostRoot {

namespace fs = std::filesystem;

struct Sandbox {
  Sandbox() {
    try {
      HostSim::EnterHostRoot(dir.str());
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      error = failure.what();
    }
  }
  TestSupport::ScratchDir dir;
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
