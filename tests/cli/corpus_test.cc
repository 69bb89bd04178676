// Runs every case of tests/policies through the built tools and compares the
// exit status, standard error, the informational kernel log and (when the
// case gives it) standard output with what the case's header states. The
// header format is described in tests/policies/README.md.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

const fs::path kCorpus = fs::path(SECPOLICY_SOURCE_DIR) / "tests/policies";

std::vector<fs::path> Discover() {
  std::vector<fs::path> cases;
  for (const auto& entry : fs::recursive_directory_iterator(kCorpus)) {
    if (entry.is_regular_file() && entry.path().extension() == ".case") cases.push_back(entry.path());
  }
  std::sort(cases.begin(), cases.end());
  return cases;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

Strings Split(const std::string& text, char separator) {
  Strings parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    if (separator == '\n' || !part.empty()) parts.push_back(part);
  }
  return parts;
}

// \n, \t, \\ and \xHH; everything else stands for itself.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() && text[i] == '\\' ? text[++i] : '\0';
    if (next == '\0') {
      out += text[i];
    } else if (next == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
    }
  }
  return out;
}

// An expected line: @ANY@ matches any text.
bool Matches(const std::string& expected, const std::string& actual) {
  if (expected.find("@ANY@") == std::string::npos) return expected == actual;
  const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  std::string pattern;
  std::size_t from = 0;
  for (std::size_t at; (at = expected.find("@ANY@", from)) != std::string::npos; from = at + 5) {
    pattern += std::regex_replace(expected.substr(from, at - from), special, R"(\$&)") + R"([\s\S]*)";
  }
  pattern += std::regex_replace(expected.substr(from), special, R"(\$&)");
  return std::regex_match(actual, std::regex(pattern));
}

void ExpectLines(const char* what, const Strings& expected, const Strings& actual) {
  bool same = expected.size() == actual.size();
  for (std::size_t i = 0; same && i < expected.size(); ++i) same = Matches(expected[i], actual[i]);
  if (same) return;
  std::string report;
  for (const auto& line : expected) report += "  want: " + line.substr(0, 300) + "\n";
  for (const auto& line : actual) report += "  got:  " + line.substr(0, 300) + "\n";
  ADD_FAILURE() << what << " differs:\n" << report;
}

// The header's values by key, in order, and the files (path, content).
struct Recipe {
  std::map<std::string, Strings> keys;
  std::vector<std::pair<std::string, std::string>> files;
};

Recipe Read(const fs::path& file, const std::string& dir) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  Recipe recipe;
  for (const std::string& raw : Split(buffer.str(), '\n')) {
    const std::size_t colon = raw.find(": ");
    if (raw.rfind("=== ", 0) == 0) {
      recipe.files.emplace_back(Replace(raw.substr(4), "@DIR@", dir), "");
    } else if (!recipe.files.empty()) {
      recipe.files.back().second += Replace(raw, "@DIR@", dir) + "\n";
    } else if (raw.rfind("# ", 0) == 0 && colon != std::string::npos) {
      const std::string key = raw.substr(2, colon - 2);
      const std::string value = raw.substr(colon + 2);  // generate: TEXT as written
      recipe.keys[key].push_back(key == "generate" ? value : Replace(value, "@DIR@", dir));
    }
  }
  return recipe;
}

// Builds what `make:` and `generate:` describe, below the case folder.
void Make(Recipe& recipe, const fs::path& dir) {
  for (const std::string& make : recipe.keys["make"]) {
    const Strings w = Split(make, ' ');
    ASSERT_GE(w.size(), 2u) << make;
    const fs::path target = dir / (w[0] == "symlink" ? w.at(2) : w[1]);
    fs::create_directories(w[0] == "dir" || w[0] == "files" ? target : target.parent_path());
    if (w[0] == "fifo") {
      ASSERT_EQ(mkfifo(target.c_str(), 0600), 0) << make;
    } else if (w[0] == "symlink") {
      fs::create_symlink(w[1], target);
    } else if (w[0] == "deep") {  // deep PATH LEVELS: PATH/d/d/.../d, a file f at the bottom
      fs::path at = target;
      for (int level = 0; level < std::stoi(w.at(2)); ++level) at /= "d";
      fs::create_directories(at);
      std::ofstream(at / "f") << "";
    } else if (w[0] == "files") {  // files PATH COUNT: PATH/0 ... PATH/COUNT-1
      for (int i = 0; i < std::stoi(w.at(2)); ++i) std::ofstream(target / std::to_string(i)) << "";
    } else if (w[0] != "dir") {
      FAIL() << "unknown make: " << make;
    }
  }
  for (const std::string& generate : recipe.keys["generate"]) {  // PATH COUNT TEXT
    const Strings w = Split(generate, ' ');
    ASSERT_GE(w.size(), 3u) << generate;
    const std::string text = Unescape(generate.substr(w[0].size() + w[1].size() + 2));
    std::string block;
    for (long i = 0; i < std::stol(w[1]); ++i) block += text;
    std::ofstream(dir / w[0], std::ios::binary | std::ios::app) << block;
  }
}

