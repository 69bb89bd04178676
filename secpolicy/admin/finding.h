// One problem found in a policy tree or in the files it labels.
#pragma once

#include <optional>
#include <string>

namespace SecPolicy::Admin {

struct Finding {
  std::string path;                  // the policy file (or folder, or labelled file) concerned
  std::optional<unsigned int> line;  // its line, where the problem has one
  std::string text;
  std::string code = "";             // its stable code ("SP101"), see LintCodes()
};

}  // namespace SecPolicy::Admin
