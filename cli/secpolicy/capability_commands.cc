// cap and param-check: a domain's capability and parameter-check rules.
#include <cstddef>
#include <string>
#include <vector>

#include "cli/secpolicy/commands.h"
#include "cli/secpolicy/runtime_args.h"
#include "secpolicy/kernelcalls/capability_calls.h"

namespace SecPolicyCli {

namespace {

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

}  // namespace

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

}  // namespace SecPolicyCli
