// Error texts that tie a failure to a domain (or file) and a policy line.
// Internal to the library.
#pragma once

#include <string>

#include "secpolicy/policytext/visibility.h"

namespace SecPolicy {

// "Error in parsing policy for domain: " + domain + ": " + line + " : " + cause
[[noreturn]] SECPOLICY_INTERNAL void ThrowParsePolicyError(unsigned int line,
                                                           const std::string& domain,
                                                           const std::string& cause);

// "Error in setting policy for domain: " + domain + ": " + line + " : " + cause
[[noreturn]] SECPOLICY_INTERNAL void ThrowSetPolicyError(unsigned int line,
                                                         const std::string& domain,
                                                         const std::string& cause);

// Reports where + ":" + number + " : " + cause as an error; returns.
SECPOLICY_INTERNAL void ReportLabelSetError(unsigned int number, const std::string& where,
                                            const std::string& cause);

}  // namespace SecPolicy
