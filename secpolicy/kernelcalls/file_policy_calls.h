// Runtime calls on a domain's file policies (path and permission mask).
#pragma once

#include <string>

#include "secpolicy/platform/kernel_records.h"

namespace SecPolicy {

void AddFilePolicyBatch(int worldId, unsigned int domainId, HyxAccess_FileRule* rules,
                        unsigned int count, unsigned int* out);
void RemoveFilePolicy(int worldId, unsigned int domainId, const std::string& path);
void UpdateFilePolicy(unsigned int domainId, const std::string& path, unsigned int mask);
unsigned int RetrieveNumberOfFilePolicies(unsigned int domainId);
// Throws SecPolicyRetryException when the kernel asks for a retry (the array
// is smaller than the domain's rules), HostCtlException otherwise.
void RetrieveFilePolicies(unsigned int domainId, HyxAccess_FileRule* rules, unsigned int count);
void ReplaceFilePolicyVMs(const std::string& oldPath, const std::string& newPath);

}  // namespace SecPolicy
