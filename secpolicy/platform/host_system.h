// Logging functions of the host's control library.
#pragma once

#include <string>

namespace HyxCtl::System {

// True when a system logger accepts messages right now. Asked at every call;
// the answer is never cached by callers.
bool SyslogIsRunning();

// Best-effort write of one tagged line to the kernel log. Never throws.
void WriteToKlog(const std::string& message, const std::string& tag);

}  // namespace HyxCtl::System
