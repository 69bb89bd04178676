// The line reader: an input is both a whole policy file (read through a file
// on disk, as every loader does) and a single line handed to the tokenisers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_host.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace {

using SecPolicy::TokenQueue;

// Tokens are never empty and never hold the separator or anything the
// reader strips; a violation is a bug, so it aborts for the fuzzer to see.
void CheckTokens(TokenQueue tokens, const std::string& forbidden) {
  while (!tokens.empty()) {
    const std::string& token = tokens.front();
    if (token.empty() || token.find_first_of(forbidden) != std::string::npos) std::abort();
    tokens.pop();
  }
}

std::size_t NonSpaceCount(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) count += c != ' ';
  return count;
}

std::size_t CharCount(TokenQueue tokens) {
  std::size_t count = 0;
  for (; !tokens.empty(); tokens.pop()) count += tokens.front().size();
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Fuzz::Host& host = Fuzz::Host::Get();
  const std::string text(Fuzz::AsText(data, size));

  // Splitting keeps every character that is not a space, in order.
  const TokenQueue queue = SecPolicy::StringToQueue(text);
  CheckTokens(queue, " ");
  if (CharCount(queue) != NonSpaceCount(text)) std::abort();

  CheckTokens(SecPolicy::ParsePolicyLine(text), std::string(" #"));

  const std::string path = host.WriteFile("policy", text);
  SecPolicy::ParsedPolicyFile lines;
  try {
    SecPolicy::ParseFile(path, lines);
  } catch (const HostCtl::Lib::HostCtlException&) {
    std::abort();  // the file is there: opening it cannot fail
  }
  std::size_t newlines = 0;
  for (const char c : text) newlines += c == '\n';
  for (const auto& [number, tokens] : lines) {
    if (number == 0 || number > newlines + 1 || tokens.empty()) std::abort();
    CheckTokens(tokens, std::string(" #\n\0", 4));
  }
  return 0;
}
