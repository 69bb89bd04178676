// secpolicy: loads, applies and displays the host's security policy.
#include <sysexits.h>

#include "cli/common/log_tap.h"
#include "cli/common/tool_main.h"
#include "cli/secpolicy/commands.h"
#include "platform/host_ctl_exception.h"
#include "policytext/messages.h"
#include "policytext/retry_exception.h"

namespace SecPolicyCli {

// The library reports some failures itself before throwing the same text
// (a missing special domain); saying it twice would only confuse.
void Report(const std::string& text) {
  if (text != CliCommon::LastLoggedError()) SecPolicy::SecpolicyError(text);
}

int Run(const std::function<void()>& operation) {
  try {
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

int main(int argc, char** argv) {
  CLI::App app{
      "Loads, applies and displays the mandatory access-control policy of the host.\n"
      "Exit status: 0 on success, 1 when the operation fails (reported as \"Error: ...\" on\n"
      "standard error), 2 on a usage error, 75 when the kernel asked for a retry that was\n"
      "not made. The simulated host's state is the file named by HOSTSIM_STATE.",
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
  return CliCommon::ToolMain(
      app, argc, argv, [&status] { return status; }, SecPolicyCli::Report);
}
