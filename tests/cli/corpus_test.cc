// Runs every case of tests/policies through the built tools and compares the
// exit status, standard error, the informational kernel log and (when the
// case gives it) standard output with what the case's header states. The
// header format is described in tests/policies/README.md.
#include <gmock/gmock.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
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

struct Case {
  std::string name;
  fs::path file;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> Discover() {
  std::vector<Case> cases;
  for (const auto& entry : fs::recursive_directory_iterator(kCorpus)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".case") continue;
    std::string name = fs::relative(entry.path(), kCorpus).replace_extension().string();
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    cases.push_back({name, entry.path()});
  }
  std::sort(cases.begin(), cases.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
  return cases;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

Strings Words(const std::string& text) {
  Strings words;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, ' ');) {
    if (!word.empty()) words.push_back(word);
  }
  return words;
}

Strings Lines(const std::string& text) {
  Strings lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// \n, \t, \\ and \xHH; everything else stands for itself.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    if (next == 'n') {
      out += '\n';
    } else if (next == 't') {
      out += '\t';
    } else if (next == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += next;
    }
  }
  return out;
}

// An expected line: @DIR@ is the case folder, @ANY@ any text.
bool Matches(const std::string& expected, const std::string& actual) {
  if (expected.find("@ANY@") == std::string::npos) return expected == actual;
  std::string pattern;
  std::size_t from = 0;
  for (std::size_t at; (at = expected.find("@ANY@", from)) != std::string::npos; from = at + 5) {
    pattern += std::regex_replace(expected.substr(from, at - from), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
    pattern += R"([\s\S]*)";
  }
  pattern += std::regex_replace(expected.substr(from), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  return std::regex_match(actual, std::regex(pattern, std::regex::ECMAScript));
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

struct Recipe {
  Strings run, setups, afters, makes, generates, stderrLines, logLines, stdoutLines, afterLines;
  bool root = false, checkStdout = false;
  int exit = 0;
  rlim_t nofile = 0;
  std::vector<std::pair<std::string, std::string>> files;  // path, content
};

Recipe Read(const fs::path& file, const std::string& dir) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  Recipe recipe;
  bool inBody = false;
  for (const std::string& raw : Lines(buffer.str())) {
    if (raw.rfind("=== ", 0) == 0) {
      recipe.files.emplace_back(Replace(raw.substr(4), "@DIR@", dir), "");
      inBody = true;
      continue;
    }
    if (inBody) {
      recipe.files.back().second += Replace(raw, "@DIR@", dir) + "\n";
      continue;
    }
    const std::size_t colon = raw.find(": ");
    if (raw.rfind("# ", 0) != 0 || colon == std::string::npos) continue;
    const std::string key = raw.substr(2, colon - 2);
    const std::string value = Replace(raw.substr(colon + 2), "@DIR@", dir);
    if (key == "run") recipe.run = Words(value);
    if (key == "root") recipe.root = value == "yes";
    if (key == "setup") recipe.setups.push_back(value);
    if (key == "after") recipe.afters.push_back(value);
    if (key == "expect-after") recipe.afterLines.push_back(value);
    if (key == "make") recipe.makes.push_back(value);
    if (key == "generate") recipe.generates.push_back(raw.substr(colon + 2));
    if (key == "nofile") recipe.nofile = std::stoul(value);
    if (key == "expect-exit") recipe.exit = std::stoi(value);
    if (key == "expect-stderr") recipe.stderrLines.push_back(value);
    if (key == "expect-log") recipe.logLines.push_back(value);
    if (key == "expect-stdout") {
      recipe.checkStdout = true;
      if (value != "@NONE@") recipe.stdoutLines.push_back(value);
    }
  }
  return recipe;
}

// Builds what `make:` and `generate:` describe, below the case folder.
void Make(const Recipe& recipe, const fs::path& dir) {
  for (const std::string& make : recipe.makes) {
    const Strings w = Words(make);
    ASSERT_GE(w.size(), 2u) << make;
    const fs::path target = dir / (w[0] == "symlink" ? w.at(2) : w[1]);
    fs::create_directories(target.parent_path());
    if (w[0] == "fifo") {
      ASSERT_EQ(mkfifo(target.c_str(), 0600), 0) << make;
    } else if (w[0] == "dir") {
      fs::create_directories(target);
    } else if (w[0] == "symlink") {
      fs::create_symlink(w[1], target);
    } else if (w[0] == "deep") {  // deep PATH LEVELS: PATH/d/d/.../d, a file f at the bottom
      fs::path at = target;
      for (int level = 0; level < std::stoi(w.at(2)); ++level) at /= "d";
      fs::create_directories(at);
      std::ofstream(at / "f") << "";
    } else if (w[0] == "files") {  // files PATH COUNT: PATH/0 ... PATH/COUNT-1
      fs::create_directories(target);
      for (int i = 0; i < std::stoi(w.at(2)); ++i) std::ofstream(target / std::to_string(i)) << "";
    } else {
      FAIL() << "unknown make: " << make;
    }
  }
  for (const std::string& generate : recipe.generates) {  // PATH COUNT TEXT
    const std::size_t first = generate.find(' ');
    const std::size_t second = generate.find(' ', first + 1);
    ASSERT_NE(second, std::string::npos) << generate;
    const std::string text = Unescape(generate.substr(second + 1));
    const long count = std::stol(generate.substr(first + 1, second - first - 1));
    std::string block;
    for (long i = 0; i < count; ++i) block += text;
    std::ofstream(dir / generate.substr(0, first), std::ios::binary | std::ios::app) << block;
  }
}

class CorpusTest : public TestSupport::SimulatedHostTest, public ::testing::WithParamInterface<Case> {};

TEST_P(CorpusTest, GivesItsStatedResult) {
  const fs::path dir = scratch_.path() / "case";
  fs::create_directories(dir);
  const Recipe recipe = Read(GetParam().file, dir.string());
  ASSERT_FALSE(recipe.run.empty()) << "the case names no command";
  for (const auto& [path, content] : recipe.files) {
    fs::create_directories((dir / path).parent_path());
    std::ofstream(dir / path, std::ios::binary) << content;
  }
  Make(recipe, dir);
  for (const std::string& setup : recipe.setups) {
    Strings words = Words(setup);
    const std::string tool = words.front();
    words.erase(words.begin());
    const auto result = TestSupport::RunTool(tool, words);
    ASSERT_EQ(result.status, 0) << setup << ": " << result.err;
  }

  const std::size_t logBefore = HostSim::KernelLog().size();  // what the setup logged is not looked at
  Strings args = recipe.run;
  if (recipe.root) {
    args.insert(args.begin(), {"run", "--root", dir.string(), "--", SECPOLICY_BIN_DIR "/secpolicy"});
  }
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  if (recipe.nofile != 0) {
    rlimit lowered = saved;
    lowered.rlim_cur = recipe.nofile;
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  const auto result = TestSupport::RunTool(recipe.root ? "hostsim" : "secpolicy", args);
  setrlimit(RLIMIT_NOFILE, &saved);
  if (recipe.root && result.err.find("private mount namespace") != std::string::npos) {
    GTEST_SKIP() << result.err;
  }

  EXPECT_EQ(result.status, recipe.exit) << result.err.substr(0, 2000);
  ExpectLines("standard error", recipe.stderrLines, Lines(result.err));
  Strings info, errors;
  const auto log = HostSim::KernelLog();
  for (auto line = log.begin() + static_cast<std::ptrdiff_t>(logBefore); line != log.end(); ++line) {
    (line->tag == "[INFO]" ? info : errors).push_back(line->tag == "[INFO]" ? line->text : "Error: " + line->text);
  }
  ExpectLines("informational kernel log", recipe.logLines, info);
  ExpectLines("error kernel log", recipe.stderrLines, errors);
  if (recipe.checkStdout) ExpectLines("standard output", recipe.stdoutLines, Lines(result.out));
  // Commands after the run, each a tool and its arguments; their output
  // lines, all together, against expect-after.
  Strings after;
  for (const std::string& command : recipe.afters) {
    Strings words = Words(command);
    const std::string tool = words.front();
    words.erase(words.begin());
    for (const auto& line : Lines(TestSupport::RunTool(tool, words).out)) after.push_back(line);
  }
  ExpectLines("output after the run", recipe.afterLines, after);
}

// A policy file that is listed but cannot be opened any more. The tools give
// no moment between listing and opening at which a file could be removed, so
// the file is made unopenable from the start: its full path is longer than
// the system allows, while its folder's path is not. The loader meets it as
// it would meet a removed file.
class ListedFileTest : public TestSupport::SimulatedHostTest {};

TEST_F(ListedFileTest, FileThatCannotBeOpenedAfterListingIsReportedAndTheRestLoads) {
  fs::path dir = scratch_.path() / "objects";
  while (dir.string().size() < 3900) dir /= std::string(200, 'd');
  fs::create_directories(dir);
  std::ofstream(dir / "a") << "alpha\n";
  const std::string name(250, 'b');
  const int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  const int file = openat(folder, name.c_str(), O_WRONLY | O_CREAT, 0600);
  close(folder);
  ASSERT_GE(file, 0);
  close(file);

  const auto result = TestSupport::RunTool("secpolicy", {"load-objects", dir.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error: Unable to open policy file " + dir.string() + "/" + name +
                            "\nError: Error in parsing some object files\nError: Failure in object policy\n");
  const auto display = TestSupport::RunTool("secpolicy", {"display-objects"});
  EXPECT_NE(display.out.find("\nalpha ("), std::string::npos) << display.out;
}

INSTANTIATE_TEST_SUITE_P(Policies, CorpusTest, ::testing::ValuesIn(Discover()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
