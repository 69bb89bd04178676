// A tardisk policy file, matched to its tardisk and applied. The process runs
// in a private host root whose /tardisks is a scratch folder, so labelling
// the tardisk touches only that folder.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <list>
#include <string>

#include "fuzz/fuzz_host.h"
#include "hostsim/admin.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/tardisks/tardisk_exception_rules.h"
#include "secpolicy/tardisks/tardisk_policy.h"

using HostCtl::Lib::HostCtlException;

namespace {
const char* const kTardisk = "fuzz.tgz";
bool gHasRoot = false;
}  // namespace

// Before libFuzzer starts its threads: a mount namespace needs one thread.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Fuzz::Host& host = Fuzz::Host::Get();
  const std::string root = host.scratch() + "/root";
  mkdir(root.c_str(), 0755);
  try {
    HostSim::EnterHostRoot(root);
    host.WriteFile(std::string("root/tardisks/") + kTardisk, "tardisk");
    gHasRoot = true;
  } catch (const HostCtlException& failure) {
    std::fprintf(stderr, "tardisk_fuzzer: no host root, tardisk labels will fail: %s\n",
                 failure.what());
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fuzz::Host& host = Fuzz::Host::Get();
  host.Reset();
  const std::string path = host.WriteFile("tardisk-policy", Fuzz::AsText(data, size));
  HostSim::MapTardisk(path, kTardisk);
  if (gHasRoot) HostSim::InitFileLabel(std::string("/tardisks/") + kTardisk, false);
  HyxCtl::Security::HyxAccessInterfaceImpl iface;

  SecPolicy::TardiskPolicy policy(path);
  try {
    SecPolicy::ParseAndSetTardiskPolicy({&policy}, iface);
  } catch (const HostCtlException&) {
  }
  return 0;
}
