#include "secpolicy/analysis/policy_model.h"

#include <sys/stat.h>

#include <iostream>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <streambuf>

#include "hostsim/admin.h"
#include "secpolicy/admin/quiet_errors.h"
#include "secpolicy/domains/capability_param_rules.h"
#include "secpolicy/domains/domain_policy.h"
#include "secpolicy/domains/file_path_access_rules.h"
#include "secpolicy/domains/object_socket_rules.h"
#include "secpolicy/domains/syscall_capability_rules.h"
#include "secpolicy/domains/transition_creation_rules.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/labels/object_policy.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/policy_file_reader.h"
#include "secpolicy/tardisks/tardisk_discovery.h"
#include "secpolicy/tardisks/tardisk_exception_rules.h"

namespace SecPolicy::Analysis {

namespace {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;
using SecPolicy::Admin::QuietErrors;

constexpr char kPluginDir[] = "/etc/norvane/secpolicy/domains/plugins";
constexpr char kPluginPrefix[] = "plugin-";


const char* Action(bool grant) { return grant ? "grant" : "revoke"; }

// Record to rule: the identity words are those the kernel keeps one rule per.
Rule Describe(const HyxAccess_ObjectAccessRule& r) {
  return {r.domainName, "-a", {r.objectName, r.accessType}, Action(r.grant), {}, {}, {}, {}};
}
Rule Describe(const HyxAccess_CapabilityRule& r) {
  return {r.domainName, "-c", {r.capabilityName}, Action(r.grant), {}, {}, {}, {}};
}
Rule Describe(const HyxAccess_DomTransRule& r) {
  return {r.domainName, "-d", {r.objectName, r.targetDomainName, r.event}, Action(r.grant),
          {}, {}, {}, {}};
}
Rule Describe(const HyxAccess_FileCreationRule& r) {
  return {r.domainName, "-f", {r.firstObject, r.secondObject, r.creationKeyword},
          Action(r.grant), {}, {}, {}, {}};
}
Rule Describe(const HyxAccess_CapabilityParamRule& r) {
  std::vector<std::string> words{r.paramCheck, r.firstArg};
  if (!r.secondArg.empty()) words.push_back(r.secondArg);
  return {r.domainName, "-p", std::move(words), Action(r.grant), {}, {}, {}, {}};
}
Rule Describe(const HyxAccess_FilePathAccessRule& r) {
  return {r.domainName, "-r", {r.path}, r.permissions, {}, {}, {}, {}};
}
Rule Describe(const HyxAccess_SyscallRule& r) {
  return {r.domainName, "-s", {r.syscallName}, Action(r.grant), {}, {}, {}, {}};
}
Rule Describe(const HyxAccess_UnixSockCreationRule& r) {
  return {r.domainName, "-u", {r.objectName, r.socketKeyword}, Action(r.grant), {}, {}, {}, {}};
}

template <typename Record>
void AddRecords(const std::list<Record>& records, const Source& file, Origin origin,
                const std::string& domain, std::vector<Rule>& out) {
  for (const Record& record : records) {
    Rule rule = Describe(record);
    rule.domain = domain;  // a kernel read reports the kernel's name; the loop knows it
    rule.source = {file.path, record.lineNumber};
    rule.origin = origin;
    out.push_back(std::move(rule));
  }
}

// The records of a domain's eight rule sets in the order a load writes them:
// sets by keyword, records by line.
std::vector<Rule> RulesOf(const DomainPolicy& policy, const Source& file, Origin origin) {
  std::vector<Rule> rules;
  for (const auto& [keyword, set] : policy.rules) {
    const std::string& domain = policy.domainName;
    if (auto* s = dynamic_cast<ObjectAccessRules*>(set)) AddRecords(s->Records(), file, origin, domain, rules);
    if (auto* s = dynamic_cast<CapabilityRules*>(set)) AddRecords(s->Records(), file, origin, domain, rules);
    if (auto* s = dynamic_cast<DomTransRules*>(set)) AddRecords(s->Records(), file, origin, domain, rules);
    if (auto* s = dynamic_cast<FileCreationRules*>(set)) AddRecords(s->Records(), file, origin, domain, rules);
    if (auto* s = dynamic_cast<CapabilityParamRules*>(set)) AddRecords(s->Records(), file, origin, domain, rules);
    if (auto* s = dynamic_cast<FilePathAccessRules*>(set)) AddRecords(s->Records(), file, origin, domain, rules);
    if (auto* s = dynamic_cast<SyscallRules*>(set)) AddRecords(s->Records(), file, origin, domain, rules);
    if (auto* s = dynamic_cast<UnixSockCreationRules*>(set)) AddRecords(s->Records(), file, origin, domain, rules);
  }
  return rules;
}

// Built field by field: GCC 12 at -O3 warns falsely on the nested braces.
void AddProblem(Model& model, const std::string& path, unsigned int line, const std::string& text,
                bool unread = false) {
  Problem problem;
  problem.unread = unread;
  problem.source.path = path;
  problem.source.line = line;
  problem.text = text;
  model.problems.push_back(std::move(problem));
}

PolicyFileList ListFiles(const std::string& dir, Model& model) {
  PolicyFileList files;
  try {
    GetFileList(dir, files);
  } catch (const HostCtlException& failure) {
    AddProblem(model, dir, 0, failure.what());
  }
  for (const auto& [path, name] : files) model.files.push_back(path);
  return files;
}

// The lines of `path` as a load reads them; a file that cannot be read is a
// problem of the model, when one is given.
ParsedPolicyFile Lines(const std::string& path, Model* model) {
  ParsedPolicyFile lines;
  try {
    ParseFile(path, lines);
  } catch (const HostCtlException& failure) {
    if (model != nullptr) AddProblem(*model, path, 0, failure.what());
  }
  return lines;
}

// Hands the lines of `path` to `parse(line, unread)` one at a time, using up
// `lines`. A line that fails is a problem in the library's words; the lines
// after the first one that fails come with `unread` set, as a load never
// reads them.
template <typename Parse>
void LineByLine(const std::string& path, ParsedPolicyFile& lines, Model& model, Parse parse) {
  bool unread = false;
  for (auto& [number, tokens] : lines) {
    ParsedPolicyFile one;
    one.emplace(number, std::move(tokens));
    try {
      parse(one, unread);
    } catch (const HostCtlException& failure) {
      AddProblem(model, path, number, failure.what(), unread);
      unread = true;
    }
  }
}

void ReadObjects(const std::string& dir, HyxAccessInterfaceImpl& iface, Model& model) {
  ObjectPolicy all;
  for (const auto& file : ListFiles(dir, model)) {
    const std::string& path = file.first;  // a named variable: lambdas cannot capture bindings
    ParsedPolicyFile lines = Lines(path, &model);
    LineByLine(path, lines, model, [&](const ParsedPolicyFile& line, bool unread) {
      ObjectPolicy one;
      one.ProcessParsedPolicyFile(path, line);
      for (const std::string& object : one.objects) {
        (unread ? model.unreadObjects : model.objects).push_back({object, {path, line.begin()->first}});
        if (!unread) all.objects.push_back(object);
      }
    });
  }
  try {
    all.SetObjects(iface);
  } catch (const HostCtlException& failure) {
    AddProblem(model, dir, 0, failure.what());
  }
  for (const auto& [name, id] : iface.GetKeywordsMap(HYXACCESS_KEYWORD_OBJECT)) {
    if (iface.IsPredefinedLabel(name, HYXACCESS_LABEL_OBJECT)) model.predefinedObjects.push_back(name);
  }
}

// Creates every domain of `dir` first, then parses each file, as a load does.
void ReadDomains(const std::string& dir, const std::string& prefix, HyxAccessInterfaceImpl& iface,
                 Model& model) {
  std::vector<std::unique_ptr<DomainPolicy>> policies;
  const PolicyFileList files = ListFiles(dir, model);
  for (const auto& [path, file] : files) {
    const std::string name = prefix + file;
    std::uint32_t id = 0;
    try {
      if (!iface.FindDomain(name, &id)) id = iface.CreateDomain(name, HYXACCESS_QSI_DEFDOM_NONE);
    } catch (const HostCtlException& failure) {
      AddProblem(model, path, 0, failure.what());
      continue;
    }
    auto policy = std::make_unique<DomainPolicy>(name, id);
    policy->policyFilePath = path;
    model.domains.push_back({name, {path, 0}});
    policies.push_back(std::move(policy));
  }
  for (auto& policy : policies) {
    const std::string path = policy->policyFilePath;
    ParsedPolicyFile lines = Lines(path, &model);
    // The whole file at once, as a load takes it; only a file that fails
    // goes again line by line, on fresh policies, so the failing line is
    // known and the lines after it, which a load never reads, are checked.
    try {
      policy->ProcessParsedPolicyFile(iface, lines);
    } catch (const HostCtlException&) {
      // The parse used up the tokens: read the file again.
      lines = Lines(path, nullptr);
      auto fresh = std::make_unique<DomainPolicy>(policy->domainName, policy->domainId);
      fresh->policyFilePath = path;
      auto after = std::make_unique<DomainPolicy>(policy->domainName, policy->domainId);
      LineByLine(path, lines, model, [&](ParsedPolicyFile& line, bool unread) {
        (unread ? *after : *fresh).ProcessParsedPolicyFile(iface, line);
      });
      policy = std::move(fresh);
    }
    bool skipped = false;
    try {
      policy->CheckPolicyConstraints(iface);
    } catch (const HostCtlException& failure) {
      AddProblem(model, path, 0, failure.what());
      skipped = true;
    }
    for (Rule& rule : RulesOf(*policy, {path, 0}, Origin::DomainFile)) {
      rule.skipped = skipped;
      model.rules.push_back(std::move(rule));
    }
  }
}

// A launch domain's transition into `target` through a tardisk's label.
Rule TardiskTransition(const std::string& launch, const std::string& label,
                       const std::string& target, const std::string& event, Source source,
                       Origin origin) {
  return {launch, "-d", {label, target, event}, "grant", std::move(source), origin, false, {}};
}

void ReadTardisks(const std::string& dir, HyxAccessInterfaceImpl& iface, Model& model) {
  std::vector<std::string> launchDomains;
  std::string event;
  try {
    launchDomains = iface.GetTardiskLaunchDomains();
    model.launchDomains = launchDomains;
    event = iface.GetTardiskExecEventKeyword();
    model.defaultTardiskLabel = iface.GetDefaultTardiskLabel();
    model.defaultTardiskDomain = iface.GetDefaultTardiskDomain();
  } catch (const HostCtlException& failure) {
    AddProblem(model, dir, 0, failure.what());
  }
  TardiskPolicyList policies;
  std::list<std::string> defaultTardisks;
  try {
    GetTardiskLists(dir, policies.policies, defaultTardisks);
  } catch (const HostCtlException& failure) {
    AddProblem(model, dir, 0, failure.what());
    return;
  }
  for (TardiskPolicy* policy : policies.policies) {
    model.files.push_back(policy->path);
    std::string tardisk;
    try {
      tardisk = policy->GetBackingTardiskPath();
    } catch (const HostCtlException& failure) {
      AddProblem(model, policy->path, 0, failure.what());
      continue;
    }
    if (tardisk.empty()) continue;  // a load reports it and takes nothing from the file
    auto* set = dynamic_cast<TardiskExceptionRules*>(policy->ruleSets["-E"]);
    // Line by line on the one policy, so a rule allowed once is still refused
    // the second time after a bad line; a load takes the rules before it.
    std::optional<std::size_t> taken;
    ParsedPolicyFile lines = Lines(policy->path, &model);
    LineByLine(policy->path, lines, model, [&](ParsedPolicyFile& line, bool unread) {
      if (unread && !taken) taken = set != nullptr ? set->rules.size() : 0;
      policy->ProcessParsedPolicyFile(iface, tardisk, line);
    });
    if (set == nullptr) continue;
    std::size_t count = 0;
    for (const auto& rule : set->rules) {
      if (taken && count++ == *taken) break;
      const Source source{rule.policyFile, rule.lineNumber};
      model.tardiskRules.push_back({rule.tardiskPath, rule.label, rule.domainName, source});
      if (rule.label == "unlabeled") continue;
      for (const std::string& launch : launchDomains) {
        if (launch == rule.domainName) continue;
        model.rules.push_back(TardiskTransition(launch, rule.label, rule.domainName, event, source,
                                                Origin::TardiskPolicy));
      }
    }
  }
  for (const std::string& launch : launchDomains) {
    if (launch == model.defaultTardiskDomain) continue;
    model.rules.push_back(TardiskTransition(launch, model.defaultTardiskLabel,
                                            model.defaultTardiskDomain, event, {},
                                            Origin::DefaultTardisk));
  }
}

void ReadMappings(const std::string& dir, HyxAccessInterfaceImpl& iface, Model& model) {
  for (const auto& file : ListFiles(dir, model)) {
    const std::string& path = file.first;
    ParsedPolicyFile lines = Lines(path, &model);
    LineByLine(path, lines, model, [&](ParsedPolicyFile& line, bool unread) {
      FileLabelPolicy one;
      one.ProcessParsedPolicyFile(path, line, iface);
      for (const auto& m : one.fileLabels) {
        (unread ? model.unreadMappings : model.mappings)
            .push_back({m.path, m.label, m.recursive, {m.file, m.line}, {}});
      }
    });
  }
}

std::string TidyPath(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Marks every rule that a later write of the same domain and identity
// overrides, and every mapping that a later one rewrites.
void MarkShadowed(Model& model) {
  std::map<std::pair<std::string, std::string>, std::size_t> last;
  for (std::size_t i = 0; i < model.rules.size(); ++i) {
    Rule& rule = model.rules[i];
    if (rule.skipped) continue;
    auto [at, fresh] = last.try_emplace({rule.domain, rule.Identity()}, i);
    if (!fresh) {
      model.rules[at->second].shadowedBy = i;
      at->second = i;
    }
  }
  for (std::size_t i = 0; i < model.mappings.size(); ++i) {
    for (std::size_t later = model.mappings.size(); later-- > i + 1;) {
      const Mapping& a = model.mappings[i];
      const Mapping& b = model.mappings[later];
      if (TidyPath(a.path) == TidyPath(b.path) && (b.recursive || !a.recursive)) {
        model.mappings[i].shadowedBy = later;
        break;
      }
    }
  }
}

}  // namespace

std::string SourceText(const Source& source, bool fromKernel) {
  if (source.path.empty()) {
    if (!fromKernel) return "(default tardisk policy)";
    return source.line != 0 ? "(kernel):" + std::to_string(source.line) : "(kernel)";
  }
  return source.line != 0 ? source.path + ":" + std::to_string(source.line) : source.path;
}

std::string Rule::Identity() const {
  std::string text = keyword;
  for (const auto& word : words) text += ' ' + word;
  return text;
}

std::string Rule::Text() const {
  return action.empty() ? Identity() : Identity() + ' ' + action;
}

std::vector<std::string> Rule::Objects() const {
  if (keyword == "-a" || keyword == "-u" || keyword == "-d") return {words.at(0)};
  if (keyword == "-f") return {words.at(0), words.at(1)};
  return {};
}

std::string Mapping::Text() const { return path + (recursive ? "/* " : " ") + label; }

const std::vector<SpecialRole>& SpecialRoles() {
  static const std::vector<SpecialRole> roles = {
      {"globalVMDom", "global VM domain"},
      {"ioFilterDom", "I/O filter domain"},
      {"appDom", "default tardisk domain"},
      {"daemonFrameworkDom", "daemon framework domain"},
  };
  return roles;
}

Model ReadTree(const std::string& dir) {
  HostSim::DryRun dryRun;
  HyxAccessInterfaceImpl iface;
  return ReadTree(dir, iface);
}

Model ReadTree(const std::string& dir, HyxAccessInterfaceImpl& iface) {
  const QuietErrors quiet;
  Model model;
  model.dir = dir;
  ReadObjects(dir + "/" + ObjectsDirName, iface, model);
  ReadDomains(dir + "/" + DomainsDirName, "", iface, model);
  // Plug-in domains load after the others, from their fixed folder.
  struct stat status {};
  if (stat(kPluginDir, &status) == 0 && S_ISDIR(status.st_mode)) {
    ReadDomains(kPluginDir, kPluginPrefix, iface, model);
  }
  ReadTardisks(DefaultPolicyDir + "/" + TardisksDirName, iface, model);
  ReadMappings(dir + "/" + FileLabelsDirName, iface, model);
  MarkShadowed(model);
  return model;
}

Model ReadKernel(HyxAccessInterfaceImpl& iface) {
  Model model;
  model.fromKernel = true;
  const std::uint32_t slots = iface.GetMaxDomains();
  for (std::uint32_t id = 0; id < slots; ++id) {
    std::string name, level;
    std::uint32_t state = 0, refs = 0, worldRefs = 0;
    HyxAccessQsi_DefaultDom defaultDom{};
    if (!iface.GetCompleteDomainInfo(id, name, level, state, refs, worldRefs, defaultDom)) continue;
    model.domains.push_back({name, {}});
    const auto read = [&](auto op, auto records) {
      (iface.*op)(id, records);
      AddRecords(records, {}, Origin::Kernel, name, model.rules);
    };
    using I = HyxAccessInterfaceImpl;
    read(&I::GetObjectAccessRules, std::list<HyxAccess_ObjectAccessRule>{});
    read(&I::GetCapabilityRules, std::list<HyxAccess_CapabilityRule>{});
    read(&I::GetDomTransRules, std::list<HyxAccess_DomTransRule>{});
    read(&I::GetFileCreationRules, std::list<HyxAccess_FileCreationRule>{});
    read(&I::GetCapabilityParamRules, std::list<HyxAccess_CapabilityParamRule>{});
    read(&I::GetFilePathAccessRules, std::list<HyxAccess_FilePathAccessRule>{});
    read(&I::GetSyscallRules, std::list<HyxAccess_SyscallRule>{});
    read(&I::GetUnixSockCreationRules, std::list<HyxAccess_UnixSockCreationRule>{});
  }
  for (const auto& [name, id] : iface.GetKeywordsMap(HYXACCESS_KEYWORD_OBJECT)) {
    model.objects.push_back({name, {}});
    if (iface.IsPredefinedLabel(name, HYXACCESS_LABEL_OBJECT)) model.predefinedObjects.push_back(name);
  }
  model.defaultTardiskLabel = iface.GetDefaultTardiskLabel();
  model.defaultTardiskDomain = iface.GetDefaultTardiskDomain();
  model.launchDomains = iface.GetTardiskLaunchDomains();
  return model;
}

}  // namespace SecPolicy::Analysis
