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

// Runs `body` inside the tool's handler and returns the exit status: the
// body's, or 1 when an exception reached the top (out of memory included,
// even while the command line is being built) or standard output could not
// be written. `reportError` prints the text of such an exception ("Error: "
// + text on standard error when null). Standard output is guarded for the
// whole run (TerminalGuard). Plain functions, so that nothing is allocated
// before the handler is in place.
int ToolMain(int argc, char** argv, int (*body)(int argc, char** argv),
             void (*reportError)(const std::string& text) = nullptr);

// For a body: parses the command line with `app` (whose callbacks may do
// the work) and then calls `run`, which returns the exit status. Exit
// status: `run`'s, 0 after --help or --version, 2 for a usage error.
int ParseAndRun(CLI::App& app, int argc, char** argv, const std::function<int()>& run);

}  // namespace CliCommon
