// check's codes, formats and --explain, run as the tool under a private
// host root (skipped where the process may not make one).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::RunTool;
using TestSupport::ToolResult;
using Lines = std::vector<std::string>;

const std::string kDir = "/etc/norvane/secpolicy/";

class CheckLintTest : public TestSupport::HostRootTest {
 public:
  void SetUp() override {
    HostRootTest::SetUp();
    fs::remove_all(root_);  // a case's edits go with it
    for (const char* name : {"globalVMDom", "ioFilterDom", "daemonFrameworkDom", "superDom"}) {
      Put(std::string("domains/") + name, "");
    }
    Put("domains/appDom", "-s open grant\n");
    Put("objects/main", "appLabel\n");
    Put("fileLabels/map", Files() + "/a appLabel\n");
    fs::create_directories(root_ / "tardisks");
    std::ofstream(root_ / "files/a") << "";
    fs::create_symlink(root_ / "files/a", root_ / "files/link");
    ASSERT_EQ(RunTool("hostsim", {"label-init", "--recursive", (root_ / "tardisks").string(), Files()}).status, 0);
  }
};

struct CodeCase {
  std::string code, level;
  std::function<void(CheckLintTest&)> edit;
  std::string at;  // "relative path:line", or the path alone
  int status = 0;  // check's exit status: the load may fail for a warning's cause too
};

// Each code on a minimal tree: the one finding of that code, where it is,
// in json; in text too for the linter's codes, the load's lines staying
// without one.
TEST_F(CheckLintTest, EachCodeThroughCheck) {
  const auto put = [](std::string path, std::string text) {
    return [=](CheckLintTest& t) mutable {
      for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, t.Files());
      t.Put(path, text);
    };
  };
  const std::vector<CodeCase> cases = {
      {"SP101", "error", put("domains/appDom", "-s open grnat\n"), "domains/appDom:1", 1},
      {"SP102", "error", put("domains/appDom", "-s bad\n-s nosuch grant\n"), "domains/appDom:2", 1},
      {"SP103", "error", put("domains/superDom", "-p module badarg grant\n"), "domains/superDom", 1},
      {"SP104", "error",
       [](CheckLintTest&) {
         ASSERT_EQ(RunTool("hostsim", {"fail", "SetSyscallRule", "--match", "open"}).status, 0);
       },
       "domains/appDom:1", 1},
      {"SP105", "error", [](CheckLintTest& t) { fs::remove_all(t.root_ / "etc/norvane/secpolicy/fileLabels"); },
       "fileLabels", 1},
      {"SP106", "error", put("tardisks/orphan", "-E appLabel appDom\n"), "tardisks/orphan", 1},
      {"SP201", "warning", put("domains/appDom", "-s open grant\n-s open grant\n"), "domains/appDom:1"},
      {"SP202", "warning", put("domains/appDom", "-c kill grant\n-c kill revoke\n"), "domains/appDom:1"},
      {"SP203", "warning", put("fileLabels/map", "@/a appLabel\n@/a appLabel\n"), "fileLabels/map:1"},
      // A tardisk's label is only looked up when the load sets it.
      {"SP204", "warning",
       [](CheckLintTest& t) {
         t.Put("tardisks/p1", "-E nosuch appDom\n");
         std::ofstream(t.root_ / "tardisks/t1") << "archive";
         ASSERT_EQ(RunTool("hostsim", {"tardisk", "map", (t.root_ / "etc/norvane/secpolicy/tardisks/p1").string(), "t1"}).status, 0);
       },
       "tardisks/p1:1", 1},
      {"SP205", "warning", put("fileLabels/map", "@/link appLabel\n"), "fileLabels/map:1"},
      {"SP206", "warning", put("domains/appDom", "-r /etc// rw\n"), "domains/appDom:1"},
      {"SP207", "warning", put("objects/main", "appLabel\n#" + std::string(1100, 'x') + "\n"), "objects/main:2"},
      {"SP208", "warning", put("fileLabels/map", "@/a appLabel\n@/gone appLabel\n"), "fileLabels/map:2", 1},
      {"SP209", "warning",
       [](CheckLintTest& t) {
         t.Put("objects/main", "appLabel\nheld\n");
         ASSERT_EQ(t.Secpolicy({"load"}).status, 0);
         t.Put("objects/main", "appLabel\ntwo words\nheld\n");
         t.Put("domains/appDom", "-a held read grant\n");
       },
       "objects/main:2", 1},
      {"SP301", "note", put("objects/main", "appLabel\nspare\n"), "objects/main:2"},
      {"SP302", "note", put("domains/lost", ""), "domains/lost"},
  };
  for (const CodeCase& c : cases) {
    SCOPED_TRACE(c.code);
    TearDown();
    SetUp();
    c.edit(*this);
    const auto result = Secpolicy({"check", "--json"});
    SKIP_WITHOUT_ROOT();
    const auto json = nlohmann::json::parse(result.out);
    const std::size_t colon = c.at.find(':');
    const std::string path = kDir + c.at.substr(0, colon);
    const nlohmann::json line = colon == std::string::npos ? nlohmann::json(nullptr)
                                                           : nlohmann::json(std::stoi(c.at.substr(colon + 1)));
    std::set<std::string> found;  // a failed constraint check is two lines
    for (const auto& f : json["findings"]) {
      if (f["code"] == c.code) found.insert(f["path"].get<std::string>() + " " + f["line"].dump() + " " + f["level"].get<std::string>());
    }
    EXPECT_EQ(found, std::set<std::string>{path + " " + line.dump() + " " + c.level}) << result.out;
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(json["ok"], c.status == 0);

    const std::string text = Secpolicy({"check", "--notes"}).err;
    const bool fromLinter = (c.code >= "SP201" && c.code <= "SP206") || c.code >= "SP300";
    EXPECT_EQ(text.find("[" + c.code + "]\n") != std::string::npos, fromLinter) << text;
  }
}

