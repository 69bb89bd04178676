#include "secpolicy/tardisks/tardisk_policy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>

#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/sysinfo.h"
#include "secpolicy/policytext/error_texts.h"
#include "secpolicy/policytext/messages.h"
#include "secpolicy/tardisks/tardisk_exception_rules.h"
#include "secpolicy/platform/unique_fd.h"

namespace SecPolicy {

using HostCtl::Lib::HostCtlException;

namespace {

// The kernel's per-inode statistics record; the providing tardisk's name
// starts at byte 36 and is NUL-terminated within the record.
constexpr unsigned int kInodeStatsRecordSize = 548;
constexpr std::size_t kInodeStatsNameOffset = 36;

}  // namespace

TardiskPolicy::TardiskPolicy(const std::string& policyPath) : path(policyPath) {
  auto exceptionRules = std::make_unique<TardiskExceptionRules>();
  exceptionRules->keyword = "-E";
  ruleSets.emplace(exceptionRules->keyword, exceptionRules.get());
  exceptionRules.release();
}

TardiskPolicy::~TardiskPolicy() {
  for (auto& [keyword, rules] : ruleSets) delete rules;
}

std::string TardiskPolicy::GetBackingTardiskPath() {
  const Posix::UniqueFd file(open(path.c_str(), O_RDONLY));
  if (file.get() < 0) throw HostCtlException("Unable to open policy file " + path);
  struct stat status {};
  if (fstat(file.get(), &status) != 0) {
    throw HostCtlException("Unable to get attributes for policy file " + path);
  }

  std::array<char, kInodeStatsRecordSize> record{};
  {
    HyxCtl::Util::Sysinfo sysinfo(QSI_NODE_system_lumenfs_inodes_stats);
    sysinfo.AddInstancePath(status.st_ino);
    sysinfo.Get(record.data(), kInodeStatsRecordSize);
  }
  const char* name = record.data() + kInodeStatsNameOffset;
  const std::string tardisk(name, strnlen(name, record.size() - kInodeStatsNameOffset));
  return tardisk.empty() ? std::string() : "/tardisks/" + tardisk;
}

void TardiskPolicy::ParsePolicy(HyxAccessInterfaceImpl& iface) {
  const std::string tardisk = GetBackingTardiskPath();
  if (tardisk.empty()) {
    SecpolicyError("No backing tardisk for policy file " + path);
    return;
  }
  ParsedPolicyFile lines;
  ParseFile(path, lines);
  ProcessParsedPolicyFile(iface, tardisk, lines);
}

void TardiskPolicy::ProcessParsedPolicyFile(HyxAccessInterfaceImpl& iface,
                                            const std::string& tardisk, ParsedPolicyFile& lines) {
  for (auto& [number, tokens] : lines) {
    if (tokens.empty()) continue;
    const std::string keyword = tokens.front();
    tokens.pop();
    const auto found = ruleSets.find(keyword);
    if (found == ruleSets.end()) {
      ThrowParsePolicyError(number, path, "invalid tardisk policy rule type (" + keyword + ")");
    }
    found->second->AddRule(number, tardisk, path, tokens, iface);
  }
}

void TardiskPolicy::SetPolicy(HyxAccessInterfaceImpl& iface) {
  for (auto& [keyword, rules] : ruleSets) rules->Set(iface);
}

}  // namespace SecPolicy
