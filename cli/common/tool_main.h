// What both tools do around their commands, so that neither hides a failure:
// --version, a clear message for an unknown command, one "Error:" line for
// any standard exception that reaches the top (out of memory included), and
// a check that standard output received everything that was written to it.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace CliCommon {

// The project's version, as CMake's project() states it.
const char* Version();

// Parses the command line with `app` (whose callbacks may do the work) and
// then calls `run`, which returns the exit status. Exit status: `run`'s, 0
// after --help or --version, 2 for a usage error, 1 when an exception
// reached the top or standard output could not be written. `reportError`
// prints the text of an exception ("Error: " + text on standard error when
// empty).
int ToolMain(CLI::App& app, int argc, char** argv, const std::function<int()>& run,
             const std::function<void(const std::string&)>& reportError = {});

}  // namespace CliCommon
