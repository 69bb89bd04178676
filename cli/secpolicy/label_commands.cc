#include "cli/secpolicy/commands.h"

namespace SecPolicyCli {

void AddLabelCommands(CLI::App& /*app*/, int& /*status*/) {}

}  // namespace SecPolicyCli
