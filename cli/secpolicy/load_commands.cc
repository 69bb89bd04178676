#include "cli/secpolicy/commands.h"

namespace SecPolicyCli {

void AddLoadCommands(CLI::App& /*app*/, int& /*status*/) {}

}  // namespace SecPolicyCli
