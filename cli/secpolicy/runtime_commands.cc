#include "cli/secpolicy/commands.h"

namespace SecPolicyCli {

void AddRuntimeCommands(CLI::App& /*app*/, int& /*status*/) {}

}  // namespace SecPolicyCli
