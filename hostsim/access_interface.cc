// The simulated kernel access-control library.
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
// - Rule writes need an existing domain ("No domain with id <n>"); reads
//   append the domain's rules of that type in the order they were first
//   written and report the kernel's name of the domain.
// - A domain holds one rule per identity (state.h); a write of a held
//   identity replaces the rule's action, line and target id in place.
// - CheckCapabilityParamRuleConstraints throws "Unknown parameter check:
//   <check>" or "Parameter check <check> does not take the argument <word>".
// - EnableDomain throws "No domain named <name>" or "Unknown enforcement
//   level: <level>"; it records the level and sets the domain's state to 1.
//
// Journal lines (domain id then the kernel's domain name wherever a rule or
// a domain setting is written):
//   SetSyscallRule <id> <dom> <syscall> grant|revoke
//   SetCapabilityRule <id> <dom> <capability> grant|revoke
//   SetCapabilityParamRule <id> <dom> <check> <first> [<second>] grant|revoke
//   SetObjectAccessRule <id> <dom> <object> <access> grant|revoke
//   SetUnixSockCreationRule <id> <dom> <object> <socket> grant|revoke
//   SetDomTransRule <id> <dom> <object> <target> <targetId> <event> grant|revoke
//   SetFileCreationRule <id> <dom> <first> <second> <creation> grant|revoke
//   SetFilePathAccessRules <id> <dom> <path> <mask>        (one per record)
//   CreateDomain <id> <name> <defaultDom>
//   EnableDomain <id> <name> <level> <persist 0|1>
//   SetGlobalVMDomain|SetIoFilterDomain|SetDaemonFrameworkDomain <id> <dom>
//   AddHvcService <id> <dom> <service>
//   AddLabels|RemoveLabels <type> <name>...                 (names as given)
// Masks are written in hexadecimal ("0x13").
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
using HostSim::State::GrantWord;
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

// The stored columns of one rule: a, b, c are its words (the rule's
// identity, '' where a kind has fewer), num a number.
struct RuleRow {
  std::string a, b, c;
  std::optional<std::int64_t> num;
  bool grant = false;
};

bool PutRule(const char* op, const char* kind, const HyxAccess_RuleHeader& header,
             const RuleRow& row, const std::vector<std::string>& words) {
  std::vector<std::string> faultArgs{Num(header.domainId), header.domainName};
  faultArgs.insert(faultArgs.end(), words.begin(), words.end());
  ControlFault(op, faultArgs);
  Txn txn(Txn::kWrite);
  const std::string domain = K::RequireDomain(txn, header.domainId);
  txn.Exec(
      "INSERT INTO rules(domain_id, kind, line, domain_name, a, b, c, num, granted) "
      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT(domain_id, kind, a, b, c) DO UPDATE SET "
      "line=excluded.line, domain_name=excluded.domain_name, num=excluded.num, "
      "granted=excluded.granted",
      header.domainId, kind, header.lineNumber, domain, row.a, row.b, row.c, row.num,
      row.grant ? 1 : 0);
  std::vector<std::string> line{op, Num(header.domainId), domain};
  line.insert(line.end(), words.begin(), words.end());
  line.push_back(GrantWord(row.grant));
  txn.Journal(HostSim::State::Join(line));
  txn.Commit();
  return true;
}

// Appends the domain's rules of `kind`, each built by `make` from a row
// whose columns are line, name, a, b, c, num, granted.
template <typename Record, typename Make>
bool GetRules(const char* op, const char* kind, std::uint32_t domainId, std::list<Record>& rules,
              Make make) {
  ControlFault(op, {Num(domainId)});
  Txn txn(Txn::kRead);
  const std::string domain = K::RequireDomain(txn, domainId);
  Stmt s = txn.Query(
      "SELECT line, a, b, c, num, granted FROM rules WHERE domain_id=? AND kind=? ORDER BY seq",
      domainId, kind);
  while (s.Step()) {
    Record record;
    record.lineNumber = s.U32(0);
    record.domainId = domainId;
    record.domainName = domain;
    make(record, s.Text(1), s.Text(2), s.Text(3), s.Int(4));
    record.grant = s.Int(5) != 0;
    rules.push_back(std::move(record));
  }
  return true;
}

