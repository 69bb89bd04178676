#include "secpolicy/domains/file_path_access_rules.h"

#include <algorithm>
#include <cstring>

#include "secpolicy/domains/rule_set_impl.h"
#include "secpolicy/kernelcalls/file_policy_calls.h"
#include "secpolicy/platform/kernel_gate.h"
#include "secpolicy/platform/kernel_records.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

template class RuleSet<HyxAccess_FilePathAccessRule,
                       &HyxAccessInterfaceImpl::GetFilePathAccessRules>;

namespace {
constexpr unsigned int kRead = 0x1;
constexpr unsigned int kWrite = 0x2;
constexpr unsigned int kExec = 0x10;

// Rules loaded from policy files belong to no particular world.
constexpr int kPolicyWorld = 0;

void CopyPath(const std::string& path, HyxAccess_FileRule& rule) {
  const std::size_t length = std::min(path.size(), kFileRulePathSize - 1);
  std::memcpy(rule.path, path.data(), length);
  rule.path[length] = '\0';
}
}  // namespace

FilePathAccessRules::~FilePathAccessRules() = default;

unsigned int FilePathAccessRules::GetPermission(const std::string& text) {
  if (text.size() >= 4) {
    throw HostCtl::Lib::HostCtlException("Please enter the permissions from [rwx].");
  }
  unsigned int mask = 0;
  for (const char letter : text) {
    unsigned int bit = 0;
    const char* repeated = nullptr;
    switch (letter) {
      case 'r':
        bit = kRead;
        repeated = "Read access already specified.";
        break;
      case 'w':
        bit = kWrite;
        repeated = "Write access already specified.";
        break;
      case 'x':
        bit = kExec;
        repeated = "Exec access already specified.";
        break;
      default:
        throw HostCtl::Lib::HostCtlException("Unknown access privilege specified.");
    }
    if ((mask & bit) != 0) throw HostCtl::Lib::HostCtlException(repeated);
    mask |= bit;
  }
  return mask;
}

void FilePathAccessRules::ParseFields(HyxAccess_FilePathAccessRule& record, TokenQueue& args,
                                      HyxAccessInterfaceImpl& /*iface*/) const {
  if (args.empty() || args.size() > 2) RuleSizeError();
  // Neither the path nor the letters are judged here; Set judges the letters.
  record.path = PopToken(args);
  if (!args.empty()) record.permissions = PopToken(args);
}

std::vector<std::string> FilePathAccessRules::PrintFields(
    const HyxAccess_FilePathAccessRule& record) const {
  return {record.path, record.permissions};
}

void FilePathAccessRules::Set(HyxAccessInterfaceImpl& /*iface*/) {
  // One fixed pair, reused for every rule: the written path, then the path as
  // the kernel resolves it.
  HyxAccess_FileRule pair[2];
  for (const HyxAccess_FilePathAccessRule& record : rules_) {
    CopyPath(record.path, pair[0]);
    pair[1].path[0] = '\0';
    unsigned int count = 2;
    if (HyxCtl::Kernel::HostPrctl(HyxCtl::Kernel::kResolvePathOption,
                                  reinterpret_cast<unsigned long>(pair[0].path),
                                  reinterpret_cast<unsigned long>(pair[1].path)) != 0) {
      SecpolicyInfo("Getting realpath failed: " + record.path);
      count = 1;
    }
    const unsigned int mask = GetPermission(record.permissions);
    pair[0].permissions = mask;
    pair[1].permissions = mask;
    unsigned int unused = 0;
    try {
      AddFilePolicyBatch(kPolicyWorld, record.domainId, pair, count, &unused);
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      ThrowSetPolicyError(record.lineNumber, record.domainName, failure.what());
    }
  }
}

}  // namespace SecPolicy