// Every tool run gets a deadline of its own, so a hang names its command
// instead of ending the whole test program.
constexpr std::chrono::seconds kDeadline{30};

TestSupport::ToolResult RunOne(const std::string& tool, const Strings& args, TestSupport::RunLimits limits = {}) {
  limits.deadline = kDeadline;
  auto result = TestSupport::RunTool(tool, args, limits);
  std::string command = tool;
  for (const auto& arg : args) command += " " + arg;
  EXPECT_FALSE(result.timedOut) << "hung, killed after " << kDeadline.count() << " s: " << command;
  return result;
}

// Runs each command ("tool arguments..."), all of their standard output together.
Strings RunAll(const Strings& commands, bool mustSucceed) {
  Strings out;
  for (const std::string& command : commands) {
    Strings words = Split(command, ' ');
    const std::string tool = words.front();
    words.erase(words.begin());
    const auto result = RunOne(tool, words);
    EXPECT_TRUE(!mustSucceed || result.status == 0) << command << ": " << result.err;
    for (const auto& line : Split(result.out, '\n')) out.push_back(line);
  }
  return out;
}

class CorpusTest : public TestSupport::SimulatedHostTest, public ::testing::WithParamInterface<fs::path> {};

TEST_P(CorpusTest, GivesItsStatedResult) {
  const fs::path dir = scratch_.path() / "case";
  fs::create_directories(dir);
  Recipe recipe = Read(GetParam(), dir.string());
  ASSERT_EQ(recipe.keys["run"].size(), 1u) << "the case names no command";
  for (const auto& [path, content] : recipe.files) {
    fs::create_directories((dir / path).parent_path());
    std::ofstream(dir / path, std::ios::binary) << content;
  }
  Make(recipe, dir);
  RunAll(recipe.keys["setup"], true);

  const std::size_t logBefore = HostSim::KernelLog().size();  // what the setup logged is not looked at
  Strings args = Split(recipe.keys["run"][0], ' ');
  const bool root = recipe.keys.count("root") != 0 && recipe.keys["root"][0] == "yes";
  if (root) args.insert(args.begin(), {"run", "--root", dir.string(), "--", SECPOLICY_BIN_DIR "/secpolicy"});
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  if (recipe.keys.count("nofile") != 0) {
    rlimit lowered{std::stoul(recipe.keys["nofile"][0]), saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  TestSupport::RunLimits limits;
  if (recipe.keys.count("memory") != 0) {
    if (TestSupport::kSanitized) GTEST_SKIP() << "a sanitizer's shadow memory needs more address space";
    limits.addressSpace = std::stoul(recipe.keys["memory"][0]) << 20;
  }
  const auto result = RunOne(root ? "hostsim" : "secpolicy", args, limits);
  setrlimit(RLIMIT_NOFILE, &saved);
  if (root && result.err.find("private mount namespace") != std::string::npos) GTEST_SKIP() << result.err;

  const int exit = recipe.keys.count("expect-exit") != 0 ? std::stoi(recipe.keys["expect-exit"][0]) : 0;
  EXPECT_EQ(result.status, exit) << result.err.substr(0, 2000);
  ExpectLines("standard error", recipe.keys["expect-stderr"], Split(result.err, '\n'));
  Strings info, errors;
  const auto log = HostSim::KernelLog();
  for (auto line = log.begin() + static_cast<std::ptrdiff_t>(logBefore); line != log.end(); ++line) {
    (line->tag == "[INFO]" ? info : errors).push_back(line->tag == "[INFO]" ? line->text : "Error: " + line->text);
  }
  ExpectLines("informational kernel log", recipe.keys["expect-log"], info);
  // A tool's own notes go to its standard error only, never to a log.
  Strings logged = recipe.keys["expect-stderr"];
  std::erase_if(logged, [](const std::string& line) { return line.starts_with("Note: "); });
  ExpectLines("error kernel log", logged, errors);
  if (recipe.keys.count("expect-stdout") != 0) {
    std::erase(recipe.keys["expect-stdout"], "@NONE@");
    ExpectLines("standard output", recipe.keys["expect-stdout"], Split(result.out, '\n'));
  }
  ExpectLines("output after the run", recipe.keys["expect-after"], RunAll(recipe.keys["after"], false));
}

INSTANTIATE_TEST_SUITE_P(Policies, CorpusTest, ::testing::ValuesIn(Discover()), [](const auto& test) {
  std::string name = fs::relative(test.param, kCorpus).replace_extension().string();
  std::replace_if(name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
  return name;
});

}  // namespace
