#include "cli/secpolicy/json_display.h"

#include <cstdlib>
#include <iostream>
#include <list>

#include "secpolicy/admin/kernel_rules.h"
#include "cli/secpolicy/terminal_text.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/policytext/messages.h"
#include "secpolicy/tardisks/tardisk_discovery.h"

namespace SecPolicyCli {

using HyxCtl::Security::HyxAccessInterfaceImpl;
using SecPolicy::Admin::KernelDomain;
using SecPolicy::Admin::KernelRule;
using SecPolicy::Admin::ReadDomain;
using SecPolicy::Admin::ReadDomains;
using SecPolicy::Admin::ReadRules;

namespace {

using json = nlohmann::ordered_json;

json DomainJson(HyxAccessInterfaceImpl& iface, std::uint32_t id) {
  std::string name;
  try {
    const auto domain = ReadDomain(iface, id);
    if (!domain) return nullptr;
    name = domain->name;
    json rules = json::array();
    const auto report = [](const std::string& text) { SecPolicy::SecpolicyError(text); };
    for (const KernelRule& rule : ReadRules(iface, id, report)) {
      json entry = {{"type", rule.keyword}, {"text", rule.Text()}};
      entry.update(rule.fields);
      rules.push_back(std::move(entry));
    }
    return {{"id", domain->id},
            {"name", domain->name},
            {"enforcement", domain->enforcement},
            {"state", domain->state},
            {"refCount", domain->refCount},
            {"worldRefCount", domain->worldRefCount},
            {"defaultDom", domain->defaultDom},
            {"rules", std::move(rules)}};
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    // The text display's report for a domain it cannot show.
    SecPolicy::SecpolicyError("Failed to get policy for domain :" + name + failure.what());
    return nullptr;
  }
}

}  // namespace

void DisplayJson(const std::string& domain) {
  HyxAccessInterfaceImpl iface;
  json domains = json::array();
  const auto add = [&](std::uint32_t id) {
    json entry = DomainJson(iface, id);
    if (!entry.is_null()) domains.push_back(std::move(entry));
  };
  if (!domain.empty()) {
    // As the text display reads it: a decimal number, its low 32 bits.
    add(static_cast<std::uint32_t>(std::strtol(domain.c_str(), nullptr, 10)));
  } else {
    const std::uint32_t slots = iface.GetMaxDomains();
    for (std::uint32_t id = 0; id < slots; ++id) add(id);
  }

  json objects = json::array();
  for (const auto& [name, id] : iface.GetKeywordsMap(HYXACCESS_KEYWORD_OBJECT)) {
    objects.push_back({{"name", name}, {"id", id}});
  }

  json tardisks = json::array();
  std::list<std::string> paths;
  SecPolicy::GetAllTardisks(paths);
  for (const std::string& path : paths) {
    json label = nullptr;
    try {
      label = SecPolicy::GetFileLabel(path, iface);
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      SecPolicy::SecpolicyError("Error in reading tardisk label: (" + path + "): " + failure.what());
    }
    tardisks.push_back({{"path", path}, {"label", std::move(label)}});
  }

  std::cout << JsonText({{"domains", std::move(domains)},
                         {"objects", std::move(objects)},
                         {"tardisks", std::move(tardisks)}})
            << std::flush;
}

}  // namespace SecPolicyCli
