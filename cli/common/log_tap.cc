// The syslog route is seen by defining syslog(3) here: the dynamic linker
// resolves the library's call to the executable's definition first, which
// passes the message on to vsyslog unchanged. With _FORTIFY_SOURCE the
// library calls __syslog_chk instead, so that is defined too. <syslog.h> is
// not included because a fortified build declares syslog inline there.
#include "cli/common/log_tap.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>

#include "hostsim/admin.h"

extern "C" {
void vsyslog(int priority, const char* format, va_list args);
void __vsyslog_chk(int priority, int flag, const char* format, va_list args);
}

namespace CliCommon {

namespace {

// Priorities of syslog(3): the low three bits.
constexpr int kPriorityMask = 0x07;
constexpr int kError = 3;
constexpr int kInfo = 6;

bool tapped = false;
bool mirror = false;
std::string lastError;

void Seen(bool error, const std::string& text) {
  if (error) {
    lastError = text;
  } else if (mirror) {
    std::cerr << text << std::endl;
  }
}

__attribute__((format(printf, 2, 0))) void SeenSyslog(int priority, const char* format,
                                                       va_list args) {
  if (!tapped) return;
  const int level = priority & kPriorityMask;
  if (level != kError && level != kInfo) return;
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size < 0) return;
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  va_copy(copy, args);
  std::vsnprintf(text.data(), text.size(), format, copy);
  va_end(copy);
  text.resize(static_cast<std::size_t>(size));
  // The library's error format puts "Error: " in front of the text.
  const std::string prefix = "Error: ";
  if (level == kError && text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
  Seen(level == kError, text);
}

}  // namespace

void TapLibraryLog() {
  tapped = true;
  HostSim::ObserveKernelLog([](const std::string& tag, const std::string& text) {
    if (tag == "[ERR]" || tag == "[INFO]") Seen(tag == "[ERR]", text);
  });
}

void MirrorInfoLines(bool on) { mirror = on; }

std::string LastLoggedError() { return lastError; }

}  // namespace CliCommon

extern "C" __attribute__((format(printf, 2, 3))) void syslog(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  CliCommon::SeenSyslog(priority, format, args);
  vsyslog(priority, format, args);
  va_end(args);
}

extern "C" __attribute__((format(printf, 3, 4))) void __syslog_chk(int priority, int flag,
                                                                   const char* format, ...) {
  va_list args;
  va_start(args, format);
  CliCommon::SeenSyslog(priority, format, args);
  __vsyslog_chk(priority, flag, format, args);
  va_end(args);
}
