// The domain lookups: domain list, domain id.
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/common/terminal_text.h"
#include "cli/secpolicy/commands.h"
#include "secpolicy/admin/json_text.h"
#include "secpolicy/admin/kernel_rules.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/hyx_access.h"

namespace SecPolicyCli {

using HyxCtl::Security::HyxAccessInterfaceImpl;
using SecPolicy::Admin::JsonText;
using SecPolicy::Admin::ReadDomains;
using json = nlohmann::ordered_json;

void AddLookupCommands(CLI::App& app, int& status) {
  CLI::App* domain = app.get_subcommand("domain");
  auto listJson = std::make_shared<bool>(false);
  CLI::App* list = domain->add_subcommand(
      "list",
      "Print every domain in id order, one line each: the id, a tab, the name (control\n"
      "characters, backslashes and bytes that are not UTF-8 in names escaped C-style).");
  list->add_flag("--json", *listJson, "Print them as one JSON array of objects with id and name");
  list->callback([&status, listJson] {
    status = Run([&] {
      HyxAccessInterfaceImpl iface;
      const auto domains = ReadDomains(iface);
      if (*listJson) {
        json out = json::array();
        for (const auto& d : domains) out.push_back({{"id", d.id}, {"name", d.name}});
        std::cout << JsonText(out);
      } else {
        for (const auto& d : domains) std::cout << d.id << '\t' << CliCommon::EscapeControls(d.name) << '\n';
      }
      std::cout.flush();
    });
  });

  auto name = std::make_shared<std::string>();
  CLI::App* id = domain->add_subcommand("id", "Print the id of the domain named NAME.");
  id->add_option("NAME", *name, "Domain name")->required();
  id->callback([&status, name] {
    status = Run([&] {
      HyxAccessInterfaceImpl iface;
      std::uint32_t found = 0;
      if (!iface.FindDomain(*name, &found)) {
        throw HostCtl::Lib::HostCtlException("No domain named " + *name);  // Report escapes it
      }
      std::cout << found << std::endl;
    });
  });
}

}  // namespace SecPolicyCli
