#include "secpolicy/labels/file_labels.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#include "secpolicy/labels/label_tree.h"
#include "secpolicy/platform/file_label_attr.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/error_texts.h"
#include "secpolicy/policytext/messages.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::kFileLabelAttribute;
using HyxCtl::Security::kFileLabelSize;

namespace {

[[noreturn]] void ThrowLocated(const std::string& file, unsigned int line,
                               const std::string& cause) {
  throw HostCtlException(file + ":" + std::to_string(line) + " : " + cause);
}

}  // namespace

void SetFileLabel(const std::string& path, const std::string& label,
                  HyxAccessInterfaceImpl& iface) {
  const std::uint32_t id = iface.LookupLabel(label, HYXACCESS_LABEL_OBJECT);
  if (id == 1) throw HostCtlException("Invalid label (" + label + ") for file " + path);
  errno = 0;
  if (HyxCtl::Security::WriteFileLabelAttr(path.c_str(), path.c_str(), id) < 0) {
    throw HostCtlException("Unable to set file label (" + label + ") for file " + path + ": " +
                           std::strerror(errno));
  }
}

void SetDirLabelRecursive(const std::string& dir, const std::string& label,
                          HyxAccessInterfaceImpl& iface) {
  LabelTreeDir top = OpenLabelledTop(dir, label, iface);
  SetOpenDirLabelRecursive(top, label, iface);
}

std::string GetFileLabel(const std::string& path, HyxAccessInterfaceImpl& iface) {
  std::uint32_t id = 0;
  errno = 0;
  const ssize_t size = getxattr(path.c_str(), kFileLabelAttribute, &id, kFileLabelSize);
  if (size >= 0 && size < static_cast<ssize_t>(kFileLabelSize)) {
    // A value shorter than a label id is not a label: report it with
    // ENODATA, as a missing attribute, rather than look up a partial id.
    errno = ENODATA;
  }
  if (size < static_cast<ssize_t>(kFileLabelSize)) {
    throw HostCtlException("Unable to get file label for file " + path + ":" +
                           std::strerror(errno));
  }
  return iface.GetLabel(id, HYXACCESS_LABEL_OBJECT);
}

void FileLabelPolicy::ParsePolicy(const std::string& path, HyxAccessInterfaceImpl& iface) {
  ParsedPolicyFile lines;
  ParseFile(path, lines);
  ProcessParsedPolicyFile(path, lines, iface);
}

void FileLabelPolicy::ProcessParsedPolicyFile(const std::string& path, ParsedPolicyFile& lines,
                                              HyxAccessInterfaceImpl& iface) {
  for (auto& [number, tokens] : lines) {
    if (tokens.size() != 2) ThrowLocated(path, number, "incorrect no of parameters");
    std::string spec = tokens.front();
    tokens.pop();
    const std::string label = tokens.front();
    iface.ValidateKeyword(HYXACCESS_KEYWORD_OBJECT, label);

    bool recursive = false;
    const std::size_t star = spec.find("/*");
    if (star != std::string::npos) {
      if (star + 2 != spec.size()) {
        ThrowLocated(path, number, "Unrecognized format for file/dir specification");
      }
      spec.erase(star);
      recursive = true;
    }
    fileLabels.push_back(FileLabel{spec, label, recursive, path, number});
  }
}

void FileLabelPolicy::SetFileLabels(HyxAccessInterfaceImpl& iface) {
  SetFileLabels([&iface](const FileLabel& mapping) {
    if (mapping.recursive) {
      SetDirLabelRecursive(mapping.path, mapping.label, iface);
    } else {
      SetFileLabel(mapping.path, mapping.label, iface);
    }
  });
}

void FileLabelPolicy::SetFileLabels(const Applier& apply) {
  bool failed = false;
  while (!fileLabels.empty()) {
    const FileLabel& mapping = fileLabels.front();
    try {
      apply(mapping);
    } catch (const HostCtlException& failure) {
      ReportLabelSetError(mapping.line, mapping.file, failure.what());
      failed = true;
    }
    fileLabels.pop_front();
  }
  if (failed) throw HostCtlException("There was a failure in setting file labels");
}

void LoadPolicyFileLabels(const std::string& dir, HyxAccessInterfaceImpl& iface) {
  LoadPolicyFileLabels(dir, iface, nullptr);
}

void LoadPolicyFileLabels(const std::string& dir, HyxAccessInterfaceImpl& iface,
                          const FileLabelPolicy::Applier& apply) {
  PolicyFileList files;
  GetFileList(dir, files);

  FileLabelPolicy policy;
  bool parseFailed = false;
  for (const auto& [path, name] : files) {
    try {
      policy.ParsePolicy(path, iface);
    } catch (const HostCtlException& failure) {
      SecpolicyError("Error parsing file " + path);
      SecpolicyError(failure.what());
      parseFailed = true;
    }
  }
  if (parseFailed) {
    SecpolicyError("Error in parsing some file label mappings.");
  } else {
    SecpolicyInfo("Parsed all file label mappings");
  }

  try {
    if (apply) {
      policy.SetFileLabels(apply);
    } else {
      policy.SetFileLabels(iface);
    }
  } catch (const HostCtlException& failure) {
    SecpolicyError(failure.what());
    SecpolicyError("Error in setting some file labels.");
    throw HostCtlException("Failure in file labels policy");
  }
  SecpolicyInfo("Set all file labels");
  if (parseFailed) throw HostCtlException("Failure in file labels policy");
}

}  // namespace SecPolicy
