#include "secpolicy/tardisks/tardisk_exception_rules.h"

#include <vector>

#include "secpolicy/labels/file_labels.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/error_texts.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

using HostCtl::Lib::HostCtlException;

namespace {

const char kUnlabeled[] = "unlabeled";

}  // namespace

void ThrowTardiskLabelError(unsigned int line, const std::string& tardiskPath,
                            const std::string& policyFile, const std::string& cause) {
  throw HostCtlException(policyFile + ":" + std::to_string(line) + " : Tardisk: " + tardiskPath +
                         " : " + cause);
}

void TardiskExceptionRules::AddRule(unsigned int line, const std::string& tardiskPath,
                                    const std::string& policyFile, TokenQueue tokens,
                                    HyxAccessInterfaceImpl& iface) {
  if (!rules.empty()) throw HostCtlException("Only one rule of this type is allowed");
  try {
    if (tokens.size() != 2) RuleSizeError();
    HyxAccess_TardiskExceptionRule rule;
    rule.lineNumber = line;
    rule.tardiskPath = tardiskPath;
    rule.policyFile = policyFile;
    rule.label = tokens.front();
    tokens.pop();
    rule.domainName = tokens.front();
    std::uint32_t id = 0;
    if (!iface.FindDomain(rule.domainName, &id)) {
      throw HostCtlException("Failed to fetch domain id for " + rule.domainName);
    }
    rule.domainId = id;
    tokens.pop();
    rules.push_back(rule);
  } catch (const HostCtlException& failure) {
    ThrowParsePolicyError(line, policyFile, failure.what());
  }
}

void TardiskExceptionRules::Set(HyxAccessInterfaceImpl& iface) {
  // Every label goes on before any transition that refers to it.
  for (const auto& rule : rules) {
    try {
      SetFileLabel(rule.tardiskPath, rule.label, iface);
    } catch (const HostCtlException& failure) {
      ThrowTardiskLabelError(rule.lineNumber, rule.tardiskPath, rule.policyFile, failure.what());
    }
  }
  for (const auto& rule : rules) {
    if (rule.label == kUnlabeled) continue;
    HyxAccess_DomTransRule transition;
    transition.lineNumber = rule.lineNumber;
    transition.objectName = rule.label;
    transition.targetDomainName = rule.domainName;
    transition.targetDomainId = rule.domainId;
    transition.grant = true;
    const std::vector<std::string> launchDomains = iface.GetTardiskLaunchDomains();
    try {
      for (const auto& launchDomain : launchDomains) {
        transition.domainName = launchDomain;
        transition.event = iface.GetTardiskExecEventKeyword();
        std::uint32_t id = 0;
        if (!iface.FindDomain(launchDomain, &id)) {
          throw HostCtlException("Failed to fetch domain id for " + launchDomain);
        }
        transition.domainId = id;
        // A domain already running the tardisk's programs needs no passage.
        if (id != rule.domainId) iface.SetDomTransRule(transition);
      }
    } catch (const HostCtlException& failure) {
      ThrowTardiskLabelError(rule.lineNumber, rule.tardiskPath, rule.policyFile, failure.what());
    }
  }
}

void ParseAndSetTardiskPolicy(std::list<TardiskPolicy*> policies, HyxAccessInterfaceImpl& iface) {
  bool parseFailed = false;
  for (TardiskPolicy* policy : policies) {
    try {
      policy->ParsePolicy(iface);
    } catch (const HostCtlException& failure) {
      SecpolicyError(failure.what());
      parseFailed = true;
    }
  }
  if (parseFailed) {
    SecpolicyError("Error in parsing some tardisk policy files");
  } else {
    SecpolicyInfo("Parsed all the tardisk policy files");
  }

  bool setFailed = false;
  for (TardiskPolicy* policy : policies) {
    try {
      policy->SetPolicy(iface);
    } catch (const HostCtlException& failure) {
      SecpolicyError(failure.what());
      setFailed = true;
    }
  }
  if (setFailed) {
    SecpolicyError("Error in setting some tardisk labels and policy");
  } else {
    SecpolicyInfo("Set all the tardisk labels and policy");
  }
  if (parseFailed || setFailed) {
    throw HostCtlException("Failure in setting specified tardisk policy");
  }
}

}  // namespace SecPolicy
