// The runtime calls: domain, file-policy, cap and param-check.
//
// Arguments are passed on as given, empty strings included, so that the
// library's own checks answer. Names and paths are printed escaped: a path
// may hold any byte. Numbers are parsed strictly (decimal, or hex
// with 0x); a malformed or out-of-range number is a usage error.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/numbers.h"
#include "cli/common/terminal_text.h"
#include "cli/secpolicy/commands.h"
#include "secpolicy/kernelcalls/capability_calls.h"
#include "secpolicy/kernelcalls/domain_calls.h"
#include "secpolicy/kernelcalls/file_policy_calls.h"
#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/policytext/retry_exception.h"

namespace SecPolicyCli {

namespace {

// A domain can change between counting its rules and reading them; the
// kernel then asks for a retry, and the count is taken again.
constexpr int kDefaultListRetries = 4;

constexpr std::uint32_t kRead = 0x1;
constexpr std::uint32_t kWrite = 0x2;
constexpr std::uint32_t kExecute = 0x10;

using CliCommon::kUint32Max;
using CliCommon::ParseInRange;
constexpr std::int64_t kIntMin = std::numeric_limits<int>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();

// Permissions: letters from r, w, x (each at most once), or a number.
std::optional<std::uint32_t> ParsePermissions(const std::string& text) {
  if (const auto number = ParseInRange(text, 0, kUint32Max)) {
    return static_cast<std::uint32_t>(*number);
  }
  if (text.empty()) return std::nullopt;
  std::uint32_t mask = 0;
  for (const char letter : text) {
    const std::uint32_t bit = letter == 'r'   ? kRead
                              : letter == 'w' ? kWrite
                              : letter == 'x' ? kExecute
                                              : 0;
    if (bit == 0 || (mask & bit) != 0) return std::nullopt;
    mask |= bit;
  }
  return mask;
}

// Made on first use, not before main: their allocations must fail inside
// the tool's handler.
const CLI::Validator& Unsigned() {
  static const CLI::Validator check = CliCommon::Number("an unsigned 32-bit number", 0, kUint32Max);
  return check;
}
const CLI::Validator& World() {
  static const CLI::Validator check = CliCommon::Number("a world id", kIntMin, kIntMax);
  return check;
}
const CLI::Validator& Flag() {
  static const CLI::Validator check = CliCommon::Number("a flag byte", 0, 255);
  return check;
}
const CLI::Validator& Permissions() {
  static const CLI::Validator check(
      [](std::string& text) -> std::string {
        if (ParsePermissions(text)) return {};
        return "not a permission set (letters from r, w, x, or a number): \"" + text + "\"";
      },
      "", "permissions");
  return check;
}

std::uint32_t U32(const std::string& text) {
  return static_cast<std::uint32_t>(*ParseInRange(text, 0, kUint32Max));
}
int WorldId(const std::string& text) {
  return static_cast<int>(*ParseInRange(text, kIntMin, kIntMax));
}
char FlagByte(const std::string& text) {
  return static_cast<char>(static_cast<unsigned char>(*ParseInRange(text, 0, 255)));
}

CLI::Option* Arg(CLI::App* command, const char* name, std::string& target, const char* help) {
  return command->add_option(name, target, help)->required()->type_name("");
}

HyxAccess_FileRule FileRule(const std::string& path, std::uint32_t mask) {
  if (path.size() >= kFileRulePathSize) {
    throw CLI::ValidationError(
        "PATH", "longer than " + std::to_string(kFileRulePathSize - 1) + " characters: " + path);
  }
  HyxAccess_FileRule rule{};
  std::memcpy(rule.path, path.c_str(), path.size() + 1);
  rule.permissions = mask;
  return rule;
}

std::string PathOf(const HyxAccess_FileRule& rule) {
  return std::string(rule.path, strnlen(rule.path, kFileRulePathSize));
}

// An array of `size` records, or as many as the domain holds when `size` is
// not given; a retry the kernel asks for is made up to `retries` times.
std::vector<HyxAccess_FileRule> ReadFilePolicies(std::uint32_t domainId,
                                                 std::optional<std::uint32_t> size, int retries) {
  for (int retry = 0;; ++retry) {
    std::vector<HyxAccess_FileRule> rules(size ? *size
                                               : SecPolicy::RetrieveNumberOfFilePolicies(domainId));
    try {
      SecPolicy::RetrieveFilePolicies(domainId, rules.data(),
                                      static_cast<unsigned int>(rules.size()));
      // Records the kernel did not fill keep their empty path; no policy has one.
      std::erase_if(rules, [](const HyxAccess_FileRule& rule) { return rule.path[0] == '\0'; });
      return rules;
    } catch (const SecPolicy::SecPolicyRetryException&) {
      if (retry == retries) throw;
    }
  }
}

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

void AddDomainGroup(CLI::App& app, int& status, Args& a) {
  CLI::App* domain = app.add_subcommand("domain", "Create, destroy and look up security domains.");
  domain->require_subcommand(1);

  CLI::App* create = domain->add_subcommand("create", "Create a domain; prints its id.");
  Arg(create, "NAME", a.name, "Name of the new domain");
  create
      ->add_option("DEFAULTDOM", a.defaultDom,
                   "Default-domain kind: 0 none, 1 VM, 2 app, 3 check-access (default 0)")
      ->type_name("")
      ->check(Unsigned());
  create->callback([&] {
    status = Run([&] {
      std::cout << SecPolicy::CreateDomain(a.name, HyxAccessQsi_DefaultDom{U32(a.defaultDom)})
                << std::endl;
    });
  });

  CLI::App* destroy = domain->add_subcommand("destroy", "Destroy a domain.");
  Arg(destroy, "ID", a.domain, "Domain id")->check(Unsigned());
  destroy->callback([&] { status = Run([&] { SecPolicy::DestroyDomain(U32(a.domain)); }); });

  CLI::App* ofWorld =
      domain->add_subcommand("of-world", "Print the id of the domain a world runs in.");
  Arg(ofWorld, "WORLD", a.world, "World id (signed)")->check(World());
  ofWorld->callback([&] {
    status =
        Run([&] { std::cout << SecPolicy::GetDomainIDForWorld(WorldId(a.world)) << std::endl; });
  });

  CLI::App* name = domain->add_subcommand("name", "Print the name of a domain.");
  Arg(name, "ID", a.domain, "Domain id")->check(Unsigned());
  name->callback([&] {
    status = Run([&] {
      std::cout << CliCommon::EscapeControls(SecPolicy::GetDomainNameForID(U32(a.domain))) << std::endl;
    });
  });

  CLI::App* leaked = domain->add_subcommand(
      "leaked",
      "Print the ids of leaked domains (destroyed while worlds still ran in them), "
      "one per line.");
  leaked->callback([&] {
    status = Run([&] {
      // No more domains can leak than there are id slots.
      const std::uint32_t capacity = HyxCtl::Security::HyxAccessInterfaceImpl().GetMaxDomains();
      std::vector<unsigned int> ids(capacity);
      unsigned int found = 0;
      SecPolicy::RetrieveLeakedDomains(capacity, &found, ids.data());
      ids.resize(std::min(found, capacity));
      for (const unsigned int id : ids) std::cout << id << '\n';
      std::cout.flush();
    });
  });

  CLI::App* hvc =
      domain->add_subcommand("add-hvc", "Register a guest-communication service for a domain.");
  Arg(hvc, "ID", a.domain, "Domain id")->check(Unsigned());
  Arg(hvc, "SERVICE", a.service, "Service name");
  hvc->callback([&] { status = Run([&] { SecPolicy::AddHvcService(U32(a.domain), a.service); }); });
}

void AddFilePolicyGroup(CLI::App& app, int& status, Args& a) {
  CLI::App* group = app.add_subcommand(
      "file-policy",
      "Manage a domain's file policies. PERMS is letters from r (0x1), w (0x2), x (0x10), or "
      "a number such as 0x13.");
  group->require_subcommand(1);

  CLI::App* add = group->add_subcommand(
      "add",
      "Add file policies for a world in a domain; prints the number the kernel returns "
      "(the domain's file policies).");
  Arg(add, "WORLD", a.world, "World id (signed; 0 for the domain's own rules)")->check(World());
  Arg(add, "DOMAIN", a.domain, "Domain id")->check(Unsigned());
  add->add_option("RULES", a.rules,
                  "PATH PERMS [PATH PERMS]...: paths and their permissions (none: an empty batch)")
      ->type_name("")
      ->expected(2, -1);
  add->callback([&] {
    if (a.rules.size() % 2 != 0) throw CLI::ValidationError("RULES", "a PATH without PERMS");
    std::vector<HyxAccess_FileRule> records;
    for (std::size_t i = 0; i < a.rules.size(); i += 2) {
      const auto mask = ParsePermissions(a.rules[i + 1]);
      if (!mask) throw CLI::ValidationError("PERMS", Permissions()(a.rules[i + 1]));
      records.push_back(FileRule(a.rules[i], *mask));
    }
    status = Run([&] {
      unsigned int out = 0;
      SecPolicy::AddFilePolicyBatch(WorldId(a.world), U32(a.domain), records.data(),
                                    static_cast<unsigned int>(records.size()), &out);
      std::cout << out << std::endl;
    });
  });

  CLI::App* remove = group->add_subcommand("remove", "Remove the file policy of a path.");
  Arg(remove, "WORLD", a.world, "World id (signed)")->check(World());
  Arg(remove, "DOMAIN", a.domain, "Domain id")->check(Unsigned());
  Arg(remove, "PATH", a.path, "Path");
  remove->callback([&] {
    status = Run([&] { SecPolicy::RemoveFilePolicy(WorldId(a.world), U32(a.domain), a.path); });
  });

  CLI::App* update = group->add_subcommand("update", "Change the permissions of a path.");
  Arg(update, "DOMAIN", a.domain, "Domain id")->check(Unsigned());
  Arg(update, "PATH", a.path, "Path");
  Arg(update, "PERMS", a.perms, "New permissions")->check(Permissions());
  update->callback([&] {
    status = Run(
        [&] { SecPolicy::UpdateFilePolicy(U32(a.domain), a.path, *ParsePermissions(a.perms)); });
  });

  CLI::App* count = group->add_subcommand("count", "Print the number of a domain's file policies.");
  Arg(count, "DOMAIN", a.domain, "Domain id")->check(Unsigned());
  count->callback([&] {
    status = Run(
        [&] { std::cout << SecPolicy::RetrieveNumberOfFilePolicies(U32(a.domain)) << std::endl; });
  });

  CLI::App* list = group->add_subcommand(
      "list",
      "Print a domain's file policies, one \"PATH MASK\" line each, the mask in hex "
      "(for example \"/bin 0x11\").");
  Arg(list, "DOMAIN", a.domain, "Domain id")->check(Unsigned());
  list->add_option("--retries", a.retries,
                   "Times to ask again when the kernel asks for a retry (default 4; 0: never). "
                   "A retry not made exits 75.")
      ->type_name("N")
      ->check(CliCommon::Number("a retry count", 0, 1000));
  list->add_option("--size", a.size,
                   "Records in the array handed to the kernel (default: the domain's count)")
      ->type_name("N")
      ->check(CliCommon::Number("an array size", 0, 65536));
  list->callback([&] {
    status = Run([&] {
      const auto size = a.size.empty() ? std::nullopt : std::optional(U32(a.size));
      const int retries =
          a.retries.empty() ? kDefaultListRetries : static_cast<int>(*ParseInRange(a.retries, 0, 1000));
      for (const auto& rule : ReadFilePolicies(U32(a.domain), size, retries)) {
        std::cout << CliCommon::EscapeControls(PathOf(rule)) << " 0x" << std::hex
                  << rule.permissions << std::dec << '\n';
      }
      std::cout.flush();
    });
  });

  CLI::App* replace =
      group->add_subcommand("replace", "Replace a path by another in the file policies.");
  Arg(replace, "OLD", a.oldPath, "Path to replace");
  Arg(replace, "NEW", a.newPath, "Path that replaces it");
  replace->callback(
      [&] { status = Run([&] { SecPolicy::ReplaceFilePolicyVMs(a.oldPath, a.newPath); }); });
}

// Positionals fill in order, so the words given are a prefix of MODE VALUE
// FLAG: all three, or with --null-mode the flag alone (in MODE's place).
// Fills `mode` and returns the flag's text.
template <std::size_t N>
std::string ModeAndFlag(const Args& a, CLI::Option* const (&words)[N], HyxAccess_ModeParam& mode) {
  constexpr bool withFlag = N == 3;
  std::vector<std::string> given;
  for (std::size_t i = 0; i < N; ++i) {
    if (words[i]->count() > 0) given.push_back(a.modeWords[i]);
  }
  const std::size_t expected = (a.nullMode ? 0 : 2) + (withFlag ? 1 : 0);
  if (given.size() != expected) {
    throw CLI::ValidationError("MODE VALUE",
                               withFlag ? "give MODE VALUE FLAG, or FLAG alone with --null-mode"
                                        : "give MODE VALUE, or neither with --null-mode");
  }
  for (std::size_t i = 0; i < expected; ++i) {
    const bool isFlag = withFlag && i + 1 == expected;
    const std::string error = (isFlag ? Flag() : Unsigned())(given[i]);
    if (!error.empty()) throw CLI::ValidationError(isFlag ? "FLAG" : "MODE VALUE", error);
  }
  if (!a.nullMode) mode = HyxAccess_ModeParam{U32(given[0]), U32(given[1])};
  return withFlag ? given.back() : "0";
}

void AddCapabilityGroups(CLI::App& app, int& status, Args& a) {
  CLI::App* cap = app.add_subcommand("cap", "Set a domain's capability rules.");
  cap->require_subcommand(1);
  CLI::App* capSet = cap->add_subcommand("set", "Set the rule of one capability.");
  Arg(capSet, "DOMAIN", a.domain, "Domain id")->check(Unsigned());
  Arg(capSet, "CAPABILITY", a.capability, "Capability number (the kernel knows 0 to 18)")
      ->check(Unsigned());
  Arg(capSet, "FLAG", a.flag, "Flag byte, 0 to 255")->check(Flag());
  capSet->callback([&] {
    status = Run([&] {
      SecPolicy::SetCapRule(U32(a.domain), HyxAccess_Capability{U32(a.capability)},
                            FlagByte(a.flag));
    });
  });

  CLI::App* check =
      app.add_subcommand("param-check",
                         "Set or remove a domain's capability parameter-check rules. The mode "
                         "record is MODE (argument word index) and VALUE; --null-mode passes no "
                         "record at all, and MODE VALUE are then left out.");
  check->require_subcommand(1);
  // MODE VALUE FLAG are optional positionals so that --null-mode can leave
  // MODE VALUE out; ModeAndFlag sorts out what was given.
  const auto addCommon = [&](CLI::App* command, CLI::Option** words, bool withFlag) {
    Arg(command, "DOMAIN", a.domain, "Domain id")->check(Unsigned());
    Arg(command, "CHECK", a.check, "Parameter-check number (the kernel knows 0 to 9)")
        ->check(Unsigned());
    words[0] = command
                   ->add_option("MODE", a.modeWords[0],
                                "Mode: index of the argument word (left out with --null-mode)")
                   ->type_name("");
    words[1] = command
                   ->add_option("VALUE", a.modeWords[1],
                                "Numeric argument of the mode (left out with --null-mode)")
                   ->type_name("");
    if (withFlag)
      words[2] = command->add_option("FLAG", a.modeWords[2], "Flag byte, 0 to 255")->type_name("");
    command->add_flag("--null-mode", a.nullMode, "Pass no mode record at all");
  };
  CLI::App* set = check->add_subcommand("set", "Set the rule of one parameter check.");
  addCommon(set, a.setWords, true);
  set->callback([&] {
    HyxAccess_ModeParam mode{};
    const char flag = FlagByte(ModeAndFlag(a, a.setWords, mode));
    status = Run([&] {
      SecPolicy::SetParamCheckRule(U32(a.domain), HyxAccess_ParamCheck{U32(a.check)},
                                   a.nullMode ? nullptr : &mode, flag);
    });
  });
  CLI::App* remove = check->add_subcommand("remove", "Remove the rule of one parameter check.");
  addCommon(remove, a.removeWords, false);
  remove->callback([&] {
    HyxAccess_ModeParam mode{};
    ModeAndFlag(a, a.removeWords, mode);
    status = Run([&] {
      SecPolicy::RemoveParamCheckRule(U32(a.domain), HyxAccess_ParamCheck{U32(a.check)},
                                      a.nullMode ? nullptr : &mode);
    });
  });
}

}  // namespace

void AddRuntimeCommands(CLI::App& app, int& status) {
  static Args args;
  AddDomainGroup(app, status, args);
  AddFilePolicyGroup(app, status, args);
  AddCapabilityGroups(app, status, args);
}

}  // namespace SecPolicyCli
