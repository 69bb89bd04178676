#include "fuzz/fuzz_host.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "hostsim/admin.h"
#include "secpolicy/platform/hyx_access.h"

namespace Fuzz {

namespace fs = std::filesystem;

Host::Host() {
  // tmpfs keeps the state's fsyncs cheap; fall back to /tmp without it.
  const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
  std::string pattern = (base / "secpolicy-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  scratch_ = pattern;
  setenv("HOSTSIM_STATE", (scratch_ + "/state.db").c_str(), 1);
  setenv("HOSTSIM_SYSLOG", "down", 1);
  HostSim::SetSyslogRunning(false);

  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devnull < 0 || dup2(devnull, STDOUT_FILENO) < 0) throw std::runtime_error("no /dev/null");
  close(devnull);
}

// Runs when the process ends normally; after a crash the folder stays
// behind for a look.
Host::~Host() {
  std::error_code ignored;
  fs::remove_all(scratch_, ignored);
}

Host& Host::Get() {
  static Host host;
  return host;
}

void Host::Reset() {
  HostSim::Init();
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  for (const char* domain : kDomains) iface.CreateDomain(domain, HYXACCESS_QSI_DEFDOM_NONE);
  iface.AddLabels({std::begin(kObjects), std::end(kObjects)}, HYXACCESS_LABEL_OBJECT);
}

std::string Host::WriteFile(const std::string& name, std::string_view data) const {
  const std::string path = scratch_ + "/" + name;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(data.data(), static_cast<std::streamsize>(data.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path);
  return path;
}

}  // namespace Fuzz
