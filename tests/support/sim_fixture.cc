#include "tests/support/sim_fixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "hostsim/admin.h"

extern char** environ;

namespace TestSupport {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "secpolicy-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string ScratchDir::Write(const std::string& relative, const std::string& content) const {
  const fs::path file = path_ / relative;
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
  return file.string();
}

std::string ScratchDir::MakeDir(const std::string& relative) const {
  fs::create_directories(path_ / relative);
  return (path_ / relative).string();
}

Output Capture(const std::function<void()>& body) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  try {
    body();
  } catch (...) {  // end both captures so the next test can capture again
    (void)testing::internal::GetCapturedStdout(), (void)testing::internal::GetCapturedStderr();
    throw;
  }
  // Braced initialisers run in order: standard output is taken first.
  return {testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
}

std::vector<std::string> KernelLogLines() {
  std::vector<std::string> lines;
  for (const auto& line : HostSim::KernelLog()) lines.push_back(line.tag + " " + line.text);
  return lines;
}

std::vector<std::string> KernelLogTexts() {
  std::vector<std::string> texts;
  for (const auto& line : HostSim::KernelLog()) texts.push_back(line.text);
  return texts;
}

void SimulatedHostTest::SetUp() {
  setenv("HOSTSIM_STATE", (scratch_.path() / "state.db").c_str(), 1);
  setenv("HOSTSIM_SYSLOG", "down", 1);  // read at each call, here and in spawned tools
  HostSim::Init();
}

void SimulatedHostTest::TearDown() {
  HostSim::ClearFaults();
  HostSim::SetSyslogRunning(std::nullopt);
}

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args) {
  const std::string program = std::string(SECPOLICY_BIN_DIR) + "/" + tool;
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // Output goes to files, so a large output cannot block the child.
  ScratchDir io;
  const std::string outPath = io.str() + "/out", errPath = io.str() + "/err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return {};
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  const auto slurp = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, slurp(outPath), slurp(errPath)};
}

}  // namespace TestSupport
