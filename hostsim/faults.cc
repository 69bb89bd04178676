// Forced failures (admin.h) and what a kernel's writes leave: the journal
// and the kernel log. A fault names an operation that exists in its
// layer, so that a misspelt name is refused instead of never firing.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <set>

#include "hostsim/admin.h"
#include "hostsim/connection.h"
#include "hostsim/state.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace HostSim {

namespace {

using HostCtl::Lib::HostCtlException;

// Each operation of access_interface.cc and host_services.cc that meets
// ControlFault under its own name.
const std::set<std::string>& ControlOperations() {
  static const std::set<std::string> names = {
      "AddHvcService", "AddLabels", "CheckCapabilityParamRuleConstraints", "CreateDomain",
      "EnableDomain", "FindDomain", "FindOption", "GetCapabilityParamRules", "GetCapabilityRules",
      "GetCompleteDomainInfo", "GetDefaultTardiskDomain", "GetDefaultTardiskLabel",
      "GetDesiredUserConfig", "GetDomTransRules", "GetFileCreationRules", "GetFilePathAccessRules",
      "GetInvalidLabels", "GetKeywordsMap", "GetLabel", "GetMaxDomains", "GetObjectAccessRules",
      "GetSyscallRules", "GetTardiskExecEventKeyword", "GetTardiskLaunchDomains",
      "GetUnixSockCreationRules", "IsPredefinedLabel", "IsPrivilegedVm", "LookupLabel",
      "RemoveLabels", "SetBootStatus", "SetCapabilityParamRule", "SetCapabilityRule",
      "SetDaemonFrameworkDomain", "SetDomTransRule", "SetFileCreationRule",
      "SetFilePathAccessRules", "SetGlobalVMDomain", "SetIoFilterDomain", "SetObjectAccessRule",
      "SetSyscallRule", "SetUnixSockCreationRule", "Sysinfo", "ValidateKeyword"};
  return names;
}

// The numbered kernel calls of kernel_calls.cc.
const std::set<std::string>& KernelCalls() {
  static const std::set<std::string> names = {
      "AddFilePolicyBatch", "CreateDomain", "DestroyDomain", "GetDomainIDForWorld",
      "GetDomainNameForID", "RemoveFilePolicy", "RemoveParamCheckRule", "ReplaceFilePolicyVMs",
      "RetrieveFilePolicies", "RetrieveLeakedDomains", "RetrieveNumberOfFilePolicies",
      "SetCapRule", "SetParamCheckRule", "UpdateFilePolicy"};
  return names;
}

// Edits that turn one name into the other, letter case ignored.
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::vector<std::string> Nearest(const std::string& name, const std::set<std::string>& names) {
  std::vector<std::pair<std::size_t, std::string>> scored;
  for (const auto& candidate : names) {
    const std::size_t distance = Distance(name, candidate);
    // Close enough to be a slip: a third of the name, at least two edits.
    if (distance <= std::max<std::size_t>(2, candidate.size() / 3)) scored.emplace_back(distance, candidate);
  }
  std::sort(scored.begin(), scored.end());
  std::vector<std::string> out;
  for (std::size_t i = 0; i < scored.size() && i < 3; ++i) out.push_back(scored[i].second);
  return out;
}

}  // namespace

std::vector<std::string> FaultOperations() {
  std::set<std::string> all = ControlOperations();
  all.insert(KernelCalls().begin(), KernelCalls().end());
  return {all.begin(), all.end()};
}

std::vector<std::string> NearestOperations(const std::string& name) {
  const auto all = FaultOperations();
  return Nearest(name, {all.begin(), all.end()});
}

