#include "secpolicy/kernelcalls/file_policy_calls.h"

#include "secpolicy/kernelcalls/kernel_call.h"
#include "secpolicy/policytext/retry_exception.h"

namespace SecPolicy {

namespace {
namespace K = KernelCall;

constexpr std::uint32_t kUpdateFilePolicy = 0x405B;
constexpr std::uint32_t kRemoveFilePolicy = 0x405C;
constexpr std::uint32_t kRetrieveFilePolicies = 0x405D;
constexpr std::uint32_t kRetrieveNumberOfFilePolicies = 0x405E;
constexpr std::uint32_t kAddFilePolicyBatch = 0x405F;
constexpr std::uint32_t kReplaceFilePolicyVMs = 0x4067;

void RequireNonEmpty(const std::string& value, const char* failure) {
  if (value.empty()) throw HostCtl::Lib::HostCtlException(failure);
}
}  // namespace

void AddFilePolicyBatch(int worldId, unsigned int domainId, HyxAccess_FileRule* rules,
                        unsigned int count, unsigned int* out) {
  K::Call(kAddFilePolicyBatch,
          {K::World(worldId), K::Unsigned(domainId), K::Address(rules), K::Unsigned(count),
           K::Address(out)},
          [&] {
            return "Failed to add file policies to domain :" + std::to_string(domainId) +
                   ": world ID :" + std::to_string(worldId) + ":";
          });
}

void RemoveFilePolicy(int worldId, unsigned int domainId, const std::string& path) {
  RequireNonEmpty(path, "file path is empty");
  K::Call(kRemoveFilePolicy, {K::World(worldId), K::Unsigned(domainId), K::String(path)}, [&] {
    return "Failed to remove file policy from domain :" + std::to_string(domainId) +
           " : world id :" + std::to_string(worldId) + ":";
  });
}

void UpdateFilePolicy(unsigned int domainId, const std::string& path, unsigned int mask) {
  RequireNonEmpty(path, "File path is empty");
  K::Call(kUpdateFilePolicy, {K::Unsigned(domainId), K::String(path), K::Unsigned(mask)},
          [&] { return "Failed to update file policy: " + path + ":"; });
}

unsigned int RetrieveNumberOfFilePolicies(unsigned int domainId) {
  unsigned int number = 0;
  K::Call(kRetrieveNumberOfFilePolicies, {K::Unsigned(domainId), K::Address(&number)}, [&] {
    return "Failed to get number of file policies for domain :" + std::string(": ") +
           std::to_string(domainId) + ":";
  });
  return number;
}

void RetrieveFilePolicies(unsigned int domainId, HyxAccess_FileRule* rules, unsigned int count) {
  const std::uint32_t status = K::Issue(
      kRetrieveFilePolicies, {K::Unsigned(domainId), K::Address(rules), K::Unsigned(count)});
  if (status == 0) return;
  const std::string text = "Failed to retrieve policies from domain:" + std::string(": ") +
                           std::to_string(domainId) + " : " + K::ErrorText();
  if (status == kHyxAccessStatusRetry) throw SecPolicyRetryException(text);
  throw HostCtl::Lib::HostCtlException(text);
}

void ReplaceFilePolicyVMs(const std::string& oldPath, const std::string& newPath) {
  RequireNonEmpty(oldPath, "Old path is empty");
  RequireNonEmpty(newPath, "New path is empty");
  K::Call(kReplaceFilePolicyVMs, {K::String(oldPath), K::String(newPath)},
          [&] { return "Failed to replace file policy: " + oldPath + " to: " + newPath + ": "; });
}

}  // namespace SecPolicy
