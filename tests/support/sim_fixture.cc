#include "tests/support/sim_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <thread>

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

std::string CaseName(const std::string& text) {
  std::string name = text.empty() ? "empty" : text;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args,
                   const RunLimits& limits) {
  const std::string program =
      (limits.binDir.empty() ? std::string(SECPOLICY_BIN_DIR) : limits.binDir) + "/" + tool;
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  // Output goes to files, so a large output cannot block the child.
  ScratchDir io;
  const std::string outPath = limits.stdoutPath.empty() ? io.str() + "/out" : limits.stdoutPath;
  const std::string errPath = io.str() + "/err";
  const rlim_t addressSpace = limits.addressSpace.value_or(RLIM_INFINITY);
  const pid_t pid = fork();
  if (pid < 0) return {};
  if (pid == 0) {  // only async-signal-safe calls until exec
    setpgid(0, 0);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(126);
    }
    if (addressSpace != RLIM_INFINITY) {
      const rlimit limit{addressSpace, addressSpace};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    execve(program.c_str(), argv.data(), environ);
    _exit(127);
  }
  ToolResult result;
  int wstatus = 0;
  const auto deadline = std::chrono::steady_clock::now() + limits.deadline;
  auto pause = std::chrono::microseconds(200);
  const auto started = std::chrono::steady_clock::now();
  bool signalled = false;
  while (waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (limits.signalAfter && !signalled &&
        std::chrono::steady_clock::now() - started >= limits.signalAfter->second) {
      kill(pid, limits.signalAfter->first);
      signalled = true;
      pause = std::chrono::microseconds(200);
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-pid, SIGKILL);  // the tool and whatever it started
      waitpid(pid, &wstatus, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(limits.signalAfter && !signalled ? 2000 : 20000));
  }
  const auto slurp = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.out = limits.stdoutPath.empty() ? slurp(outPath) : "";
  result.err = slurp(errPath);
  return result;
}

StagedTools::StagedTools() {
  const fs::path build = fs::path(SECPOLICY_BIN_DIR).parent_path();
  // The tools find their libraries relative to themselves (RUNPATH
  // $ORIGIN/../ and $ORIGIN/../hostsim), so the layout is kept.
  for (const char* tool : {"secpolicy", "hostsim"}) {
    fs::create_directories(dir_.path() / "bin");
    fs::copy_file(build / "bin" / tool, dir_.path() / "bin" / tool);
  }
  for (const char* folder : {".", "hostsim"}) {
    fs::create_directories(dir_.path() / folder);
    for (const auto& entry : fs::directory_iterator(build / folder)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("lib", 0) == 0 && name.find(".so") != std::string::npos) {
        fs::copy_file(fs::canonical(entry.path()), dir_.path() / folder / name);
      }
    }
  }
  for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
    fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  }
  fs::permissions(dir_.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
}

RunLimits StagedTools::Limits() const {
  RunLimits limits;
  limits.binDir = (dir_.path() / "bin").string();
  return limits;
}

void HostRootTest::SetUp() {
  SimulatedHostTest::SetUp();
  root_ = scratch_.path() / "root";
}

void HostRootTest::Put(const std::string& relative, const std::string& content) {
  const std::filesystem::path path = root_ / "etc/norvane/secpolicy" / relative;
  std::filesystem::create_directories(path.parent_path());
  std::filesystem::create_directories(root_ / "files");
  std::ofstream(path, std::ios::binary) << content;
}

ToolResult HostRootTest::Secpolicy(const std::vector<std::string>& args) {
  std::vector<std::string> words{"run", "--root", root_.string(), "--", SECPOLICY_BIN_DIR "/secpolicy"};
  words.insert(words.end(), args.begin(), args.end());
  auto result = RunTool("hostsim", words);
  if (result.err.find("private mount namespace") != std::string::npos) skip_ = true;
  return result;
}

}  // namespace TestSupport
