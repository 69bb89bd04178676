// Silences standard error for its lifetime. The library reports some
// failures there as it meets them; a dry run or a model that keeps them as
// findings would otherwise print each twice. Not thread-safe: it swaps the
// stream's buffer, so hold it only where no other thread writes to std::cerr.
#pragma once

#include <iostream>
#include <streambuf>

namespace SecPolicy::Admin {

class QuietErrors {
 public:
  QuietErrors() : saved_(std::cerr.rdbuf(&sink_)) {}
  ~QuietErrors() { std::cerr.rdbuf(saved_); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  struct Sink : std::streambuf {
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  } sink_;
  std::streambuf* saved_;
};

}  // namespace SecPolicy::Admin
