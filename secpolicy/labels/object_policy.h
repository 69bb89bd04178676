// The object policy: every line of every file of the objects directory names
// one object; loading makes the kernel's object labels match those names.
#pragma once

#include <string>
#include <vector>

#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy {

using HyxCtl::Security::HyxAccessInterfaceImpl;

class ObjectPolicy {
 public:
  // Appends the names of one file in line order. A line of more than one
  // token throws path + ":" + line + " : cannot define more than one object
  // per line"; names of the earlier lines stay.
  void ParsePolicy(const std::string& path);
  // The same on the lines of `path` already read (called by ParsePolicy), so
  // a caller can take a file a few lines at a time.
  void ProcessParsedPolicyFile(const std::string& path, const ParsedPolicyFile& lines);

  // Reconciles the kernel's object labels with the names gathered so far.
  void SetObjects(HyxAccessInterfaceImpl& iface);

  // Reading order; never sorted or de-duplicated.
  std::vector<std::string> objects;
};

// Reads every regular file of `dir`, then reconciles. Throws
// "Failure in object policy" after reporting when a file or the kernel
// update failed; an unreadable directory passes the reader's exception.
void LoadPolicyObjects(const std::string& dir, HyxAccessInterfaceImpl& iface);

// Heading, then "name (id)" per kernel object in name order.
void DisplayPolicyObjects(HyxAccessInterfaceImpl& iface);

}  // namespace SecPolicy
