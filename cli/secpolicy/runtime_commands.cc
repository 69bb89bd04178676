// The runtime calls: domain here, file-policy and cap/param-check in files
// of their own (runtime_args.h holds what they share).
//
// Arguments are passed on as given, empty strings included, so that the
// library's own checks answer. Names are printed escaped.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "cli/common/terminal_text.h"
#include "cli/secpolicy/commands.h"
#include "cli/secpolicy/runtime_args.h"
#include "secpolicy/kernelcalls/domain_calls.h"
#include "secpolicy/platform/hyx_access.h"

namespace SecPolicyCli {

void AddDomainGroup(CLI::App& app, int& status, Args& a) {
  CLI::App* domain = app.add_subcommand("domain", "Create, destroy and look up security domains.");
  domain->require_subcommand(1);

  CLI::App* create = domain->add_subcommand("create", "Create a domain; prints its id.");
  Arg(create, "NAME", a.name, "Name of the new domain");
  create
      ->add_option("DEFAULTDOM", a.defaultDom,
                   "Default-domain kind: 0 none, 1 VM, 2 app, 3 check-access (default 0)")
      ->type_name("")
      ->check(Unsigned());
  create->callback([&] {
    status = Run([&] {
      std::cout << SecPolicy::CreateDomain(a.name, HyxAccessQsi_DefaultDom{U32(a.defaultDom)})
                << std::endl;
    });
  });

  CLI::App* destroy = domain->add_subcommand("destroy", "Destroy a domain.");
  Arg(destroy, "ID", a.domain, "Domain id")->check(Unsigned());
  destroy->callback([&] { status = Run([&] { SecPolicy::DestroyDomain(U32(a.domain)); }); });

  CLI::App* ofWorld =
      domain->add_subcommand("of-world", "Print the id of the domain a world runs in.");
  Arg(ofWorld, "WORLD", a.world, "World id (signed)")->check(World());
  ofWorld->callback([&] {
    status =
        Run([&] { std::cout << SecPolicy::GetDomainIDForWorld(WorldId(a.world)) << std::endl; });
  });

  CLI::App* name = domain->add_subcommand("name", "Print the name of a domain.");
  Arg(name, "ID", a.domain, "Domain id")->check(Unsigned());
  name->callback([&] {
    status = Run([&] {
      std::cout << CliCommon::EscapeControls(SecPolicy::GetDomainNameForID(U32(a.domain))) << std::endl;
    });
  });

  CLI::App* leaked = domain->add_subcommand(
      "leaked",
      "Print the ids of leaked domains (destroyed while worlds still ran in them), "
      "one per line.");
  leaked->callback([&] {
    status = Run([&] {
      // No more domains can leak than there are id slots.
      const std::uint32_t capacity = HyxCtl::Security::HyxAccessInterfaceImpl().GetMaxDomains();
      std::vector<unsigned int> ids(capacity);
      unsigned int found = 0;
      SecPolicy::RetrieveLeakedDomains(capacity, &found, ids.data());
      ids.resize(std::min(found, capacity));
      for (const unsigned int id : ids) std::cout << id << '\n';
      std::cout.flush();
    });
  });

  CLI::App* hvc =
      domain->add_subcommand("add-hvc", "Register a guest-communication service for a domain.");
  Arg(hvc, "ID", a.domain, "Domain id")->check(Unsigned());
  Arg(hvc, "SERVICE", a.service, "Service name");
  hvc->callback([&] { status = Run([&] { SecPolicy::AddHvcService(U32(a.domain), a.service); }); });
}

void AddRuntimeCommands(CLI::App& app, int& status) {
  static Args args;
  AddDomainGroup(app, status, args);
  AddFilePolicyGroup(app, status, args);
  AddCapabilityGroups(app, status, args);
}

}  // namespace SecPolicyCli
