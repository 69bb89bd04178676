#include "secpolicy/policytext/messages.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <syslog.h>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "tests/support/sim_fixture.h"

namespace {
struct SyslogCall {
  int priority;
  std::string format;
  std::string text;
  bool operator==(const SyslogCall&) const = default;
};
std::vector<SyslogCall> gSyslog;
}  // namespace

// Take the place of libc's syslog for the library's calls in this program;
// a build with _FORTIFY_SOURCE calls the checking variant instead.
namespace {
__attribute__((format(printf, 2, 0))) void RecordSyslog(int priority, const char* format,
                                                      va_list args) {
  char text[4096];
  std::vsnprintf(text, sizeof text, format, args);
  gSyslog.push_back({priority, format, text});
}
}  // namespace
extern "C" void syslog(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  RecordSyslog(priority, format, args);
  va_end(args);
}
extern "C" __attribute__((format(printf, 3, 4))) void __syslog_chk(int priority, int /*flag*/,
                                                                   const char* format, ...) {
  va_list args;
  va_start(args, format);
  RecordSyslog(priority, format, args);
  va_end(args);
}

namespace SecPolicy {
namespace {

using TestSupport::Capture;

// With the logger down the corpus sees every message; this is the other sink.
using MessageSinks = TestSupport::SimulatedHostTest;

TEST_F(MessageSinks, LoggerUpGoesToSyslogWithFixedFormats) {
  HostSim::SetSyslogRunning(true);
  gSyslog.clear();
  const auto info = Capture([] { SecpolicyInfo("50% done %s %n"); });
  const auto error = Capture([] { SecpolicyError("bad %d"); });
  EXPECT_EQ(info.out + info.err + error.out, "");
  EXPECT_EQ(error.err, "Error: bad %d\n");
  EXPECT_EQ(gSyslog, (std::vector<SyslogCall>{{6, "%s", "50% done %s %n"},
                                              {3, "Error: %s", "Error: bad %d"}}));
  EXPECT_TRUE(TestSupport::KernelLogLines().empty());
}

}  // namespace
}  // namespace SecPolicy
