#include "secpolicy/policytext/retry_exception.h"

namespace SecPolicy {

SecPolicyRetryException::SecPolicyRetryException(const std::string& message)
    : HostCtlException(message) {}

SecPolicyRetryException::SecPolicyRetryException(const std::string& message,
                                                 const HostCtl::Lib::EvtMessage& event)
    : HostCtlException(message, event) {}

SecPolicyRetryException::~SecPolicyRetryException() = default;

}  // namespace SecPolicy