void AddFault(const Fault& fault) {
  if (fault.operation.empty()) throw HostCtlException("A fault needs an operation");
  if (fault.times && *fault.times < 1) throw HostCtlException("A fault's times must be at least 1");
  if (fault.status && *fault.status == 0) {
    throw HostCtlException("A fault's status must not be 0, which is the status of success");
  }
  if (fault.errnum && *fault.errnum <= 0) throw HostCtlException("A fault's errno must be positive");
  const bool kernel = fault.errnum.has_value() || fault.status.has_value();
  const auto& names = kernel ? KernelCalls() : ControlOperations();
  if (names.count(fault.operation) == 0) {
    std::string text = std::string(kernel ? "Unknown kernel call " : "Unknown operation ") + fault.operation;
    const auto near = Nearest(fault.operation, names);
    for (std::size_t i = 0; i < near.size(); ++i) text += (i == 0 ? "; nearest: " : ", ") + near[i];
    throw HostCtlException(text);
  }
  std::optional<int> errnum = fault.errnum;
  std::optional<std::int64_t> status;
  if (kernel) {
    if (!errnum) errnum = EPERM;
    status = fault.status.value_or(0xBAD0001u);
  }
  State::Txn txn(State::Txn::kWrite);
  txn.Exec(
      "INSERT INTO faults(operation, kernel, message, errnum, status, match, times) "
      "VALUES(?, ?, ?, ?, ?, ?, ?)",
      fault.operation, kernel ? 1 : 0, fault.message, errnum, status, fault.match, fault.times);
  txn.Commit();
}

void ClearFaults() {
  State::Txn txn(State::Txn::kWrite);
  txn.Exec("DELETE FROM faults");
  txn.Commit();
}

namespace State {

std::optional<FaultHit> TakeFault(const std::string& op, bool kernelCall,
                                  const std::vector<std::string>& args) {
  {
    Connection& conn = TheConnection();
    std::lock_guard lock(conn.mutex);
    const bool possible =
        conn.Remember(conn.faults, (kernelCall ? "1" : "0") + op, [&] {
          Txn probe(Txn::kRead);
          return probe
              .Query("SELECT 1 FROM faults WHERE operation=? AND kernel=? LIMIT 1", op,
                     kernelCall ? 1 : 0)
              .Step();
        });
    if (!possible) return std::nullopt;
  }
  Txn txn(Txn::kWrite);
  std::optional<FaultHit> hit;
  std::int64_t id = 0;
  std::optional<std::int64_t> times;
  {
    Stmt s = txn.Query(
        "SELECT id, message, errnum, status, match, times FROM faults "
        "WHERE operation=? AND kernel=? ORDER BY id",
        op, kernelCall ? 1 : 0);
    while (s.Step()) {
      if (!s.IsNull(4)) {
        const std::string match = s.Text(4);
        bool found = false;
        for (const auto& arg : args) found = found || arg == match;
        if (!found) continue;
      }
      hit = FaultHit{s.Text(1), std::nullopt, std::nullopt};
      if (!s.IsNull(2)) hit->errnum = static_cast<int>(s.Int(2));
      if (!s.IsNull(3)) hit->status = s.U32(3);
      id = s.Int(0);
      if (!s.IsNull(5)) times = s.Int(5);
      break;
    }
  }
  if (!hit) return std::nullopt;
  if (times) {
    if (*times <= 1) {
      txn.Exec("DELETE FROM faults WHERE id=?", id);
    } else {
      txn.Exec("UPDATE faults SET times=times-1 WHERE id=?", id);
    }
  }
  txn.Commit();
  return hit;
}

void ControlFault(const std::string& op, const std::vector<std::string>& args) {
  if (auto hit = TakeFault(op, false, args)) throw HostCtl::Lib::HostCtlException(hit->message);
}

}  // namespace State

std::vector<std::string> Journal() {
  State::Txn txn(State::Txn::kRead);
  std::vector<std::string> lines;
  State::Stmt s = txn.Query("SELECT line FROM journal ORDER BY seq");
  while (s.Step()) lines.push_back(s.Text(0));
  return lines;
}

std::vector<KlogLine> KernelLog() {
  State::Txn txn(State::Txn::kRead);
  std::vector<KlogLine> lines;
  State::Stmt s = txn.Query("SELECT tag, text FROM klog ORDER BY seq");
  while (s.Step()) lines.push_back({s.Text(0), s.Text(1)});
  return lines;
}

}  // namespace HostSim
