// load-domains, display-domains, restore-enforcement.
#include <memory>
#include <string>

#include "cli/secpolicy/commands.h"
#include "secpolicy/domains/check_access_template.h"
#include "secpolicy/domains/domain_display.h"
#include "secpolicy/domains/domain_loading.h"
#include "hostsim/admin.h"

namespace SecPolicyCli {

void AddDomainCommands(CLI::App& app, int& status) {
  // Option values outlive main's parse because the callbacks own them.
  auto dir = std::make_shared<std::string>();
  CLI::App* load = app.add_subcommand(
      "load-domains",
      "Create every domain named by a file of DIR, then parse, check and write all of their\n"
      "policies to the kernel. Exit 1 when any domain failed.");
  load->add_option("DIR", *dir, "Directory of domain policy files, one file per domain")
      ->required();
  load->callback([&status, dir] {
    status = Run([&] {
      const HostSim::WriterLock writerLock;
      SecPolicy::HyxAccessInterfaceImpl iface;
      SecPolicy::LoadPolicyDomains(*dir, iface);
    });
  });

  auto id = std::make_shared<std::string>();
  CLI::App* display = app.add_subcommand(
      "display-domains",
      "Print the domains the kernel holds, with their rules in policy syntax, on standard output.");
  display->add_option(
      "ID", *id, "Show only the domain with this id, read by the library as decimal digits (no 0x)");
  display->callback([&status, id] {
    status = Run([&] {
      SecPolicy::HyxAccessInterfaceImpl iface;
      SecPolicy::DisplayPolicyDomains(iface, *id);
    });
  });

  CLI::App* restore = app.add_subcommand(
      "restore-enforcement",
      "Apply every domain's enforcement level from the configuration store; failures are\n"
      "reported per domain and do not change the exit status.");
  restore->callback([&status] { status = Run([] { const HostSim::WriterLock writerLock; SecPolicy::RestoreDomainEnforcement(); }); });
}

}  // namespace SecPolicyCli