std::uint32_t LetterMask(const std::string& letters) {
  std::uint32_t mask = 0;
  for (char letter : letters) {
    switch (letter) {
      case 'r': mask |= 0x1u; break;
      case 'w': mask |= 0x2u; break;
      case 'x': mask |= 0x10u; break;
      default: throw HostCtlException("Unknown access privilege: " + letters);
    }
  }
  return mask;
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

// --- Rules ----------------------------------------------------------------

bool HyxAccessInterfaceImpl::SetSyscallRule(HyxAccess_SyscallRule rule) {
  return PutRule("SetSyscallRule", "syscall", rule, {rule.syscallName, {}, {}, {}, rule.grant},
                 {rule.syscallName});
}

bool HyxAccessInterfaceImpl::SetCapabilityRule(HyxAccess_CapabilityRule rule) {
  return PutRule("SetCapabilityRule", "capability", rule,
                 {rule.capabilityName, {}, {}, {}, rule.grant}, {rule.capabilityName});
}

bool HyxAccessInterfaceImpl::SetCapabilityParamRule(HyxAccess_CapabilityParamRule rule) {
  std::vector<std::string> words{rule.paramCheck, rule.firstArg};
  if (!rule.secondArg.empty()) words.push_back(rule.secondArg);
  return PutRule("SetCapabilityParamRule", "capparam", rule,
                 {rule.paramCheck, rule.firstArg, rule.secondArg, {}, rule.grant}, words);
}

bool HyxAccessInterfaceImpl::SetObjectAccessRule(HyxAccess_ObjectAccessRule rule) {
  return PutRule("SetObjectAccessRule", "objectaccess", rule,
                 {rule.objectName, rule.accessType, {}, {}, rule.grant},
                 {rule.objectName, rule.accessType});
}

bool HyxAccessInterfaceImpl::SetDomTransRule(HyxAccess_DomTransRule rule) {
  return PutRule("SetDomTransRule", "domtrans", rule,
                 {rule.objectName, rule.targetDomainName, rule.event, rule.targetDomainId, rule.grant},
                 {rule.objectName, rule.targetDomainName, Num(rule.targetDomainId), rule.event});
}

bool HyxAccessInterfaceImpl::SetFileCreationRule(HyxAccess_FileCreationRule rule) {
  return PutRule("SetFileCreationRule", "filecreation", rule,
                 {rule.firstObject, rule.secondObject, rule.creationKeyword, {}, rule.grant},
                 {rule.firstObject, rule.secondObject, rule.creationKeyword});
}

bool HyxAccessInterfaceImpl::SetUnixSockCreationRule(HyxAccess_UnixSockCreationRule rule) {
  return PutRule("SetUnixSockCreationRule", "unixsock", rule,
                 {rule.objectName, rule.socketKeyword, {}, {}, rule.grant},
                 {rule.objectName, rule.socketKeyword});
}

bool HyxAccessInterfaceImpl::SetFilePathAccessRules(std::list<HyxAccess_FilePathAccessRule>& rules) {
  std::vector<std::string> faultArgs;
  for (const auto& rule : rules) {
    faultArgs.insert(faultArgs.end(), {Num(rule.domainId), rule.domainName, rule.path});
  }
  ControlFault("SetFilePathAccessRules", faultArgs);
  Txn txn(Txn::kWrite);
  for (const auto& rule : rules) {
    const std::string domain = K::RequireDomain(txn, rule.domainId);
    const std::uint32_t mask = LetterMask(rule.permissions);
    K::PutFilePolicy(txn, rule.domainId, 0, rule.path, mask);
    txn.Journal("SetFilePathAccessRules " + Num(rule.domainId) + " " + domain + " " + rule.path +
                " " + K::Hex(mask));
  }
  txn.Commit();
  return true;
}

bool HyxAccessInterfaceImpl::GetSyscallRules(std::uint32_t domainId,
                                             std::list<HyxAccess_SyscallRule>& rules) {
  return GetRules("GetSyscallRules", "syscall", domainId, rules,
                  [](auto& r, const std::string& a, const std::string&, const std::string&,
                     std::int64_t) { r.syscallName = a; });
}

bool HyxAccessInterfaceImpl::GetCapabilityRules(std::uint32_t domainId,
                                                std::list<HyxAccess_CapabilityRule>& rules) {
  return GetRules("GetCapabilityRules", "capability", domainId, rules,
                  [](auto& r, const std::string& a, const std::string&, const std::string&,
                     std::int64_t) { r.capabilityName = a; });
}

bool HyxAccessInterfaceImpl::GetCapabilityParamRules(
    std::uint32_t domainId, std::list<HyxAccess_CapabilityParamRule>& rules) {
  return GetRules("GetCapabilityParamRules", "capparam", domainId, rules,
                  [](auto& r, const std::string& a, const std::string& b, const std::string& c,
                     std::int64_t) {
                    r.paramCheck = a;
                    r.firstArg = b;
                    r.secondArg = c;
                  });
}

bool HyxAccessInterfaceImpl::GetObjectAccessRules(std::uint32_t domainId,
                                                  std::list<HyxAccess_ObjectAccessRule>& rules) {
  return GetRules("GetObjectAccessRules", "objectaccess", domainId, rules,
                  [](auto& r, const std::string& a, const std::string& b, const std::string&,
                     std::int64_t) {
                    r.objectName = a;
                    r.accessType = b;
                  });
}

bool HyxAccessInterfaceImpl::GetDomTransRules(std::uint32_t domainId,
                                              std::list<HyxAccess_DomTransRule>& rules) {
  return GetRules("GetDomTransRules", "domtrans", domainId, rules,
                  [](auto& r, const std::string& a, const std::string& b, const std::string& c,
                     std::int64_t num) {
                    r.objectName = a;
                    r.targetDomainName = b;
                    r.event = c;
                    r.targetDomainId = static_cast<std::uint32_t>(num);
                  });
}

bool HyxAccessInterfaceImpl::GetFileCreationRules(std::uint32_t domainId,
                                                  std::list<HyxAccess_FileCreationRule>& rules) {
  return GetRules("GetFileCreationRules", "filecreation", domainId, rules,
                  [](auto& r, const std::string& a, const std::string& b, const std::string& c,
                     std::int64_t) {
                    r.firstObject = a;
                    r.secondObject = b;
                    r.creationKeyword = c;
                  });
}

bool HyxAccessInterfaceImpl::GetUnixSockCreationRules(
    std::uint32_t domainId, std::list<HyxAccess_UnixSockCreationRule>& rules) {
  return GetRules("GetUnixSockCreationRules", "unixsock", domainId, rules,
                  [](auto& r, const std::string& a, const std::string& b, const std::string&,
                     std::int64_t) {
                    r.objectName = a;
                    r.socketKeyword = b;
                  });
}

bool HyxAccessInterfaceImpl::GetFilePathAccessRules(std::uint32_t domainId,
                                                    std::list<HyxAccess_FilePathAccessRule>& rules) {
  ControlFault("GetFilePathAccessRules", {Num(domainId)});
  Txn txn(Txn::kRead);
  const std::string domain = K::RequireDomain(txn, domainId);
  Stmt s = txn.Query("SELECT path, mask FROM file_policies WHERE domain_id=? ORDER BY seq", domainId);
  while (s.Step()) {
    HyxAccess_FilePathAccessRule rule;
    rule.domainId = domainId;
    rule.domainName = domain;
    rule.path = s.Text(0);
    rule.permissions = K::MaskLetters(s.U32(1));
    rules.push_back(std::move(rule));
  }
  return true;
}

bool HyxAccessInterfaceImpl::CheckCapabilityParamRuleConstraints(
    const std::string& domainName, std::list<HyxAccess_CapabilityParamRule>& rules) {
  ControlFault("CheckCapabilityParamRuleConstraints", {domainName});
  const auto& checks = HostSim::State::CurrentProfile().paramChecks;
  for (const auto& rule : rules) {
    auto check = std::find_if(checks.begin(), checks.end(),
                              [&](const auto& c) { return c.name == rule.paramCheck; });
    if (check == checks.end()) throw HostCtlException("Unknown parameter check: " + rule.paramCheck);
    for (const std::string* arg : {&rule.firstArg, &rule.secondArg}) {
      if (arg == &rule.secondArg && arg->empty()) continue;
      if (std::find(check->args.begin(), check->args.end(), *arg) == check->args.end()) {
        throw HostCtlException("Parameter check " + rule.paramCheck +
                               " does not take the argument " + *arg);
      }
    }
  }
  return true;
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
