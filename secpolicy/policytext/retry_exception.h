// The failure that tells a caller to repeat the operation.
#pragma once

#include <string>

#include "secpolicy/platform/host_ctl_exception.h"

namespace SecPolicy {

class SecPolicyRetryException : public HostCtl::Lib::HostCtlException {
 public:
  explicit SecPolicyRetryException(const std::string& message);
  SecPolicyRetryException(const std::string& message, const HostCtl::Lib::EvtMessage& event);
  SecPolicyRetryException(const SecPolicyRetryException&) = default;
  ~SecPolicyRetryException() override;
};

}  // namespace SecPolicy
