// Test fixtures shared by every test program: a scratch folder, a fresh
// simulated host state per test, captured output and spawned tools.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

// A scratch folder removed with everything in it at the end of its scope.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // Writes a file below the folder (parents created) and returns its path.
  std::string Write(const std::string& relative, const std::string& content) const;
  std::string MakeDir(const std::string& relative) const;

 private:
  std::filesystem::path path_;
};

struct Output { std::string out, err; };

// Runs `body` with standard output and standard error captured.
Output Capture(const std::function<void()>& body);

// Kernel log lines of the current state as "TAG text".
std::vector<std::string> KernelLogLines();
// Kernel log texts only, in order.
std::vector<std::string> KernelLogTexts();

// A fresh simulated host for each test: HOSTSIM_STATE points into a scratch
// folder, the state is initialised from the default profile, and the system logger is reported as down so that messages land
// in the kernel log.
class SimulatedHostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  ScratchDir scratch_;
};

// A test name made of `text`: letters and digits kept, anything else "_",
// "empty" for no text.
std::string CaseName(const std::string& text);

struct ToolResult {
  int status = -1;  // exit status, or -1 when killed by a signal
  std::string out, err;
  bool timedOut = false;  // killed at its deadline
};

struct RunLimits {
  std::chrono::seconds deadline{60};        // then the tool is killed
  std::optional<unsigned long> addressSpace;  // RLIMIT_AS of the tool, in bytes
  std::string stdoutPath;                   // standard output goes here instead (e.g. /dev/full)
  // Sends the signal to the tool once it has run this long.
  std::optional<std::pair<int, std::chrono::milliseconds>> signalAfter;
  std::string binDir;  // where the tools are; empty: the build's (StagedTools::Limits)
};

// Runs one of the built tools ("secpolicy" or "hostsim") with the current
// environment (HOSTSIM_STATE included) and empty standard input.
ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args,
                   const RunLimits& limits = {});

// The built tools and their libraries copied into a scratch folder that
// every user may enter, for tests that run a tool as another user: the
// checkout may sit where that user cannot reach it. Removed at the end.
class StagedTools {
 public:
  StagedTools();
  // Limits whose tools are the staged ones.
  RunLimits Limits() const;
  const std::filesystem::path& path() const { return dir_.path(); }

 private:
  ScratchDir dir_;
};

// A simulated host with a policy tree under a private host root
// (scratch/root, laid out like examples/host), for running the tools as
// `hostsim run --root` runs them. Where the process may not make a private
// mount namespace, Secpolicy sets skip_ and SKIP_WITHOUT_ROOT skips.
class HostRootTest : public SimulatedHostTest {
 public:
  void SetUp() override;
  // Writes etc/norvane/secpolicy/RELATIVE under the root.
  void Put(const std::string& relative, const std::string& content);
  std::string Files() const { return (root_ / "files").string(); }
  // secpolicy ARGS under the private host root.
  ToolResult Secpolicy(const std::vector<std::string>& args);

  std::filesystem::path root_;
  bool skip_ = false;
};

#define SKIP_WITHOUT_ROOT() \
  if (skip_) GTEST_SKIP() << "no private mount namespace here"

// Sanitizers reserve address space that a tight memory limit cannot give.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace TestSupport
