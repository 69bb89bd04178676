#include "secpolicy/kernelcalls/domain_calls.h"

#include <cstring>

#include "secpolicy/kernelcalls/kernel_call.h"

namespace SecPolicy {

namespace {
namespace K = KernelCall;

constexpr std::uint32_t kCreateDomain = 0x4059;
constexpr std::uint32_t kDestroyDomain = 0x405A;
constexpr std::uint32_t kRetrieveLeakedDomains = 0x4064;
constexpr std::uint32_t kGetDomainIDForWorld = 0x4065;
constexpr std::uint32_t kGetDomainNameForID = 0x4066;
constexpr std::size_t kDomainNameSize = 64;
}  // namespace

unsigned int CreateDomain(const std::string& name, HyxAccessQsi_DefaultDom defaultDom) {
  // Held for the call's length: the control library's state stays open while
  // the kernel creates the domain.
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  if (name.empty()) throw HostCtl::Lib::HostCtlException("Must specify domain name");
  unsigned int id = 0;
  K::Call(kCreateDomain, {K::String(name), K::Unsigned(defaultDom), K::Address(&id)},
          [&] { return "Failed to create domain:" + name + " :"; });
  return id;
}

void DestroyDomain(unsigned int domainId) {
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  K::Call(kDestroyDomain, {K::Unsigned(domainId), 0},
          [] { return std::string("Failed to destroy domain: "); });
}

unsigned int GetDomainIDForWorld(int worldId) {
  unsigned int id = 0;
  K::Call(kGetDomainIDForWorld, {K::World(worldId), K::Address(&id)},
          [] { return std::string("Unable to get domain ID: "); });
  return id;
}

std::string GetDomainNameForID(unsigned int domainId) {
  char name[kDomainNameSize] = {};
  K::Call(kGetDomainNameForID, {K::Unsigned(domainId), K::Address(name), kDomainNameSize},
          [] { return std::string("Unable to get domain name: "); });
  // The kernel may fill the whole buffer; never read past it.
  return std::string(name, strnlen(name, kDomainNameSize));
}

void RetrieveLeakedDomains(unsigned long count, unsigned int* second, unsigned int* third) {
  K::Call(kRetrieveLeakedDomains, {K::Address(third), K::Address(second), count},
          [] { return std::string("Failed to retrieve leaked domain list:"); });
}

void AddHvcService(unsigned int domainId, const std::string& service) {
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  if (service.empty()) throw HostCtl::Lib::HostCtlException("Must specify service string");
  iface.AddHvcService(domainId, service);
}

}  // namespace SecPolicy
