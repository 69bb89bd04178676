// Whole-policy commands: the boot loads, the tardisk step and the display.
#include <memory>
#include <string>

#include "cli/secpolicy/commands.h"
#include "hostsim/admin.h"
#include "load/policy_load.h"
#include "load/special_domains.h"
#include "platform/hyx_access.h"
#include "tardisks/default_tardisk_policy.h"

namespace SecPolicyCli {

using HyxCtl::Security::HyxAccessInterfaceImpl;

void AddLoadCommands(CLI::App& app, int& status) {
  auto loadDir = std::make_shared<std::string>(SecPolicy::DefaultPolicyDir);
  auto* load = app.add_subcommand(
      "load",
      "Apply the whole policy of DIR: objects, template domain, domains, plug-in domains,\n"
      "special domains, tardisks (always from the default directory), file labels.");
  load->add_option("DIR", *loadDir, "Policy directory")->capture_default_str();
  load->callback([&status, loadDir] { status = Run([&] { const HostSim::WriterLock writerLock; SecPolicy::LoadPolicy(*loadDir); }); });

  auto earlyDir = std::make_shared<std::string>();
  auto* early = app.add_subcommand(
      "load-early",
      "Early-boot load: objects and file labels of the default directory, domains of DIR;\n"
      "stops at the first failure, which is reported but does not fail the command.");
  early->add_option("DIR", *earlyDir, "Early policy directory (its domains sub-directory)")
      ->required();
  early->callback(
      [&status, earlyDir] { status = Run([&] { const HostSim::WriterLock writerLock; SecPolicy::LoadPolicyEarly(*earlyDir); }); });

  auto tardisksDir = std::make_shared<std::string>();
  auto* tardisks = app.add_subcommand(
      "load-tardisks",
      "Apply the tardisk policy files of DIR to their tardisks and the default tardisk\n"
      "policy to every other tardisk under /tardisks/.");
  tardisks->add_option("DIR", *tardisksDir, "Tardisk policy directory")->required();
  tardisks->callback([&status, tardisksDir] {
    status = Run([&] {
      const HostSim::WriterLock writerLock;
      HyxAccessInterfaceImpl iface;
      SecPolicy::LoadPolicyTardisks(*tardisksDir, iface);
    });
  });

  auto domainId = std::make_shared<std::string>();
  auto* display = app.add_subcommand(
      "display", "Print the policy held by the kernel: domains, objects, tardisk labels.");
  display->add_option("ID", *domainId, "Show only the domain with this id (decimal)");
  display->callback(
      [&status, domainId] { status = Run([&] { SecPolicy::DisplayPolicy(*domainId); }); });
}

}  // namespace SecPolicyCli
