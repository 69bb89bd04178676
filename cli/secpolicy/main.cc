// secpolicy: loads, applies and displays the host's security policy.
#include <sysexits.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "cli/common/log_tap.h"
#include "cli/common/terminal_text.h"
#include "cli/common/tool_main.h"
#include "cli/secpolicy/commands.h"
#include "hostsim/admin.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/messages.h"
#include "secpolicy/policytext/retry_exception.h"

namespace SecPolicyCli {

namespace {

// What the library reports itself just before throwing the same text: a
// special domain that a load needs is missing. Another failure may carry
// the same words as an earlier report, so only these are held back.
constexpr std::array<std::string_view, 4> kReportedBeforeThrown = {
    "Failed to fetch domainID for global VM Domain",
    "Failed to fetch domainID for IOFilter domain",
    "Failed to fetch domainID for default tar disk domain",
    "Failed to fetch domainID for daemon framework domain",
};

}  // namespace

void Report(const std::string& text) {
  const bool justReported =
      text == CliCommon::LastLoggedError() &&
      std::find(kReportedBeforeThrown.begin(), kReportedBeforeThrown.end(), text) !=
          kReportedBeforeThrown.end();
  // The text may carry a name or a path as given: one line, escaped.
  if (!justReported) SecPolicy::SecpolicyError(CliCommon::EscapeControls(text));
}

int Run(const std::function<void()>& operation) {
  try {
    // A refused state is reported before a display prints its first heading.
    HostSim::CheckState();
    operation();
    return 0;
  } catch (const SecPolicy::SecPolicyRetryException& retry) {
    Report(retry.what());
    return EX_TEMPFAIL;
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    Report(failure.what());
    return 1;
  }
}

}  // namespace SecPolicyCli

namespace {

int Secpolicy(int argc, char** argv) {
  CLI::App app{
      "Loads, applies and displays the mandatory access-control policy of the host.\n"
      "Exit status: 0 on success, 1 when the operation fails (reported as \"Error: ...\" on\n"
      "standard error), 2 on a usage error, 3 when diff or label verify could not answer,\n"
      "4 when diff finds that a load would fail, 75 when the kernel asked for a retry that\n"
      "was not made (see secpolicy(8)). The simulated host's state is the file named by\n"
      "HOSTSIM_STATE.",
      "secpolicy"};
  app.require_subcommand(1);
  app.fallthrough();  // -v may follow the command
  app.add_flag_callback(
      "-v,--verbose", [] { CliCommon::MirrorInfoLines(true); },
      "Also print the informational lines (which go to the system log or the kernel log) on "
      "standard error");
  CliCommon::TapLibraryLog();
  int status = 0;
  SecPolicyCli::AddRuntimeCommands(app, status);
  SecPolicyCli::AddDomainCommands(app, status);
  SecPolicyCli::AddLabelCommands(app, status);
  SecPolicyCli::AddLoadCommands(app, status);
  SecPolicyCli::AddCheckCommands(app, status);
  SecPolicyCli::AddLookupCommands(app, status);
  SecPolicyCli::AddQueryCommands(app, status);
  SecPolicyCli::AddGraphCommands(app, status);
  return CliCommon::ParseAndRun(app, argc, argv, [&status] { return status; });
}

}  // namespace

int main(int argc, char** argv) {
  return CliCommon::ToolMain(argc, argv, Secpolicy, SecPolicyCli::Report);
}
