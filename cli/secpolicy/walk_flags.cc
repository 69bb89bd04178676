#include "cli/secpolicy/walk_flags.h"

#include <unistd.h>

namespace SecPolicyCli {

WalkFlags::WalkFlags() : progress(isatty(STDERR_FILENO) == 1) {}

SecPolicy::Admin::WalkSettings WalkFlags::Settings(std::optional<Progress>& shown) const {
  SecPolicy::Admin::WalkSettings settings;
  settings.jobs = SecPolicy::Admin::JobCount(jobs);
  for (const auto& path : exclude) settings.exclusions.Add(path);
  if (progress) {
    shown.emplace(settings.jobs, isatty(STDERR_FILENO) == 1);
    settings.progress = &shown->counter();
  }
  return settings;
}

void AddWalkOptions(CLI::App* command, WalkFlags& flags) {
  command->add_option("--jobs,-j", flags.jobs, "Workers sharing the walk (0: one per core)")
      ->check(CLI::Range(0u, 1024u))
      ->default_str("1");
  command->add_option("--exclude", flags.exclude,
                      "Leave out the file or folder PATH and everything below it (repeatable)")
      ->type_name("PATH");
  command->add_flag("--progress", flags.progress,
                    "Show entries done, rate and folder on standard error (default when it is "
                    "a terminal)");
  command->add_flag_callback("--no-progress", [&flags] { flags.progress = false; },
                             "Show no progress");
}

}  // namespace SecPolicyCli
