// secpolicy: loads, applies and displays the host's security policy.
#include <iostream>

#include "cli/secpolicy/commands.h"
#include "platform/host_ctl_exception.h"
#include "policytext/messages.h"

namespace SecPolicyCli {

int Run(const std::function<void()>& operation) {
  try {
    operation();
    return 0;
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    SecPolicy::SecpolicyError(failure.what());
    return 1;
  }
}

}  // namespace SecPolicyCli

int main(int argc, char** argv) {
  CLI::App app{
      "Loads, applies and displays the mandatory access-control policy of the host.\n"
      "Exit status: 0 on success, 1 when the operation fails (reported as \"Error: ...\" on\n"
      "standard error), 2 on a usage error. The simulated host's state is the file named\n"
      "by HOSTSIM_STATE.",
      "secpolicy"};
  app.require_subcommand(1);
  int status = 0;
  SecPolicyCli::AddRuntimeCommands(app, status);
  SecPolicyCli::AddDomainCommands(app, status);
  SecPolicyCli::AddLabelCommands(app, status);
  SecPolicyCli::AddLoadCommands(app, status);
  SecPolicyCli::AddCheckCommands(app, status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return 2;
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    // The kernel handle itself could not be made.
    SecPolicy::SecpolicyError(failure.what());
    return 1;
  }
  return status;
}
