// Checks on the state file and its folder before SQLite opens it, and the
// writers' lock (decisions in state.h). Every refusal throws
// HostCtlException "hostsim state <path>: <why>".
#pragma once

#include <cstdint>
#include <string>

namespace HostSim::StateFile {

// What page 1 of one of our states holds (SQLite's application_id and
// user_version).
inline constexpr std::uint32_t kApplicationId = 0x68737374;
inline constexpr std::uint32_t kSchemaVersion = 1;

// Refuses a folder owned by someone other than this user or root, or
// writable by others without the sticky bit.
void CheckFolder(const std::string& path);

enum class Found { kMissing, kEmpty, kOurs, kForeign };

// Looks at the file without changing it: refuses a file that is not a
// regular file, is owned by another user or is writable by others; then
// says what it holds. A state of ours with another schema version is kOurs.
Found Inspect(const std::string& path);

// For every command but init: the file must be a state of ours of this
// schema version. Returns whether it can be written (the file and its
// folder writable by this process).
bool CheckExisting(const std::string& path);

// The SQLite URI that opens `path` read-only without creating anything
// beside it: immutable when no write-ahead log is pending.
std::string ReadOnlyUri(const std::string& path);

}  // namespace HostSim::StateFile
