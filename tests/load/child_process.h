// A spawned child process for tests that kill, limit or measure one: its
// output in files, its exit status, its peak memory.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace TestChild {

namespace fs = std::filesystem;

// Runs `args` (the program found on PATH unless it is a path), standard
// input from `input`, output into files below `io`. With `nofile`, the child
// starts with that open-file limit.
class Child {
 public:
  Child(const std::vector<std::string>& args, const fs::path& io, const std::string& input = "",
        rlim_t nofile = 0)
      : out_(io / "out"), err_(io / "err") {
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::string in = (io / "in").string();
    std::ofstream(in) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    if (nofile != 0) {
      rlimit lowered = saved;
      lowered.rlim_cur = nofile;
      setrlimit(RLIMIT_NOFILE, &lowered);
    }
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    setrlimit(RLIMIT_NOFILE, &saved);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    Kill();
    Wait();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
  }
  // Exit status, -1 when killed by a signal.
  int Wait() {
    if (pid_ > 0) wait4(pid_, &status_, 0, &usage_);
    pid_ = -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }
  bool Running() {
    if (pid_ > 0 && wait4(pid_, &status_, WNOHANG, &usage_) == pid_) pid_ = -1;
    return pid_ > 0;
  }
  long PeakKilobytes() const { return usage_.ru_maxrss; }  // after Wait
  std::string Err() const { return Read(err_); }
  std::string Out() const { return Read(out_); }

 private:
  static std::string Read(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  pid_t pid_ = -1;
  int status_ = 0;
  rusage usage_{};
  fs::path out_, err_;
};

}  // namespace TestChild
