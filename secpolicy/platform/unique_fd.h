// An open file descriptor of the operating system, closed when it goes out
// of scope, so that every exit of a call closes what the call opened.
#pragma once

#include <unistd.h>

namespace Posix {

class UniqueFd {
 public:
  // Takes `fd` as open() and its kin return it: -1 (errno set) when nothing
  // was opened.
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace Posix
