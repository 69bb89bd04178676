#include "policytext/messages.h"

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

// Takes the place of libc's syslog for the library's calls in this program.
extern "C" void syslog(int priority, const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  gSyslog.push_back({priority, format, text});
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