TEST_F(CheckLintTest, SarifHoldsEveryLevelAndIsValid) {
  Put("domains/appDom", "-s open grnat\n");
  Put("domains/daemonFrameworkDom", "-c kill grant\n-c kill grant\n");
  Put("objects/main", "appLabel\nspare\n");
  const auto result = Secpolicy({"check", "--format", "sarif"});
  SKIP_WITHOUT_ROOT();
  EXPECT_EQ(result.status, 1);
  const std::string file = scratch_.str() + "/check.sarif";
  std::ofstream(file) << result.out;
  const std::string schema = SECPOLICY_SOURCE_DIR "/tests/secpolicy/analysis/sarif-schema-2.1.0.json";
  ASSERT_EQ(system(("/usr/bin/python3 -c 'import json, sys, jsonschema; "
                    "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))' " +
                    file + " " + schema).c_str()),
            0);
  const auto log = nlohmann::json::parse(result.out);
  Lines results;
  for (const auto& r : log["runs"][0]["results"]) {
    const auto& location = r["locations"][0]["physicalLocation"];
    results.push_back(r["ruleId"].get<std::string>() + " " + r["level"].get<std::string>() + " " +
                      location["artifactLocation"]["uri"].get<std::string>() + ":" +
                      location["region"]["startLine"].dump());
  }
  EXPECT_EQ(results, (Lines{"SP101 error domains/appDom:1", "SP201 warning domains/daemonFrameworkDom:1",
                            "SP301 note objects/main:2"}));
}

TEST_F(CheckLintTest, StrictFailsOnTheLintersWarningsButNeverOnNotesNorSuppressed) {
  Put("objects/main", "appLabel\nspare\n");  // a note only
  EXPECT_EQ(Secpolicy({"check", "--strict"}).status, 0);
  SKIP_WITHOUT_ROOT();
  const auto notes = Secpolicy({"check", "--strict", "--json"});
  EXPECT_EQ(nlohmann::json::parse(notes.out)["ok"], true);
  EXPECT_EQ(Secpolicy({"check"}).err, "");  // notes are listed with --notes only

  Put("domains/appDom", "-s open grant\n-s open grant\n");
  EXPECT_EQ(Secpolicy({"check"}).status, 0);
  EXPECT_EQ(Secpolicy({"check", "--strict"}).status, 1);
  const auto json = nlohmann::json::parse(Secpolicy({"check", "--strict", "--json"}).out);
  EXPECT_EQ(json["ok"], false);
  EXPECT_EQ(json["warnings"], nlohmann::json::array());  // the load's own, as always

  // Silenced on its line, or for the whole file: nothing left to fail.
  for (const std::string tree : {"-s open grant # secpolicy: ignore SP201\n-s open grant\n",
                                 "# secpolicy: ignore SP100, SP201\n-s open grant\n-s open grant\n"}) {
    Put("domains/appDom", tree);
    const auto quiet = Secpolicy({"check", "--strict"});
    EXPECT_EQ(quiet.status, 0) << tree;
    EXPECT_EQ(quiet.err, "") << tree;
  }
}

// Every code explains itself as secpolicy(8) does; unknown codes are a usage error.
TEST(CheckExplainTest, EveryCodeAsTheManPageSaysIt) {
  std::ifstream in(SECPOLICY_SOURCE_DIR "/doc/secpolicy.8.scd");
  const std::string page(std::istreambuf_iterator<char>(in), {});
  const std::regex entry(R"(\*(SP\d\d\d)\* \((\w+)\): ([^\n]*)\n\t([^\n]*)\n)");
  int codes = 0;
  for (std::sregex_iterator it(page.begin(), page.end(), entry), end; it != end; ++it, ++codes) {
    const auto& m = *it;
    SCOPED_TRACE(m[1].str());
    const auto result = RunTool("secpolicy", {"check", "--explain", m[1].str()});
    EXPECT_EQ(result.status, 0);
    std::istringstream words(result.out);
    std::string first, word, rest;
    std::getline(words, first);
    while (words >> word) rest += (rest.empty() ? "" : " ") + word;
    EXPECT_EQ(first, m[1].str() + " (" + m[2].str() + "): " + m[3].str());
    EXPECT_EQ(rest, m[4].str());
  }
  EXPECT_EQ(codes, 19);
  const auto lower = RunTool("secpolicy", {"check", "--explain", "sp302"});
  EXPECT_EQ(lower.out.substr(0, 12), "SP302 (note)");
  for (const char* unknown : {"SP999", "SP20", ""}) {
    const auto result = RunTool("secpolicy", {"check", "--explain", unknown});
    EXPECT_EQ(result.status, 2) << unknown;
  }
  EXPECT_EQ(RunTool("secpolicy", {"check", "--explain", "SP999"}).err,
            "Error: no code SP999: the codes are listed in secpolicy(8)\n");
  EXPECT_EQ(RunTool("secpolicy", {"check", "--json", "--format", "sarif"}).status, 2);
}

}  // namespace
