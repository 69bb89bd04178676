#include "policytext/policy_file_reader.h"

#include <dirent.h>

#include <fstream>
#include <memory>

#include "platform/host_ctl_exception.h"

namespace SecPolicy {

namespace {
constexpr std::streamsize kLineBufferSize = 1024;

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
}  // namespace

void ParseFile(const std::string& path, ParsedPolicyFile& out) {
  std::ifstream file(path);
  if (!file.is_open()) {
    throw HostCtl::Lib::HostCtlException("Unable to open policy file " + path);
  }
  char buffer[kLineBufferSize];
  unsigned int lineNumber = 1;
  do {
    buffer[0] = '\0';
    file.getline(buffer, kLineBufferSize);
    TokenQueue tokens = ParsePolicyLine(buffer);
    if (!tokens.empty()) out[lineNumber] = std::move(tokens);
    ++lineNumber;
  } while (file.good());
}

TokenQueue ParsePolicyLine(const std::string& line) {
  return StringToQueue(line.substr(0, line.find('#')));
}

TokenQueue StringToQueue(const std::string& text) {
  TokenQueue tokens;
  std::string::size_type start = 0;
  while (start < text.size()) {
    const auto space = text.find(' ', start);
    const auto end = space == std::string::npos ? text.size() : space;
    if (end > start) tokens.push(text.substr(start, end - start));
    start = end + 1;
  }
  return tokens;
}

void GetFileList(const std::string& dir, PolicyFileList& out) {
  std::unique_ptr<DIR, DirCloser> handle(opendir(dir.c_str()));
  if (!handle) {
    throw HostCtl::Lib::HostCtlException("Unable to open policy directory " + dir);
  }
  PolicyFileList found;
  while (const dirent* entry = readdir(handle.get())) {
    if (entry->d_type != DT_REG) continue;  // also leaves out "." and ".."
    found[dir + "/" + entry->d_name] = entry->d_name;
  }
  for (auto& [path, name] : found) out[path] = std::move(name);
}

bool IsGrant(std::string& word) {
  if (word == "grant") return true;
  if (word == "revoke") return false;
  throw HostCtl::Lib::HostCtlException("invalid keyword " + word);
}

}  // namespace SecPolicy
