// The host profile: what a simulated host offers (domain slots, keyword
// catalogues, predefined objects, tardisk defaults). A profile is JSON; the
// built-in one is profiles/default.json. The state keeps the profile's text,
// so every process that opens the state sees the same host.
//
// Keys (all required):
//   maxDomains          number of domain id slots (3..65536; slots 0 and 1
//                       are never handed out, see state.h)
//   predefinedObjects   object labels defined at Init and never removed
//   privilegedVms       names for which IsPrivilegedVm is true
//   initialFileLabel    a predefined object; what InitFileLabel writes
//   enforcementLevels   levels EnableDomain accepts; the first is the level
//                       of a new domain
//   keywords            capabilities (at most 19), paramChecks (at most 10,
//                       each {"name", "args"}), objectAccess, events,
//                       fileCreation, unixSocket, syscalls
//   tardisks            defaultLabel (a predefined object), defaultDomain,
//                       launchDomains, execEvent (one of the events)
// The position of a keyword in its list is its kernel id.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace HostSim {

extern const std::string_view kDefaultProfile;

struct ParamCheckSpec {
  std::string name;
  std::vector<std::string> args;
};

struct Profile {
  std::uint32_t maxDomains = 0;
  std::vector<std::string> predefinedObjects;
  std::vector<std::string> privilegedVms;
  std::string initialFileLabel;
  std::vector<std::string> enforcementLevels;
  std::vector<std::string> capabilities;
  std::vector<ParamCheckSpec> paramChecks;
  std::vector<std::string> objectAccess;
  std::vector<std::string> events;
  std::vector<std::string> fileCreation;
  std::vector<std::string> unixSocket;
  std::vector<std::string> syscalls;
  std::string tardiskDefaultLabel;
  std::string tardiskDefaultDomain;
  std::vector<std::string> tardiskLaunchDomains;
  std::string tardiskExecEvent;
};

// Parses and checks a profile. `origin` names it in messages. Throws
// HostCtlException "Bad host profile <origin>: <what is wrong>".
Profile ParseProfile(std::string_view text, const std::string& origin);

}  // namespace HostSim
