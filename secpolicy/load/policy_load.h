// Entry points that apply or display the whole policy. Each owns one kernel
// handle for the length of the call; making it is outside every handler, so
// its failure passes out.
//
// A full load runs its phases in a fixed order, each under its own handler
// so that a failing phase does not stop the later ones, and ends with one
// result. The exception is the special domains: when one of "globalVMDom",
// "ioFilterDom", "appDom" or "daemonFrameworkDom" does not exist, the load
// reports "Failed to fetch domainID for ..." and throws a HostCtlException
// with that same text at once. The tardisk and file-label phases are not
// run then (the tardisk defaults need the "appDom" id), and no closing
// message is written.
#pragma once

#include <string>

namespace SecPolicy {

// Objects and file labels from DefaultPolicyDir, domains from `dir`. The
// first failure ends the sequence and is reported; nothing is thrown.
void LoadPolicyEarly(const std::string& dir);

// Objects, check-access template domain, domains, plug-in domains, special
// domains, tardisks (always DefaultPolicyDir's), file labels. Throws
// "There were some problems encountered in setting the policy" when any
// phase failed.
void LoadPolicy(const std::string& dir);

// Domains (all, or the one whose id `domain` holds in decimal), objects,
// tardisk labels. The first failure passes out.
void DisplayPolicy(const std::string& domain);

}  // namespace SecPolicy
