#include "secpolicy/policytext/messages.h"

#include <syslog.h>

#include <algorithm>
#include <iostream>

#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/host_system.h"
#include "secpolicy/policytext/error_texts.h"

namespace SecPolicy {

void SecpolicyInfo(const std::string& text) {
  if (HyxCtl::System::SyslogIsRunning()) {
    syslog(LOG_INFO, "%s", text.c_str());
  } else {
    HyxCtl::System::WriteToKlog(text, "[INFO]");
  }
}

void SecpolicyError(const std::string& text) {
  std::cerr << "Error: " << text << std::endl;
  if (HyxCtl::System::SyslogIsRunning()) {
    syslog(LOG_ERR, "Error: %s", text.c_str());
  } else {
    HyxCtl::System::WriteToKlog(text, "[ERR]");
  }
}

void DisplayHeader(const std::string& title, const std::string& subtitle) {
  const std::string rule(std::max(title.size(), subtitle.size()), '-');
  std::cout << std::endl << std::endl << rule << std::endl << title << std::endl;
  if (!subtitle.empty()) std::cout << subtitle << std::endl;
  std::cout << rule << std::endl;
}

void RuleSizeError() {
  throw HostCtl::Lib::HostCtlException("incorrect number of arguments for this rule type");
}

void ThrowParsePolicyError(unsigned int line, const std::string& domain,
                           const std::string& cause) {
  throw HostCtl::Lib::HostCtlException("Error in parsing policy for domain: " + domain + ": " +
                                       std::to_string(line) + " : " + cause);
}

void ThrowSetPolicyError(unsigned int line, const std::string& domain, const std::string& cause) {
  throw HostCtl::Lib::HostCtlException("Error in setting policy for domain: " + domain + ": " +
                                       std::to_string(line) + " : " + cause);
}

void ReportLabelSetError(unsigned int number, const std::string& where, const std::string& cause) {
  SecpolicyError(where + ":" + std::to_string(number) + " : " + cause);
}

}  // namespace SecPolicy
