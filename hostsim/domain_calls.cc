// The simulated kernel's domain and world calls.
//
// Decisions:
// - 16473 CreateDomain(name, defaultDom, out id).
// - 16474 DestroyDomain(id, 0): ENOENT for an unknown id.
// - 16484 RetrieveLeakedDomains(ids, countOut, capacity): writes up to
//   `capacity` leaked domain ids (ascending) into the uint32_t array `ids`
//   and the number written into *countOut.
// - 16485 GetDomainIDForWorld(world, out): ESRCH for an unknown world.
// - 16486 GetDomainNameForID(id, buf, size): the name, NUL-terminated,
//   truncated to size - 1 bytes.
// Journal lines: "CreateDomain <id> <name> <defaultDom>", "DestroyDomain
// <id> <name>".
#include "hostsim/kernel_call_args.h"

#include <algorithm>

namespace HostSim::Calls {

using State::Txn;

// Domain and world calls: create, destroy, leaked domains, lookups.
CallResult DomainCall(Txn& txn, std::uint32_t number, const Args& a) {
  switch (number) {
    case kCreateDomain: {
      const std::string name = StringAt(a[0]);
      auto* out = At<std::uint32_t>(a[2]);
      const std::uint32_t id = Kernel::CreateDomain(txn, name, U32(a[1]));
      txn.Journal("CreateDomain " + Num(id) + " " + name + " " + Num(U32(a[1])));
      *out = id;
      break;
    }
    case kDestroyDomain: {
      const std::string name = Kernel::RequireDomain(txn, U32(a[0]));
      Kernel::DestroyDomain(txn, U32(a[0]));
      txn.Journal("DestroyDomain " + Num(U32(a[0])) + " " + name);
      break;
    }
    case kRetrieveLeakedDomains: {
      auto* written = At<std::uint32_t>(a[1]);
      std::uint32_t* ids = a[2] == 0 ? nullptr : At<std::uint32_t>(a[0]);
      std::uint32_t count = 0;
      State::Stmt s = txn.Query("SELECT domain_id FROM leaked ORDER BY domain_id");
      while (count < a[2] && s.Step()) ids[count++] = s.U32(0);
      *written = count;
      break;
    }
    case kGetDomainIDForWorld: {
      auto* out = At<std::uint32_t>(a[1]);
      State::Stmt s = txn.Query("SELECT domain_id FROM worlds WHERE world=?", World(a[0]));
      if (!s.Step()) throw Refusal(ESRCH, "no such world");
      *out = s.U32(0);
      break;
    }
    case kGetDomainNameForID: {
      const std::string name = Kernel::RequireDomain(txn, U32(a[0]));
      const std::uint64_t size = a[2];
      if (size == 0) throw Refusal(EINVAL, "empty buffer");
      char* buffer = At<char>(a[1]);
      const std::size_t length = std::min<std::uint64_t>(name.size(), size - 1);
      std::memcpy(buffer, name.data(), length);
      buffer[length] = '\0';
      break;
    }
    default:
      return Fail(ENOSYS);
  }
  return {0, 0};
}

}  // namespace HostSim::Calls
