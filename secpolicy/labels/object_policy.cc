#include "secpolicy/labels/object_policy.h"

#include <iostream>

#include "secpolicy/labels/label_sync.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/messages.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy {

using HostCtl::Lib::HostCtlException;

void ObjectPolicy::ParsePolicy(const std::string& path) {
  ParsedPolicyFile lines;
  ParseFile(path, lines);
  ProcessParsedPolicyFile(path, lines);
}

void ObjectPolicy::ProcessParsedPolicyFile(const std::string& path, const ParsedPolicyFile& lines) {
  for (const auto& [number, tokens] : lines) {
    if (tokens.empty()) continue;
    if (tokens.size() != 1) {
      throw HostCtlException(path + ":" + std::to_string(number) +
                             " : cannot define more than one object per line");
    }
    objects.push_back(tokens.front());
  }
}

void ObjectPolicy::SetObjects(HyxAccessInterfaceImpl& iface) {
  SyncLabelsFromPolicy(objects, iface.GetKeywordsMap(HYXACCESS_KEYWORD_OBJECT),
                       HYXACCESS_LABEL_OBJECT, iface);
}

void LoadPolicyObjects(const std::string& dir, HyxAccessInterfaceImpl& iface) {
  PolicyFileList files;
  GetFileList(dir, files);

  ObjectPolicy policy;
  bool parseFailed = false;
  for (const auto& [path, name] : files) {
    try {
      policy.ParsePolicy(path);
    } catch (const HostCtlException& failure) {
      SecpolicyError(failure.what());
      parseFailed = true;
    }
  }
  // The names gathered are applied even after a bad file, so one typo does
  // not leave the kernel without the other objects.
  if (parseFailed) {
    SecpolicyError("Error in parsing some object files");
  } else {
    SecpolicyInfo("Parsed all objects");
  }

  try {
    policy.SetObjects(iface);
  } catch (const HostCtlException&) {
    SecpolicyError("Error in defining some objects");
    throw HostCtlException("Failure in object policy");
  }
  SecpolicyInfo("Objects defined and obsolete objects removed");
  if (parseFailed) throw HostCtlException("Failure in object policy");
}

void DisplayPolicyObjects(HyxAccessInterfaceImpl& iface) {
  DisplayHeader("Objects Defined: Name (Kernel Id)", "");
  for (const auto& [name, id] : iface.GetKeywordsMap(HYXACCESS_KEYWORD_OBJECT)) {
    std::cout << name << " (" << id << ")" << std::endl;
  }
}

}  // namespace SecPolicy
