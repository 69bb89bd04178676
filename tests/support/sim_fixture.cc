#include "tests/support/sim_fixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

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
  const fs::path dir = path_ / relative;
  fs::create_directories(dir);
  return dir.string();
}

Output Capture(const std::function<void()>& body) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  try {
    body();
  } catch (...) {
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    throw;
  }
  Output output;
  output.out = testing::internal::GetCapturedStdout();
  output.err = testing::internal::GetCapturedStderr();
  return output;
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
  setenv("HOSTSIM_SYSLOG", "down", 1);  // spawned tools log to the kernel log too
  HostSim::Init();
  HostSim::SetSyslogRunning(false);
}

void SimulatedHostTest::TearDown() {
  HostSim::ClearFaults();
  HostSim::SetSyslogRunning(std::nullopt);
}

void SimulatedHostTest::InitWithProfile(const std::string& profilePath) {
  HostSim::Init(profilePath);
}

namespace {
std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}
}  // namespace

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args) {
  const std::string program = std::string(SECPOLICY_BIN_DIR) + "/" + tool;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // Output goes to files, so a large output cannot block the child.
  ScratchDir io;
  const std::string outPath = (io.path() / "out").string();
  const std::string errPath = (io.path() / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ToolResult result;
  if (rc != 0) return result;
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  for (auto [path, target] : {std::pair{&outPath, &result.out}, std::pair{&errPath, &result.err}}) {
    const int fd = open(path->c_str(), O_RDONLY);
    if (fd >= 0) {
      *target = ReadAll(fd);
      close(fd);
    }
  }
  return result;
}

}  // namespace TestSupport
