// The sandboxed host root of a test program: /etc/norvane and /tardisks are
// this program's own folders, in a private mount namespace entered before
// main (while there is one thread). Tests that need those fixed paths call
// HostRoot::Fresh() and skip when the program lacks the privilege.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "hostsim/admin.h"
#include "platform/host_ctl_exception.h"
#include "tests/support/sim_fixture.h"

namespace HostRoot {

namespace fs = std::filesystem;

struct Sandbox {
  TestSupport::ScratchDir dir;
  std::string error;  // why the root could not be entered; empty when it was
};

inline Sandbox& Get() {
  static Sandbox sandbox;
  static const bool entered = [] {
    try {
      HostSim::EnterHostRoot(sandbox.dir.str());
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      sandbox.error = failure.what();
    }
    return true;
  }();
  static_cast<void>(entered);
  return sandbox;
}

inline const bool kEntered = (Get(), true);

inline void ClearContents(const fs::path& dir) {
  fs::create_directories(dir);
  for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
}

// Empties /etc/norvane and /tardisks. Returns false (after GTEST_SKIP's
// message) when there is no sandbox.
inline bool Fresh() {
  Sandbox& sandbox = Get();
  if (!sandbox.error.empty()) return false;
  ClearContents("/etc/norvane");
  ClearContents("/tardisks");
  return true;
}

}  // namespace HostRoot

#define REQUIRE_HOST_ROOT()                                                        \
  do {                                                                             \
    if (!HostRoot::Fresh()) GTEST_SKIP() << "no host root: " << HostRoot::Get().error; \
  } while (0)
