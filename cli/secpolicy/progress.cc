#include "cli/secpolicy/progress.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <streambuf>

#include "cli/common/terminal_text.h"

namespace SecPolicyCli {

// Collects what is written to std::cerr and hands it on a line at a time.
class Progress::LineBuffer : public std::streambuf {
 public:
  explicit LineBuffer(Progress& owner) : owner_(owner) {}
  ~LineBuffer() override {
    if (!pending_.empty()) owner_.WriteLine(pending_);
  }

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) Take(static_cast<char>(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    for (std::streamsize i = 0; i < count; ++i) Take(text[i]);
    return count;
  }

 private:
  void Take(char c) {
    pending_ += c;
    if (c == '\n') {
      owner_.WriteLine(pending_);
      pending_.clear();
    }
  }
  Progress& owner_;
  std::string pending_;
};

namespace {

void WriteAll(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n <= 0) return;  // nothing better to do with a broken standard error
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

Progress::Progress(unsigned workers, bool terminal)
    : terminal_(terminal), start_(std::chrono::steady_clock::now()), counter_(workers) {
  std::cerr.flush();
  buffer_ = std::make_unique<LineBuffer>(*this);
  savedBuffer_ = std::cerr.rdbuf(buffer_.get());
  reporter_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; })) {
      lock.unlock();
      Report();
      lock.lock();
    }
  });
}

Progress::~Progress() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  reporter_.join();
  std::cerr.rdbuf(savedBuffer_);
  buffer_.reset();
  if (drawn_) WriteAll("\r\x1b[K");
}

std::string Progress::Line(std::uint64_t entries, double seconds, const std::string& folder) {
  const auto rate = static_cast<std::uint64_t>(seconds > 0 ? static_cast<double>(entries) / seconds : 0);
  return std::to_string(entries) + " entries, " + std::to_string(rate) + "/s, " +
         CliCommon::EscapeControls(folder);
}

void Progress::Report() {
  const std::uint64_t entries = counter_.Entries();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  const std::string line = Line(entries, elapsed.count(), counter_.Folder());
  const std::lock_guard lock(mutex_);
  if (terminal_) {
    WriteAll("\r" + line + "\x1b[K");
    drawn_ = true;
  } else {
    WriteAll(line + "\n");
  }
}

void Progress::WriteLine(const std::string& line) {
  const std::lock_guard lock(mutex_);
  WriteAll(drawn_ ? "\r\x1b[K" + line : line);
  drawn_ = false;
}

}  // namespace SecPolicyCli
