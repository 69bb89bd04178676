// The simulated kernel access-control library's rules: writing and reading
// the eight rule kinds and checking parameter-check constraints.
//
// Decisions (besides state.h, where rule identities are):
// - Rule writes need an existing domain ("No domain with id <n>"); reads
//   append the domain's rules of that type in the order they were first
//   written and report the kernel's name of the domain.
// - A domain holds one rule per identity (state.h); a write of a held
//   identity replaces the rule's action, line and target id in place.
// - File path rules take the letters r (0x1), w (0x2) and x (0x10); any
//   other letter throws "Unknown access privilege: <letters>".
// - CheckCapabilityParamRuleConstraints throws "Unknown parameter check:
//   <check>" or "Parameter check <check> does not take the argument <word>".
//
// Journal lines:
//   SetSyscallRule <id> <dom> <syscall> grant|revoke
//   SetCapabilityRule <id> <dom> <capability> grant|revoke
//   SetCapabilityParamRule <id> <dom> <check> <first> [<second>] grant|revoke
//   SetObjectAccessRule <id> <dom> <object> <access> grant|revoke
//   SetUnixSockCreationRule <id> <dom> <object> <socket> grant|revoke
//   SetDomTransRule <id> <dom> <object> <target> <targetId> <event> grant|revoke
//   SetFileCreationRule <id> <dom> <first> <second> <creation> grant|revoke
//   SetFilePathAccessRules <id> <dom> <path> <mask>        (one per record)
// Masks are written in hexadecimal ("0x13"). Every operation first meets
// the control-library fault of its own name.
#include <algorithm>

#include "hostsim/kernel_state.h"
#include "hostsim/state.h"
#include "secpolicy/platform/hyx_access.h"

namespace HyxCtl::Security {

using HostCtl::Lib::HostCtlException;
using HostSim::State::ControlFault;
using HostSim::State::GrantWord;
using HostSim::State::Stmt;
using HostSim::State::Txn;
namespace K = HostSim::Kernel;

namespace {

std::string Num(std::int64_t value) { return std::to_string(value); }

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

}  // namespace HyxCtl::Security
