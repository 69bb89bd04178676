#include "secpolicy/platform/host_ctl_exception.h"

namespace HostCtl::Lib {

namespace {
const std::string kNoText;
}

EvtMessage::EvtMessage(std::string text)
    : payload_(std::make_shared<const std::string>(std::move(text))) {}

const std::string& EvtMessage::text() const { return payload_ ? *payload_ : kNoText; }

HostCtlException::HostCtlException(const std::string& message) : message_(message) {}

HostCtlException::HostCtlException(const char* message) : message_(message) {}

HostCtlException::HostCtlException(const std::string& message, const EvtMessage& event)
    : message_(message), event_(event) {}

HostCtlException::~HostCtlException() = default;

const char* HostCtlException::what() const noexcept { return message_.c_str(); }

}  // namespace HostCtl::Lib
