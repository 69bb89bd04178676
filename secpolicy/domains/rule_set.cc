#include "secpolicy/domains/rule_set.h"

#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy {

PolicyRules::~PolicyRules() = default;

std::string PopToken(TokenQueue& args) {
  std::string token = std::move(args.front());
  args.pop();
  return token;
}

bool PopAction(TokenQueue& args) {
  const bool grant = IsGrant(args.front());
  args.pop();
  return grant;
}

const char* ActionWord(bool grant) { return grant ? "grant" : "revoke"; }

}  // namespace SecPolicy
