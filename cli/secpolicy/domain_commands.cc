#include "cli/secpolicy/commands.h"

namespace SecPolicyCli {

void AddDomainCommands(CLI::App& /*app*/, int& /*status*/) {}

}  // namespace SecPolicyCli
