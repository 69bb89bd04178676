#include "cli/common/tool_main.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>
#include <streambuf>

#include "cli/common/terminal_text.h"

namespace CliCommon {

namespace {

bool started = false;  // ToolMain's handler is in place
std::terminate_handler defaultTerminate = nullptr;

// Before main, the objects of the command-line library are being made: a
// failure there is memory running out, even when the exception itself could
// not be allocated. Said in one line with nothing that allocates.
[[noreturn]] void TerminateBeforeMain() {
  bool outOfMemory = !started;
  if (outOfMemory) {
    try {
      if (const auto current = std::current_exception()) std::rethrow_exception(current);
    } catch (const std::bad_alloc&) {
    } catch (...) {
      outOfMemory = false;
    }
  }
  if (!outOfMemory) defaultTerminate();
  static const char kText[] = "Error: out of memory\n";
  [[maybe_unused]] const auto written = write(STDERR_FILENO, kText, sizeof kText - 1);
  _exit(1);
}

// Made before every other static object of the program.
struct EarlyTerminateHandler {
  EarlyTerminateHandler() { defaultTerminate = std::set_terminate(TerminateBeforeMain); }
};
__attribute__((init_priority(101))) const EarlyTerminateHandler earlyTerminateHandler;

// Passes everything on to standard output's own buffer and keeps the error
// number of the first write or flush that failed: by the end of the run,
// errno no longer says why.
class CheckedOutput : public std::streambuf {
 public:
  explicit CheckedOutput(std::ostream& stream) : stream_(stream), target_(stream.rdbuf(this)) {}
  ~CheckedOutput() override { stream_.rdbuf(target_); }
  CheckedOutput(const CheckedOutput&) = delete;
  CheckedOutput& operator=(const CheckedOutput&) = delete;

  // Flushes; 0 when everything arrived, otherwise the first error number.
  int Finish() {
    stream_.flush();
    if (error_ == 0 && stream_.bad()) error_ = EIO;
    return error_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    errno = 0;
    if (traits_type::eq_int_type(target_->sputc(traits_type::to_char_type(c)), traits_type::eof())) {
      return Fail();
    }
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    errno = 0;
    const std::streamsize written = target_->sputn(text, size);
    if (written != size) Fail();
    return written;
  }
  int sync() override {
    errno = 0;
    if (target_->pubsync() == 0) return 0;
    Fail();
    return -1;
  }

 private:
  int_type Fail() {
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    return traits_type::eof();
  }

  std::ostream& stream_;
  std::streambuf* target_;
  int error_ = 0;
};

// The first word that names no command of the group it stands in, as
// "TOOL GROUP: unknown command 'WORD'"; nothing when every word is known.
std::optional<std::string> UnknownCommand(CLI::App& app, int argc, char** argv) {
  CLI::App* group = &app;
  std::string path = app.get_name();
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--") break;
    if (word.empty() || word.front() == '-') continue;  // the groups' own flags take no value
    CLI::App* command = nullptr;
    for (CLI::App* candidate : group->get_subcommands([](CLI::App*) { return true; })) {
      if (candidate->check_name(word)) command = candidate;
    }
    if (command == nullptr) return path + ": unknown command '" + word + "'";
    path += " " + word;
    group = command;
    if (group->get_require_subcommand_min() == 0) break;  // a command: the rest are its arguments
  }
  return std::nullopt;
}

}  // namespace

const char* Version() { return SECPOLICY_VERSION; }

int ParseAndRun(CLI::App& app, int argc, char** argv, const std::function<int()>& run) {
  app.set_version_flag("--version", app.get_name() + " " + Version(),
                       "Print the version and exit");
  try {
    app.parse(argc, argv);
    return run();
  } catch (const CLI::ParseError& error) {
    const auto unknown = error.get_exit_code() == 0 ? std::nullopt : UnknownCommand(app, argc, argv);
    if (unknown) {
      std::cerr << *unknown << std::endl;
      return 2;
    }
    return app.exit(error) == 0 ? 0 : 2;
  }
}

int ToolMain(int argc, char** argv, int (*body)(int argc, char** argv),
             void (*reportError)(const std::string& text)) {
  started = true;
  CheckedOutput output(std::cout);
  TerminalGuard guard(std::cout);
  const auto report = [&](const char* text) {
    if (reportError != nullptr) {
      reportError(text);
    } else {
      std::cerr << "Error: " << text << std::endl;
    }
  };
  int status = 0;
  try {
    status = body(argc, argv);
  } catch (const std::bad_alloc&) {
    // The unwinding has most likely given the memory back; if not, say it
    // with nothing that allocates.
    try {
      report("out of memory");
    } catch (const std::bad_alloc&) {
      std::cerr << "Error: out of memory" << std::endl;
    }
    status = 1;
  } catch (const std::exception& failure) {
    report(failure.what());
    status = 1;
  }
  guard.Finish();
  if (const int error = output.Finish(); error != 0) {
    std::cerr << "Error: write error: " << std::strerror(error) << std::endl;
    return 1;
  }
  return status;
}

}  // namespace CliCommon
