// The sandboxed host root of a test program: /etc/norvane and /tardisks are
// this program's own folders, in a private mount namespace entered before
// main (while there is one thread). Tests that need those fixed paths call
// HostRoot::Fresh() and skip when the program lacks the privilege.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "hostsim/admin.h"
#include "platform/host_ctl_exception.h"

namespace HostRoot {

namespace fs = std::filesystem;

// The root lives in the build tree rather than in /tmp, which the host root
// itself covers.
class RootDir {
 public:
  RootDir() {
    const fs::path parent = fs::path(SECPOLICY_BIN_DIR).parent_path() / "test-host-roots";
    fs::create_directories(parent);
    std::string pattern = (parent / "root-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~RootDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  RootDir(const RootDir&) = delete;
  RootDir& operator=(const RootDir&) = delete;
  const std::string& str() const { return path_; }

 private:
  std::string path_;
};

struct Sandbox {
  RootDir dir;
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
