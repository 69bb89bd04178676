#include "secpolicy/admin/json_display.h"

#include <cstdlib>
#include <list>
#include <variant>

#include "secpolicy/admin/kernel_rules.h"
#include "secpolicy/admin/json_text.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/tardisks/tardisk_discovery.h"

namespace SecPolicy::Admin {

namespace {

using json = nlohmann::ordered_json;

json DomainJson(HyxAccessInterfaceImpl& iface, std::uint32_t id, const ReadError& report) {
  std::string name;
  try {
    const auto domain = ReadDomain(iface, id);
    if (!domain) return nullptr;
    name = domain->name;
    json rules = json::array();
    for (const KernelRule& rule : ReadRules(iface, id, report)) {
      json entry = {{"type", rule.keyword}, {"text", rule.Text()}};
      for (const RuleField& field : rule.fields) {
        std::visit([&](const auto& value) { entry[field.name] = value; }, field.value);
      }
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
    report("Failed to get policy for domain :" + name + failure.what());
    return nullptr;
  }
}

}  // namespace

std::string DisplayJson(const std::string& domain, const ReadError& onError) {
  const ReadError report = [&onError](const std::string& text) {
    if (onError) onError(text);
  };
  HyxAccessInterfaceImpl iface;
  json domains = json::array();
  const auto add = [&](std::uint32_t id) {
    json entry = DomainJson(iface, id, report);
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
      report("Error in reading tardisk label: (" + path + "): " + failure.what());
    }
    tardisks.push_back({{"path", path}, {"label", std::move(label)}});
  }

  return JsonText({{"domains", std::move(domains)},
                   {"objects", std::move(objects)},
                   {"tardisks", std::move(tardisks)}});
}

}  // namespace SecPolicy::Admin
