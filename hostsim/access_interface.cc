// The simulated kernel access-control library: keywords, domains, labels
// and the tardisk defaults; its rules are in access_rules.cc.
//
// Decisions (besides state.h and kernel_state.h):
// - ValidateKeyword throws "Unknown <kind> keyword: <word>", the kinds being
//   object, capability, parameter check, object access, event, file
//   creation, unix socket and syscall; an unknown kind throws
//   "Unknown keyword kind: <n>".
// - GetKeywordsMap: kind 1 maps each object to its label id; kinds 2 to 8
//   map each word to its position in the profile's list.
// - Object labels: predefined objects exist from Init and RemoveLabels keeps
//   them (it only clears their invalid mark); AddLabels of a defined name
//   keeps its id; removing an unknown name is no error. Domain labels
//   (type 0) are the domains: AddLabels creates missing ones with
//   default-domain kind 0, RemoveLabels destroys them, no domain is
//   predefined.
// - EnableDomain throws "No domain named <name>" or "Unknown enforcement
//   level: <level>"; it records the level and sets the domain's state to 1.
//
// Journal lines (domain id then the kernel's domain name wherever a domain
// setting is written):
//   CreateDomain <id> <name> <defaultDom>
//   EnableDomain <id> <name> <level> <persist 0|1>
//   SetGlobalVMDomain|SetIoFilterDomain|SetDaemonFrameworkDomain <id> <dom>
//   AddHvcService <id> <dom> <service>
//   AddLabels|RemoveLabels <type> <name>...                 (names as given)
// Every operation first meets the control-library fault of its own name,
// matched against its string arguments and its numbers in decimal.
#include <algorithm>

#include "hostsim/kernel_state.h"
#include "hostsim/state.h"
#include "secpolicy/platform/hyx_access.h"

