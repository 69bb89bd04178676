// Uses the installed headers and libraries as any host service would: the
// policy reader, then a runtime call against the simulated host named by
// HOSTSIM_STATE. Prints "consumer: ok" and exits 0 when both answer right.
#include <secpolicy/kernelcalls/domain_calls.h>
#include <secpolicy/platform/host_ctl_exception.h>
#include <secpolicy/policytext/policy_file_reader.h>

#include <iostream>

int main() {
  SecPolicy::TokenQueue tokens = SecPolicy::StringToQueue("  grant  /bin rx ");
  if (tokens.size() != 3 || tokens.front() != "grant") {
    std::cerr << "consumer: StringToQueue gave " << tokens.size() << " tokens\n";
    return 1;
  }
  try {
    const unsigned int id = SecPolicy::CreateDomain("consumerDom", HYXACCESS_QSI_DEFDOM_NONE);
    const std::string name = SecPolicy::GetDomainNameForID(id);
    if (name != "consumerDom") {
      std::cerr << "consumer: domain " << id << " is named " << name << "\n";
      return 1;
    }
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    std::cerr << "consumer: " << failure.what() << "\n";
    return 1;
  }
  std::cout << "consumer: ok\n";
  return 0;
}
