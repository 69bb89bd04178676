// A spawned child process for tests that kill, limit or measure one: its
// standard error in a file, its exit status, its peak memory.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace TestChild {

// Runs `args` (the program found on PATH unless it is a path) with standard
// error into `err`; with `nofile`, under that open-file limit.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::filesystem::path& err, rlim_t nofile = 0)
      : err_(err) {
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = nofile != 0 ? nofile : saved.rlim_cur;
    setrlimit(RLIMIT_NOFILE, &lowered);  // inherited by the child, restored at once
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
  std::string Err() const {
    std::stringstream text;
    text << std::ifstream(err_).rdbuf();
    return text.str();
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  rusage usage_{};
  std::filesystem::path err_;
};

}  // namespace TestChild
