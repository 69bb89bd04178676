// The tardisk step of a policy load, the default policy for tardisks that
// ship no policy file of their own, and the display of tardisk labels.
#pragma once

#include <list>
#include <string>

#include "secpolicy/platform/hyx_access.h"

namespace SecPolicy {

using HyxCtl::Security::HyxAccessInterfaceImpl;

// Writes, for each launch domain other than the default tardisk domain, a
// transition into that domain on executing a file with the default label,
// then puts the default label on every listed tardisk. All rules are
// written before any label. An unknown launch domain ends the call at once;
// other failures are reported and end it with "Failure in setting default
// tardisk policy".
void SetDefaultTardiskPolicy(std::list<std::string>& tardisks, HyxAccessInterfaceImpl& iface);

// Pairs the policy files of `dir` with their tardisks, applies them, and
// gives the default policy to every other tardisk, also after a failure.
// Throws "Failure in setting tardisk policy" when either part failed; a
// failure to list the tardisks passes out before anything is applied.
void LoadPolicyTardisks(const std::string& dir, HyxAccessInterfaceImpl& iface);

// "path (label)" per tardisk, in directory order. A label that cannot be
// read is reported and its line left unfinished.
void DisplayPolicyTardiskLabels(HyxAccessInterfaceImpl& iface);

}  // namespace SecPolicy
