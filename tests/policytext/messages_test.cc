#include "policytext/messages.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <syslog.h>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "platform/host_ctl_exception.h"
#include "policytext/retry_exception.h"
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
using TestSupport::KernelLogLines;

class MessageSinks : public TestSupport::SimulatedHostTest {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    gSyslog.clear();
  }
};

TEST_F(MessageSinks, LoggerDownGoesToKernelLogAndErrorsToStderr) {
  const auto info = Capture([] { SecpolicyInfo("50% done %s"); });
  const auto error = Capture([] { SecpolicyError("bad line"); });
  EXPECT_EQ(info.out + info.err + error.out, "");
  EXPECT_EQ(error.err, "Error: bad line\n");
  EXPECT_EQ(KernelLogLines(), (std::vector<std::string>{"[INFO] 50% done %s", "[ERR] bad line"}));
  EXPECT_TRUE(gSyslog.empty());
}

TEST_F(MessageSinks, LoggerUpGoesToSyslogWithFixedFormats) {
  HostSim::SetSyslogRunning(true);
  const auto info = Capture([] { SecpolicyInfo("50% done %s %n"); });
  const auto error = Capture([] { SecpolicyError("bad %d"); });
  EXPECT_EQ(info.out + info.err + error.out, "");
  EXPECT_EQ(error.err, "Error: bad %d\n");
  EXPECT_EQ(gSyslog, (std::vector<SyslogCall>{{6, "%s", "50% done %s %n"},
                                              {3, "Error: %s", "Error: bad %d"}}));
  EXPECT_TRUE(KernelLogLines().empty());
}

TEST(Exceptions, CopiesShareTheEventAndRetryIsCaughtAsBase) {
  const HostCtl::Lib::EvtMessage event("evt");
  try {
    throw SecPolicyRetryException("try again", event);
  } catch (const HostCtl::Lib::HostCtlException& e) {
    EXPECT_STREQ(e.what(), "try again");
    const HostCtl::Lib::HostCtlException copy = e;
    EXPECT_EQ(copy.event().text(), "evt");
    EXPECT_EQ(event.use_count(), 3);
  }
  EXPECT_TRUE(HostCtl::Lib::HostCtlException("plain").event().empty());
}

}  // namespace
}  // namespace SecPolicy
