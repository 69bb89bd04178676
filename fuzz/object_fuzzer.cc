// An object file: its names, then the reconciliation of the kernel's object
// labels with them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_host.h"
#include "secpolicy/labels/object_policy.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/hyx_access.h"

using HostCtl::Lib::HostCtlException;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fuzz::Host& host = Fuzz::Host::Get();
  host.Reset();
  HyxCtl::Security::HyxAccessInterfaceImpl iface;

  SecPolicy::ObjectPolicy policy;
  try {
    policy.ParsePolicy(host.WriteFile("objects", Fuzz::AsText(data, size)));
  } catch (const HostCtlException&) {
    // The names of the lines before the bad one are still reconciled.
  }
  try {
    policy.SetObjects(iface);
  } catch (const HostCtlException&) {
  }
  return 0;
}
