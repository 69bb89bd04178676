// Operations on the simulated kernel's tables that both the control library
// and the numbered kernel calls perform. They run inside the caller's
// transaction and journal nothing: the caller journals under its own name.
//
// Decisions:
// - A domain's name is 1 to 63 bytes (it must fit the 64-byte buffer of
//   GetDomainNameForID with its NUL).
// - Domain and object names hold no control characters (C0, DEL, and the C1
//   controls U+0080 to U+009F written in UTF-8, C2 80 to C2 9F), as a real
//   kernel validates the names it is given: names reach terminals and
//   line-based logs. Any other byte, UTF-8 or not, is accepted. The refusal
//   is EINVAL, so a numbered kernel call fails with "Invalid argument" and
//   the control library throws the text (which does not repeat the name).
// - A new domain takes the lowest free slot from 2 upward (the search
//   starts at a bound kept in meta "free_slot", below which every slot is
//   taken, so creating domains one after another costs the same each), gets the first
//   enforcement level of the profile and state 0; EnableDomain sets state 1.
//   refCount is always 1 (the kernel's own reference); worldRefCount counts
//   the worlds that run in the domain.
// - Destroying a domain drops its rules, file policies, capability and
//   parameter-check rules, services, special-domain roles and invalid mark.
//   When worlds still run in it, it is leaked: listed by
//   RetrieveLeakedDomains, its slot kept.
// - A file policy's key is (domain, world, path): adding the same path
//   again for the same world replaces its mask and keeps its place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "hostsim/state.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace HostSim::Kernel {

// A refusal by the simulated kernel: a control-library caller sees the
// text, a numbered kernel call the error number.
class Refusal : public HostCtl::Lib::HostCtlException {
 public:
  Refusal(int errnum, const std::string& text) : HostCtlException(text), errnum_(errnum) {}
  int errnum() const { return errnum_; }

 private:
  int errnum_;
};

std::optional<std::uint32_t> FindDomainId(State::Txn& txn, const std::string& name);
std::optional<std::string> FindDomainName(State::Txn& txn, std::uint32_t id);
// The domain's name; Refusal ENOENT "No domain with id <id>" when there is none.
std::string RequireDomain(State::Txn& txn, std::uint32_t id);

// Refusal EINVAL "<Kind> name holds control character U+001B at byte
// offset 3" (kind "Domain" or "Object"; the offset counts from 0).
void CheckName(const char* kind, const std::string& name);

// Refusals: EINVAL for a bad name or kind, EEXIST for a duplicate name,
// ENOSPC when every slot is taken.
std::uint32_t CreateDomain(State::Txn& txn, const std::string& name, std::uint32_t defaultDom);
void DestroyDomain(State::Txn& txn, std::uint32_t id);

// The number of the domain's file policies, all worlds together (kept by
// triggers of the state, so it costs one lookup).
std::uint32_t FilePolicyCount(State::Txn& txn, std::uint32_t domainId);

// Upserts one file policy (key above).
void PutFilePolicy(State::Txn& txn, std::uint32_t domainId, std::int64_t world,
                   const std::string& path, std::uint32_t mask);

// "r", "w", "x" for the bits 0x1, 0x2, 0x10, in that order.
std::string MaskLetters(std::uint32_t mask);
std::string Hex(std::uint32_t value);

}  // namespace HostSim::Kernel