namespace HyxCtl::Security {

using HostCtl::Lib::HostCtlException;
using HostSim::Profile;
using HostSim::State::ControlFault;
using HostSim::State::Stmt;
using HostSim::State::Txn;
namespace K = HostSim::Kernel;

struct HyxAccessInterfaceImpl::Impl {
  std::vector<std::string> launchDomains;
};

namespace {

std::string Num(std::int64_t value) { return std::to_string(value); }

const char* KindWord(HyxAccess_KeywordType kind) {
  switch (kind) {
    case HYXACCESS_KEYWORD_OBJECT: return "object";
    case HYXACCESS_KEYWORD_CAPABILITY: return "capability";
    case HYXACCESS_KEYWORD_PARAMCHECK: return "parameter check";
    case HYXACCESS_KEYWORD_OBJECT_ACCESS: return "object access";
    case HYXACCESS_KEYWORD_EVENT: return "event";
    case HYXACCESS_KEYWORD_FILE_CREATION: return "file creation";
    case HYXACCESS_KEYWORD_UNIX_SOCKET: return "unix socket";
    case HYXACCESS_KEYWORD_SYSCALL: return "syscall";
  }
  throw HostCtlException("Unknown keyword kind: " + Num(kind));
}

// Whether `word` is in the profile's list of `kind` (2 to 8).
bool KnownWord(const Profile& p, HyxAccess_KeywordType kind, const std::string& word) {
  const auto in = [&](const std::vector<std::string>& words) {
    return std::find(words.begin(), words.end(), word) != words.end();
  };
  switch (kind) {
    case HYXACCESS_KEYWORD_CAPABILITY: return in(p.capabilities);
    case HYXACCESS_KEYWORD_PARAMCHECK:
      return std::any_of(p.paramChecks.begin(), p.paramChecks.end(),
                         [&](const auto& check) { return check.name == word; });
    case HYXACCESS_KEYWORD_OBJECT_ACCESS: return in(p.objectAccess);
    case HYXACCESS_KEYWORD_EVENT: return in(p.events);
    case HYXACCESS_KEYWORD_FILE_CREATION: return in(p.fileCreation);
    case HYXACCESS_KEYWORD_UNIX_SOCKET: return in(p.unixSocket);
    case HYXACCESS_KEYWORD_SYSCALL: return in(p.syscalls);
    case HYXACCESS_KEYWORD_OBJECT: break;
  }
  throw HostCtlException("Unknown keyword kind: " + Num(kind));
}

// The profile's word list of kinds 2 to 8.
std::vector<std::string> ProfileWords(const Profile& p, HyxAccess_KeywordType kind) {
  switch (kind) {
    case HYXACCESS_KEYWORD_CAPABILITY: return p.capabilities;
    case HYXACCESS_KEYWORD_PARAMCHECK: {
      std::vector<std::string> names;
      for (const auto& check : p.paramChecks) names.push_back(check.name);
      return names;
    }
    case HYXACCESS_KEYWORD_OBJECT_ACCESS: return p.objectAccess;
    case HYXACCESS_KEYWORD_EVENT: return p.events;
    case HYXACCESS_KEYWORD_FILE_CREATION: return p.fileCreation;
    case HYXACCESS_KEYWORD_UNIX_SOCKET: return p.unixSocket;
    case HYXACCESS_KEYWORD_SYSCALL: return p.syscalls;
    case HYXACCESS_KEYWORD_OBJECT: break;
  }
  throw HostCtlException("Unknown keyword kind: " + Num(kind));
}

void CheckLabelType(HyxAccessLabelType type) {
  if (type != HYXACCESS_LABEL_DOMAIN && type != HYXACCESS_LABEL_OBJECT) {
    throw HostCtlException("Unknown label type: " + Num(type));
  }
}

}  // namespace

HyxAccessInterfaceImpl::HyxAccessInterfaceImpl() : impl_(std::make_unique<Impl>()) {}
HyxAccessInterfaceImpl::~HyxAccessInterfaceImpl() = default;

// --- Keywords -------------------------------------------------------------

bool HyxAccessInterfaceImpl::ValidateKeyword(HyxAccess_KeywordType kind, const std::string& word) {
  ControlFault("ValidateKeyword", {Num(kind), word});
  const char* kindWord = KindWord(kind);
  const bool known = kind == HYXACCESS_KEYWORD_OBJECT
                         ? HostSim::State::ObjectId(word).has_value()
                         : KnownWord(HostSim::State::CurrentProfile(), kind, word);
  if (!known) throw HostCtlException(std::string("Unknown ") + kindWord + " keyword: " + word);
  return true;
}

std::map<std::string, std::int64_t> HyxAccessInterfaceImpl::GetKeywordsMap(HyxAccess_KeywordType kind) {
  ControlFault("GetKeywordsMap", {Num(kind)});
  KindWord(kind);
  Txn txn(Txn::kRead);
  std::map<std::string, std::int64_t> map;
  if (kind == HYXACCESS_KEYWORD_OBJECT) {
    Stmt s = txn.Query("SELECT name, id FROM objects");
    while (s.Step()) map.emplace(s.Text(0), s.Int(1));
  } else {
    const auto words = ProfileWords(txn.profile(), kind);
    for (std::size_t i = 0; i < words.size(); ++i) map.emplace(words[i], static_cast<std::int64_t>(i));
  }
  return map;
}

// --- Domains --------------------------------------------------------------

bool HyxAccessInterfaceImpl::FindDomain(const std::string& name, std::uint32_t* id) {
  ControlFault("FindDomain", {name});
  const auto found = HostSim::State::DomainId(name);
  if (!found) return false;
  if (id != nullptr) *id = *found;
  return true;
}

std::uint32_t HyxAccessInterfaceImpl::CreateDomain(const std::string& name,
                                                   HyxAccessQsi_DefaultDom defaultDom) {
  ControlFault("CreateDomain", {name, Num(defaultDom)});
  Txn txn(Txn::kWrite);
  const std::uint32_t id = K::CreateDomain(txn, name, defaultDom);
  txn.Journal("CreateDomain " + Num(id) + " " + name + " " + Num(defaultDom));
  txn.Commit();
  return id;
}

std::uint32_t HyxAccessInterfaceImpl::GetMaxDomains() {
  ControlFault("GetMaxDomains");
  return HostSim::State::CurrentProfile().maxDomains;
}

bool HyxAccessInterfaceImpl::GetCompleteDomainInfo(std::uint32_t id, std::string& name,
                                                   std::string& enforcementLevel,
                                                   std::uint32_t& state, std::uint32_t& refCount,
                                                   std::uint32_t& worldRefCount,
                                                   HyxAccessQsi_DefaultDom& defaultDom) {
  ControlFault("GetCompleteDomainInfo", {Num(id)});
  Txn txn(Txn::kRead);
  Stmt s = txn.Query(
      "SELECT name, level, state, default_dom, (SELECT COUNT(*) FROM worlds w "
      "WHERE w.domain_id = d.id) FROM domains d WHERE id=?",
      id);
  if (!s.Step()) return false;
  name = s.Text(0);
  enforcementLevel = s.Text(1);
  state = s.U32(2);
  defaultDom = static_cast<HyxAccessQsi_DefaultDom>(s.Int(3));
  refCount = 1;
  worldRefCount = s.U32(4);
  return true;
}

bool HyxAccessInterfaceImpl::EnableDomain(const std::string& name, const std::string& level,
                                          bool persist) {
  ControlFault("EnableDomain", {name, level});
  Txn txn(Txn::kWrite);
  auto id = K::FindDomainId(txn, name);
  if (!id) throw HostCtlException("No domain named " + name);
  const auto& levels = txn.profile().enforcementLevels;
  if (std::find(levels.begin(), levels.end(), level) == levels.end()) {
    throw HostCtlException("Unknown enforcement level: " + level);
  }
  txn.Exec("UPDATE domains SET level=?, state=1 WHERE id=?", level, *id);
  txn.Journal("EnableDomain " + Num(*id) + " " + name + " " + level + " " + (persist ? "1" : "0"));
  txn.Commit();
  return true;
}

namespace {

void SetSpecialDomain(const char* op, const char* role, std::uint32_t id) {
  ControlFault(op, {Num(id)});
  Txn txn(Txn::kWrite);
  const std::string name = K::RequireDomain(txn, id);
  txn.Exec("INSERT OR REPLACE INTO special_domains(role, domain_id) VALUES(?, ?)", role, id);
  txn.Journal(std::string(op) + " " + Num(id) + " " + name);
  txn.Commit();
}

}  // namespace

void HyxAccessInterfaceImpl::SetGlobalVMDomain(std::uint32_t id) {
  SetSpecialDomain("SetGlobalVMDomain", "globalVM", id);
}
void HyxAccessInterfaceImpl::SetIoFilterDomain(std::uint32_t id) {
  SetSpecialDomain("SetIoFilterDomain", "ioFilter", id);
}
void HyxAccessInterfaceImpl::SetDaemonFrameworkDomain(std::uint32_t id) {
  SetSpecialDomain("SetDaemonFrameworkDomain", "daemonFramework", id);
}

void HyxAccessInterfaceImpl::AddHvcService(std::uint32_t domainId, const std::string& service) {
  ControlFault("AddHvcService", {Num(domainId), service});
  if (service.empty()) throw HostCtlException("Service name must not be empty");
  Txn txn(Txn::kWrite);
  const std::string name = K::RequireDomain(txn, domainId);
  txn.Exec("INSERT OR IGNORE INTO hvc_services(domain_id, service) VALUES(?, ?)", domainId, service);
  txn.Journal("AddHvcService " + Num(domainId) + " " + name + " " + service);
  txn.Commit();
}

bool HyxAccessInterfaceImpl::IsPrivilegedVm(const std::string& name) {
  ControlFault("IsPrivilegedVm", {name});
  Txn txn(Txn::kRead);
  const auto& vms = txn.profile().privilegedVms;
  return std::find(vms.begin(), vms.end(), name) != vms.end();
}

// --- Labels ---------------------------------------------------------------

std::uint32_t HyxAccessInterfaceImpl::LookupLabel(const std::string& name, HyxAccessLabelType type) {
  ControlFault("LookupLabel", {name, Num(type)});
  CheckLabelType(type);
  const auto id = type == HYXACCESS_LABEL_OBJECT ? HostSim::State::ObjectId(name)
                                                 : HostSim::State::DomainId(name);
  return id.value_or(1u);
}

std::string HyxAccessInterfaceImpl::GetLabel(std::uint32_t id, HyxAccessLabelType type) {
  ControlFault("GetLabel", {Num(id), Num(type)});
  CheckLabelType(type);
  Txn txn(Txn::kRead);
  Stmt s = type == HYXACCESS_LABEL_OBJECT ? txn.Query("SELECT name FROM objects WHERE id=?", id)
                                          : txn.Query("SELECT name FROM domains WHERE id=?", id);
  if (!s.Step()) {
    throw HostCtlException(std::string("No ") +
                           (type == HYXACCESS_LABEL_OBJECT ? "object" : "domain") +
                           " label with id " + Num(id));
  }
  return s.Text(0);
}

void HyxAccessInterfaceImpl::AddLabels(std::vector<std::string> names, HyxAccessLabelType type) {
  ControlFault("AddLabels", names);
  CheckLabelType(type);
  Txn txn(Txn::kWrite);
  for (const auto& name : names) {
    if (name.empty()) throw HostCtlException("Label name must not be empty");
    if (type == HYXACCESS_LABEL_OBJECT) K::CheckName("Object", name);
    if (type == HYXACCESS_LABEL_DOMAIN) {
      if (!K::FindDomainId(txn, name)) K::CreateDomain(txn, name, HYXACCESS_QSI_DEFDOM_NONE);
      continue;
    }
    txn.Exec(
        "INSERT INTO objects(id, name, predefined) SELECT value, ?, 0 FROM meta "
        "WHERE key='next_object_id' AND NOT EXISTS (SELECT 1 FROM objects WHERE name=?)",
        name, name);
    if (txn.Changes() > 0) txn.Exec("UPDATE meta SET value=value+1 WHERE key='next_object_id'");
  }
  txn.Journal("AddLabels " + Num(type) + (names.empty() ? "" : " ") + HostSim::State::Join(names));
  txn.Commit();
}

void HyxAccessInterfaceImpl::RemoveLabels(std::vector<std::string> names, HyxAccessLabelType type) {
  ControlFault("RemoveLabels", names);
  CheckLabelType(type);
  Txn txn(Txn::kWrite);
  for (const auto& name : names) {
    if (type == HYXACCESS_LABEL_DOMAIN) {
      if (auto id = K::FindDomainId(txn, name)) K::DestroyDomain(txn, *id);
      continue;
    }
    txn.Exec("DELETE FROM objects WHERE name=? AND predefined=0", name);
    txn.Exec("DELETE FROM invalid_labels WHERE type=1 AND name=?", name);
  }
  txn.Journal("RemoveLabels " + Num(type) + (names.empty() ? "" : " ") + HostSim::State::Join(names));
  txn.Commit();
}

std::vector<std::string> HyxAccessInterfaceImpl::GetInvalidLabels(HyxAccessLabelType type) {
  ControlFault("GetInvalidLabels", {Num(type)});
  CheckLabelType(type);
  Txn txn(Txn::kRead);
  std::vector<std::string> names;
  Stmt s = txn.Query("SELECT name FROM invalid_labels WHERE type=? ORDER BY name", type);
  while (s.Step()) names.push_back(s.Text(0));
  return names;
}

bool HyxAccessInterfaceImpl::IsPredefinedLabel(const std::string& name, HyxAccessLabelType type) {
  ControlFault("IsPredefinedLabel", {name, Num(type)});
  CheckLabelType(type);
  if (type == HYXACCESS_LABEL_DOMAIN) return false;
  Txn txn(Txn::kRead);
  return txn.Query("SELECT 1 FROM objects WHERE name=? AND predefined=1", name).Step();
}

// --- Tardisk defaults -----------------------------------------------------

std::string HyxAccessInterfaceImpl::GetDefaultTardiskDomain() {
  ControlFault("GetDefaultTardiskDomain");
  Txn txn(Txn::kRead);
  return txn.profile().tardiskDefaultDomain;
}

std::string HyxAccessInterfaceImpl::GetDefaultTardiskLabel() {
  ControlFault("GetDefaultTardiskLabel");
  Txn txn(Txn::kRead);
  return txn.profile().tardiskDefaultLabel;
}

std::string HyxAccessInterfaceImpl::GetTardiskExecEventKeyword() {
  ControlFault("GetTardiskExecEventKeyword");
  Txn txn(Txn::kRead);
  return txn.profile().tardiskExecEvent;
}

const std::vector<std::string>& HyxAccessInterfaceImpl::GetTardiskLaunchDomains() {
  ControlFault("GetTardiskLaunchDomains");
  Txn txn(Txn::kRead);
  impl_->launchDomains = txn.profile().tardiskLaunchDomains;
  return impl_->launchDomains;
}

}  // namespace HyxCtl::Security
