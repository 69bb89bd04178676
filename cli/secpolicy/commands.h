// The subcommands of the secpolicy tool, one group per file.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace SecPolicyCli {

// Runs one operation of the library. Returns 0; 1 after reporting a
// HostCtlException through Report; 75 (EX_TEMPFAIL) for a
// SecPolicyRetryException, reported alike.
int Run(const std::function<void()>& operation);

// Reports a failure's text, escaped, through the library's error sink, unless the
// library has just reported that very text before throwing it.
void Report(const std::string& text);

// Each adds its subcommands to `app`; a subcommand stores its exit status in
// `status`.
void AddRuntimeCommands(CLI::App& app, int& status);  // domain, file-policy, cap, param-check
void AddDomainCommands(CLI::App& app, int& status);   // load-domains, display-domains, restore-enforcement
void AddLabelCommands(CLI::App& app, int& status);    // load-objects, load-file-labels, display-objects, label
void AddLabelCheckCommands(CLI::App& label, int& status);  // label verify, label match
void AddLoadCommands(CLI::App& app, int& status);     // load, load-early, load-tardisks, display
void AddCheckCommands(CLI::App& app, int& status);    // check, diff
void AddLookupCommands(CLI::App& app, int& status);   // domain list, domain id (after AddRuntimeCommands)
void AddQueryCommands(CLI::App& app, int& status);    // query
void AddGraphCommands(CLI::App& app, int& status);    // graph

}  // namespace SecPolicyCli
