#include "secpolicy/tardisks/tardisk_discovery.h"

#include <dirent.h>

#include <cerrno>
#include <memory>

#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

using HostCtl::Lib::HostCtlException;

namespace {

const char kTardiskDir[] = "/tardisks/";

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

}  // namespace

void GetAllTardisks(std::list<std::string>& tardisks) {
  const DirHandle dir(opendir(kTardiskDir));
  if (!dir) throw HostCtlException(std::string("Could not open tardisk dir ") + kTardiskDir);
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (IsDotEntry(name)) continue;
    if (entry->d_type == DT_REG) {
      tardisks.push_back(kTardiskDir + name);
    } else {
      SecpolicyError("Skipping directory " + name);
    }
  }
}

void GetTardiskLists(const std::string& dir, std::list<TardiskPolicy*>& policies,
                     std::list<std::string>& defaultTardisks) {
  std::list<std::string> tardisks;
  GetAllTardisks(tardisks);

  errno = 0;
  const DirHandle handle(opendir(dir.c_str()));
  if (!handle) {
    if (errno == ENOENT) {
      SecpolicyInfo("Skipping tardisk policy as " + dir + " does not exist");
      return;
    }
    throw HostCtlException("Unable to open policy directory for tardisks " + dir);
  }

  while (const dirent* entry = readdir(handle.get())) {
    const std::string name = entry->d_name;
    if (IsDotEntry(name)) continue;
    if (entry->d_type != DT_REG) {
      SecpolicyError("Skipping directory " + name);
      continue;
    }
    auto policy = std::make_unique<TardiskPolicy>(dir + "/" + name);
    const std::string backing = policy->GetBackingTardiskPath();
    if (backing.empty()) {
      SecpolicyError("No backing tardisk for policy file " + policy->path);
      continue;
    }
    // Every accepted policy is asked again: the kernel's answer is not cached.
    bool claimed = false;
    for (TardiskPolicy* accepted : policies) {
      if (accepted->GetBackingTardiskPath() == backing) claimed = true;
    }
    if (claimed) {
      SecpolicyError("More than one exception specification for tardisk " + backing);
      SecpolicyError("Ignoring " + policy->path);
      continue;
    }
    policies.push_back(policy.get());
    policy.release();
    tardisks.remove(backing);
  }
  defaultTardisks.insert(defaultTardisks.end(), tardisks.begin(), tardisks.end());
}

}  // namespace SecPolicy
