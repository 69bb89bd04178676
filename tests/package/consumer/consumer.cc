// Uses the installed headers and libraries as any host service would: the
// policy reader, then a runtime call against the simulated host named by
// HOSTSIM_STATE; built through find_package, also the admin library's walk
// progress and read-back. Prints "consumer: ok" and exits 0 when all answer
// right.
#include <secpolicy/kernelcalls/domain_calls.h>
#include <secpolicy/platform/host_ctl_exception.h>
#include <secpolicy/policytext/policy_file_reader.h>

#include <iostream>

#ifdef CONSUMER_USES_ADMIN
#include <secpolicy/admin/kernel_rules.h>
#include <secpolicy/admin/label_walk.h>
#endif

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
#ifdef CONSUMER_USES_ADMIN
    SecPolicy::Admin::ProgressCounter counter(2);
    counter.Count(1);
    HyxCtl::Security::HyxAccessInterfaceImpl iface;
    const auto domain = SecPolicy::Admin::ReadDomain(iface, id);
    if (counter.Entries() != 1 || SecPolicy::Admin::JobCount(3) != 3 || !domain ||
        domain->name != "consumerDom") {
      std::cerr << "consumer: the admin library answers wrong\n";
      return 1;
    }
#endif
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    std::cerr << "consumer: " << failure.what() << "\n";
    return 1;
  }
  std::cout << "consumer: ok\n";
  return 0;
}
