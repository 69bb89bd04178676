// Host profile parsing: every structural fault becomes one clear message, so
// a hand-written profile never crashes the simulated host.
#include "hostsim/profile.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "secpolicy/platform/host_ctl_exception.h"

namespace HostSim {

namespace {

using nlohmann::json;

class Reader {
 public:
  explicit Reader(std::string origin) : origin_(std::move(origin)) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw HostCtl::Lib::HostCtlException("Bad host profile " + origin_ + ": " + what);
  }

  const json& Key(const json& obj, const std::string& key, const std::string& where) const {
    auto it = obj.find(key);
    if (it == obj.end()) Fail("missing key \"" + where + key + "\"");
    return *it;
  }

  std::string String(const json& obj, const std::string& key, const std::string& where = "") const {
    const json& v = Key(obj, key, where);
    if (!v.is_string() || v.get<std::string>().empty()) {
      Fail("\"" + where + key + "\" must be a non-empty string");
    }
    return v.get<std::string>();
  }

  std::vector<std::string> Strings(const json& obj, const std::string& key,
                                   const std::string& where = "") const {
    const json& v = Key(obj, key, where);
    if (!v.is_array()) Fail("\"" + where + key + "\" must be a list of strings");
    std::vector<std::string> out;
    for (const json& item : v) {
      if (!item.is_string() || item.get<std::string>().empty()) {
        Fail("\"" + where + key + "\" must be a list of non-empty strings");
      }
      std::string word = item.get<std::string>();
      if (std::find(out.begin(), out.end(), word) != out.end()) {
        Fail("\"" + where + key + "\" lists \"" + word + "\" twice");
      }
      out.push_back(std::move(word));
    }
    return out;
  }

  const json& Object(const json& obj, const std::string& key) const {
    const json& v = Key(obj, key, "");
    if (!v.is_object()) Fail("\"" + key + "\" must be an object");
    return v;
  }

 private:
  std::string origin_;
};

bool Contains(const std::vector<std::string>& list, const std::string& word) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

}  // namespace

Profile ParseProfile(std::string_view text, const std::string& origin) {
  Reader r(origin);
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    r.Fail(std::string("not valid JSON: ") + e.what());
  }
  if (!doc.is_object()) r.Fail("the profile must be a JSON object");

  Profile p;
  const json& max = r.Key(doc, "maxDomains", "");
  if (!max.is_number_integer() || max.get<std::int64_t>() < 3 || max.get<std::int64_t>() > 65536) {
    r.Fail("\"maxDomains\" must be a whole number from 3 to 65536");
  }
  p.maxDomains = max.get<std::uint32_t>();
  p.predefinedObjects = r.Strings(doc, "predefinedObjects");
  p.privilegedVms = r.Strings(doc, "privilegedVms");
  p.initialFileLabel = r.String(doc, "initialFileLabel");
  p.enforcementLevels = r.Strings(doc, "enforcementLevels");
  if (p.enforcementLevels.empty()) r.Fail("\"enforcementLevels\" must not be empty");

  const json& kw = r.Object(doc, "keywords");
  p.capabilities = r.Strings(kw, "capabilities", "keywords.");
  p.objectAccess = r.Strings(kw, "objectAccess", "keywords.");
  p.events = r.Strings(kw, "events", "keywords.");
  p.fileCreation = r.Strings(kw, "fileCreation", "keywords.");
  p.unixSocket = r.Strings(kw, "unixSocket", "keywords.");
  p.syscalls = r.Strings(kw, "syscalls", "keywords.");
  if (p.capabilities.size() > 19) r.Fail("\"keywords.capabilities\" may list at most 19 names");

  const json& checks = r.Key(kw, "paramChecks", "keywords.");
  if (!checks.is_array()) r.Fail("\"keywords.paramChecks\" must be a list");
  if (checks.size() > 10) r.Fail("\"keywords.paramChecks\" may list at most 10 checks");
  for (const json& check : checks) {
    if (!check.is_object()) r.Fail("each of \"keywords.paramChecks\" must be an object");
    ParamCheckSpec spec{r.String(check, "name", "keywords.paramChecks[]."),
                        r.Strings(check, "args", "keywords.paramChecks[].")};
    for (const auto& other : p.paramChecks) {
      if (other.name == spec.name) r.Fail("\"keywords.paramChecks\" lists \"" + spec.name + "\" twice");
    }
    p.paramChecks.push_back(std::move(spec));
  }

  const json& td = r.Object(doc, "tardisks");
  p.tardiskDefaultLabel = r.String(td, "defaultLabel", "tardisks.");
  p.tardiskDefaultDomain = r.String(td, "defaultDomain", "tardisks.");
  p.tardiskLaunchDomains = r.Strings(td, "launchDomains", "tardisks.");
  p.tardiskExecEvent = r.String(td, "execEvent", "tardisks.");

  if (!Contains(p.predefinedObjects, p.initialFileLabel)) {
    r.Fail("\"initialFileLabel\" must be one of \"predefinedObjects\"");
  }
  if (!Contains(p.predefinedObjects, p.tardiskDefaultLabel)) {
    r.Fail("\"tardisks.defaultLabel\" must be one of \"predefinedObjects\"");
  }
  if (!Contains(p.events, p.tardiskExecEvent)) {
    r.Fail("\"tardisks.execEvent\" must be one of \"keywords.events\"");
  }
  return p;
}

}  // namespace HostSim
