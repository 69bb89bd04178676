// File path access rules ("-r path [rwx]"): sent to the kernel through the
// file-policy batch call, together with the path as the kernel resolves it.
#pragma once

#include <string>
#include <vector>

#include "secpolicy/domains/rule_set.h"

namespace SecPolicy {

class FilePathAccessRules final
    : public RuleSet<HyxAccess_FilePathAccessRule, &HyxAccessInterfaceImpl::GetFilePathAccessRules> {
 public:
  ~FilePathAccessRules() override;

  // Permission letters to the kernel mask: r 0x1, w 0x2, x 0x10, each at most
  // once; the empty text is 0 (no access).
  static unsigned int GetPermission(const std::string& text);

  // Sends each rule as the written path and, when the kernel resolves it, the
  // resolved path too, with world 0. A bad permission text leaves with the
  // bare permission message, not the located one.
  void Set(HyxAccessInterfaceImpl& iface) override;

 protected:
  void ParseFields(HyxAccess_FilePathAccessRule& record, TokenQueue& args,
                   HyxAccessInterfaceImpl& iface) const override;
  std::vector<std::string> PrintFields(const HyxAccess_FilePathAccessRule& record) const override;
};

}  // namespace SecPolicy
