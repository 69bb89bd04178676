#include "secpolicy/policytext/policy_file_reader.h"

#include <dirent.h>

#include <fstream>
#include <memory>
#include <string_view>

#include "secpolicy/platform/host_ctl_exception.h"

namespace SecPolicy {

namespace {
constexpr std::streamsize kLineBufferSize = 1024;

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

std::string_view Uncommented(std::string_view line) { return line.substr(0, line.find('#')); }

// Appends the tokens of `text`: runs of plain spaces separate them.
void AppendTokens(std::string_view text, TokenQueue& tokens) {
  while (!text.empty()) {
    const auto space = text.find(' ');
    if (space != 0) tokens.emplace(text.substr(0, space));
    if (space == std::string_view::npos) break;
    text.remove_prefix(space + 1);
  }
}
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
    TokenQueue tokens;
    AppendTokens(Uncommented(buffer), tokens);
    if (!tokens.empty()) {
      // Numbers only grow, so a fresh map takes every line at its end
      // without building an empty entry first.
      if (out.empty() || out.rbegin()->first < lineNumber) {
        out.emplace_hint(out.end(), lineNumber, std::move(tokens));
      } else {
        out[lineNumber] = std::move(tokens);
      }
    }
    ++lineNumber;
  } while (file.good());
}

TokenQueue ParsePolicyLine(const std::string& line) {
  TokenQueue tokens;
  AppendTokens(Uncommented(line), tokens);
  return tokens;
}

TokenQueue StringToQueue(const std::string& text) {
  TokenQueue tokens;
  AppendTokens(text, tokens);
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
