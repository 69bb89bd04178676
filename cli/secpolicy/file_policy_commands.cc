// file-policy: a domain's file policies. Paths may hold any byte and are
// printed escaped.
#include <cstdint>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/numbers.h"
#include "cli/common/terminal_text.h"
#include "cli/secpolicy/commands.h"
#include "cli/secpolicy/runtime_args.h"
#include "secpolicy/admin/kernel_rules.h"
#include "secpolicy/kernelcalls/file_policy_calls.h"

namespace SecPolicyCli {

namespace {

// Retries of file-policy list when --retries is not given.
constexpr int kDefaultListRetries = 4;

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

}  // namespace

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
      const int retries = a.retries.empty()
                              ? kDefaultListRetries
                              : static_cast<int>(*CliCommon::ParseInRange(a.retries, 0, 1000));
      for (const auto& rule : SecPolicy::Admin::ReadFilePolicies(U32(a.domain), retries, size)) {
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

}  // namespace SecPolicyCli
