// Shared by the runtime calls' commands: their arguments and how they are
// read. Numbers are parsed strictly (decimal, or hex with 0x); a malformed
// or out-of-range number is a usage error.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace SecPolicyCli {

// Permissions: letters from r, w, x (each at most once), or a number.
std::optional<std::uint32_t> ParsePermissions(const std::string& text);

// Validators, made on first use, not before main: their allocations must
// fail inside the tool's handler.
const CLI::Validator& Unsigned();
const CLI::Validator& World();
const CLI::Validator& Flag();
const CLI::Validator& Permissions();

// The values of arguments those validators accepted.
std::uint32_t U32(const std::string& text);
int WorldId(const std::string& text);
char FlagByte(const std::string& text);

// A required positional argument, passed on as given (empty strings
// included) so that the library's own checks answer.
CLI::Option* Arg(CLI::App* command, const char* name, std::string& target, const char* help);

// Strings shared between a command's parse and its callback; they outlive
// CLI::App because the commands are added once per process.
struct Args {
  std::string name, defaultDom = "0", domain, world, service, path, perms, oldPath, newPath;
  std::string capability, check, flag, retries, size;
  std::vector<std::string> rules;
  std::string modeWords[3];
  CLI::Option* setWords[3] = {};
  CLI::Option* removeWords[2] = {};
  bool nullMode = false;
};

void AddDomainGroup(CLI::App& app, int& status, Args& a);       // domain
void AddFilePolicyGroup(CLI::App& app, int& status, Args& a);   // file-policy
void AddCapabilityGroups(CLI::App& app, int& status, Args& a);  // cap, param-check

}  // namespace SecPolicyCli
