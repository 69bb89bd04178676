// A view of the lines the library logs, for the tools. The library sends an
// informational line to syslog or, while no logger runs, to the kernel log;
// an error line to standard error and to one of the two as well. The tap
// sees both routes and changes neither.
#pragma once

#include <string>

namespace CliCommon {

// Starts watching; from then on LastLoggedError() is kept up to date.
void TapLibraryLog();

// With `on`, every informational line is also written to standard error,
// so an interactive run says what it did.
void MirrorInfoLines(bool on);

// The text of the last error line logged (without "Error: "), empty if none.
std::string LastLoggedError();

}  // namespace CliCommon
