// A domain policy file through the whole of DomainPolicy, the way the domain
// loader drives it: parse, check, write, read back and print.
#include <cstddef>
#include <cstdint>
#include <string>

#include "secpolicy/domains/domain_policy.h"
#include "fuzz/fuzz_host.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/hyx_access.h"

using HostCtl::Lib::HostCtlException;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fuzz::Host& host = Fuzz::Host::Get();
  host.Reset();
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  std::uint32_t id = 0;
  if (!iface.FindDomain("mgmtd", &id)) return 0;

  SecPolicy::DomainPolicy policy("mgmtd", id);
  policy.policyFilePath = host.WriteFile("mgmtd", Fuzz::AsText(data, size));
  try {
    policy.ParsePolicy(iface);
  } catch (const HostCtlException&) {
    // Rules of the lines before the bad one stay and are still written.
  }
  try {
    policy.CheckPolicyConstraints(iface);
  } catch (const HostCtlException&) {
    policy.hasErrors = true;
  }
  try {
    policy.SetPolicy(iface);
  } catch (const HostCtlException&) {
  }
  try {
    policy.ReadSystemPolicy(iface);
    policy.PrintPolicy();
  } catch (const HostCtlException&) {
  }
  return 0;
}
