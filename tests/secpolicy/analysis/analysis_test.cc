// The policy model, the linter and the queries on small trees in a scratch
// folder, read on a throwaway copy of a fresh simulated kernel.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "secpolicy/analysis/graph.h"
#include "secpolicy/analysis/lint.h"
#include "secpolicy/analysis/lint_report.h"
#include "secpolicy/analysis/query.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace SecPolicy::Analysis;
using Files = std::map<std::string, std::string>;  // relative path to content; "@" = the scratch folder

class AnalysisTest : public TestSupport::SimulatedHostTest {
 protected:
  std::string Tree() const { return scratch_.str() + "/tree"; }
  Model Read(const Files& files) {
    fs::remove_all(Tree());
    if (!fs::exists(scratch_.path() / "real")) {
      scratch_.Write("real/f", "");
      fs::create_symlink(scratch_.path() / "real", scratch_.path() / "link");
      scratch_.MakeDir("open");
      chmod((scratch_.str() + "/open").c_str(), 0777);
    }
    fs::create_directories(Tree() + "/domains");
    fs::create_directories(Tree() + "/objects");
    fs::create_directories(Tree() + "/fileLabels");
    scratch_.Write("tree/objects/base", "objA\nobjB\n");
    scratch_.Write("tree/domains/globalVMDom", "-a objA read grant\n-a objB read grant\n");
    for (auto [path, text] : files) {
      for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, scratch_.str());
      scratch_.Write("tree/" + path, text);
    }
    return ReadTree(Tree());
  }
  // "relative:line" of every finding with `code`.
  std::vector<std::string> Where(const Model& model, const std::string& code) {
    std::vector<std::string> where;
    for (const auto& f : Lint(model)) {
      if (f.code != code) continue;
      where.push_back(fs::path(f.path).lexically_relative(Tree()).string() +
                      (f.line ? ":" + std::to_string(*f.line) : ""));
    }
    return where;
  }
};

struct LintCase {
  std::string code;
  Files fires;
  std::string at;  // the one finding, as "relative:line"
  Files fixed, suppressed;
};

class LintCodeTest : public AnalysisTest, public ::testing::WithParamInterface<LintCase> {};

TEST_P(LintCodeTest, FiresOnceAndStaysSilentWhenFixedOrSuppressed) {
  const LintCase& c = GetParam();
  EXPECT_EQ(Where(Read(c.fires), c.code), std::vector<std::string>{c.at});
  EXPECT_EQ(Where(Read(c.fixed), c.code), std::vector<std::string>{}) << "fixed";
  EXPECT_EQ(Where(Read(c.suppressed), c.code), std::vector<std::string>{}) << "suppressed";
}

INSTANTIATE_TEST_SUITE_P(
    Codes, LintCodeTest,
    ::testing::Values(
        LintCase{"SP201",
                 {{"domains/d1", "-s open grant\n-s read grant\n-s open grant\n"}},
                 "domains/d1:1",
                 {{"domains/d1", "-s open grant\n-s read grant\n"}},
                 {{"domains/d1", "-s open grant # secpolicy: ignore SP201\n-s open grant\n"}}},
        LintCase{"SP202",
                 {{"domains/d1", "-c kill grant\n-c kill revoke\n"}},
                 "domains/d1:1",
                 {{"domains/d1", "-c kill revoke\n"}},
                 {{"domains/d1", "# secpolicy: ignore SP202\n-c kill grant\n-c kill revoke\n"}}},
        LintCase{"SP203",
                 {{"fileLabels/m", "@/f objA\n@/g objA\n@/f/* objB\n"}},
                 "fileLabels/m:1",
                 {{"fileLabels/m", "@/f objA\n@/g objB\n"}},
                 {{"fileLabels/m", "@/f objA  # secpolicy: ignore SP203, SP205\n@/f objB\n"}}},
        LintCase{"SP205",
                 {{"fileLabels/m", "@/link objA\n@/real objB\n"}},
                 "fileLabels/m:1",
                 {{"fileLabels/m", "@/real objA\n"}},
                 {{"fileLabels/m", "@/link objA # secpolicy: ignore SP205\n"}}},
        LintCase{"SP205",
                 {{"fileLabels/m", "@/open/f objA\n"}},
                 "fileLabels/m:1",
                 {{"fileLabels/m", "@/real/f objA\n"}},
                 {{"fileLabels/m", "# secpolicy: ignore SP205\n@/open/f objA\n"}}},
        LintCase{"SP206",
                 {{"domains/d1", "-r /etc/ssh rw\n-r /etc// rw\n-r /usr r\n"}},
                 "domains/d1:2",
                 {{"domains/d1", "-r /etc/ssh rw\n-r /usr rx\n"}},
                 {{"domains/d1", "-r /etc w # secpolicy: ignore SP206\n"}}},
        LintCase{"SP301",
                 {{"objects/more", "\nlonely\n"}},
                 "objects/more:2",
                 {{"objects/more", "lonely\n"}, {"domains/d1", "-a lonely read grant\n"}},
                 {{"objects/more", "lonely # secpolicy: ignore SP301\n"}}},
        LintCase{"SP302",
                 {{"domains/ioFilterDom", ""}, {"domains/lost", "-d objA lost exec grant\n"}},
                 "domains/lost",
                 {{"domains/ioFilterDom", "-d objB lost exec grant\n"}, {"domains/lost", ""}},
                 {{"domains/lost", "# secpolicy: ignore SP302\n"}}}),
    [](const auto& param) { return param.param.code + "_" + std::to_string(param.index); });

TEST_F(AnalysisTest, ParseErrorsAreProblemsAndLaterLinesAreNotRules) {
  const Model model = Read({{"domains/d1", "-s open grant\n\n-s nosuch grant\n-s read grant\n"},
                            {"objects/bad", "ok\ntwo words\nlater\n"}});
  // Only the tree's own: this machine may have no tardisks.
  std::vector<Problem> problems;
  for (const Problem& p : model.problems) {
    if (p.source.path.starts_with(Tree())) problems.push_back(p);
  }
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].source.path, Tree() + "/objects/bad");
  EXPECT_EQ(problems[0].source.line, 2u);
  EXPECT_EQ(problems[0].text, Tree() + "/objects/bad:2 : cannot define more than one object per line");
  EXPECT_EQ(problems[1].source.line, 3u);
  EXPECT_EQ(problems[1].text,
            "Error in parsing policy for domain: d1: 3 : Unknown syscall keyword: nosuch");
  std::vector<std::string> d1;
  for (const Rule& rule : model.rules) {
    if (rule.domain == "d1") d1.push_back(rule.Text() + "@" + std::to_string(rule.source.line));
  }
  EXPECT_EQ(d1, std::vector<std::string>{"-s open grant@1"});
  // A load never takes the objects after a bad line; the model keeps them apart.
  ASSERT_EQ(model.unreadObjects.size(), 1u);
  EXPECT_EQ(model.unreadObjects[0].name + "@" + std::to_string(model.unreadObjects[0].source.line), "later@3");
  for (const ObjectDef& object : model.objects) EXPECT_NE(object.name, "later");
}

std::vector<std::string> Lines(const Model& model, const QueryOptions& options) {
  std::vector<std::string> lines;
  for (const Answer& answer : Query(model, options)) lines.push_back(AnswerLine(answer, false));
  return lines;
}

TEST_F(AnalysisTest, QueriesNameTheirSourceAndShadowing) {
  const Model model = Read({
      {"domains/d1", "-s open grant\n-a objA read grant\n-s open revoke\n-r /data rw\n-r /data/a/b r\n"},
      {"domains/d2", "-d objB d1 exec grant\n-d objA d1 open revoke\n-r / r\n-r /data/a x\n"},
      {"fileLabels/m", "@/x/* objA\n@/x/y objB\n"},
  });
  const std::string d1 = Tree() + "/domains/d1:";
  const std::string d2 = Tree() + "/domains/d2:";
  QueryOptions match;
  match.match = "open";
  match.type = "-s";
  EXPECT_EQ(Lines(model, match),
            (std::vector<std::string>{d1 + "1: d1: -s open grant (shadowed by " + d1 + "3)",
                                      d1 + "3: d1: -s open revoke"}));
  match.action = "grant";
  EXPECT_EQ(Lines(model, match).size(), 1u);

  QueryOptions enters;
  enters.enters = "d1";
  enters.action = "grant";
  EXPECT_EQ(Lines(model, enters), std::vector<std::string>{d2 + "1: d2: -d objB d1 exec grant"});

  QueryOptions uses;
  uses.uses = "objA";
  uses.type = "-a";
  EXPECT_EQ(Lines(model, uses),
            (std::vector<std::string>{d1 + "2: d1: -a objA read grant",
                                      Tree() + "/domains/globalVMDom:1: globalVMDom: -a objA read grant"}));

  QueryOptions path;
  path.path = "/data/a/b/c";
  EXPECT_EQ(Lines(model, path), (std::vector<std::string>{d1 + "5: d1: -r /data/a/b r",
                                                          d1 + "4: d1: -r /data rw",
                                                          d2 + "4: d2: -r /data/a x",
                                                          d2 + "3: d2: -r / r"}));
  path.path = scratch_.str() + "/x/y";
  EXPECT_EQ(Query(model, path).at(0).text, "label " + scratch_.str() + "/x/y: objB");
  path.path = scratch_.str() + "/x/z";
  EXPECT_EQ(Query(model, path).at(0).text, "label " + scratch_.str() + "/x/z: objA");

  QueryOptions bad;
  bad.type = "-z";
  EXPECT_THROW(Query(model, bad), std::invalid_argument);
}

TEST_F(AnalysisTest, GraphHasTheTransitionsThatTakeEffect) {
  const Model model = Read({{"domains/d1", "-d objA d2 exec grant\n-d objB d2 exec revoke\n"},
                            {"domains/d2", "-d objA d1 exec revoke\n-d objA d1 exec grant\n"},
                            {"domains/ev\"il", ""}});
  const std::string dot = TransitionGraph(model);
  EXPECT_NE(dot.find("\"d1\" -> \"d2\" [label=\"objA / exec\"];"), std::string::npos) << dot;
  EXPECT_NE(dot.find("\"d1\" -> \"d2\" [label=\"objB / exec\", style=dashed];"), std::string::npos);
  EXPECT_EQ(dot.find("\"d2\" -> \"d1\" [label=\"objA / exec\", style=dashed]"), std::string::npos);
  EXPECT_NE(dot.find("\"ev\\\"il\";"), std::string::npos);
  if (system("command -v dot >/dev/null") != 0) GTEST_SKIP() << "Graphviz is not installed";
  // Parsed back by Graphviz itself.
  const std::string file = scratch_.str() + "/g.dot";
  std::ofstream(file) << dot;
  ASSERT_EQ(system(("dot -Tjson " + file + " > " + file + ".json").c_str()), 0);
  std::ifstream in(file + ".json");
  const auto graph = nlohmann::json::parse(in);
  std::map<int, std::string> names;
  for (const auto& node : graph.at("objects")) names[node.at("_gvid").get<int>()] = node.at("name");
  std::multiset<std::string> edges;
  for (const auto& edge : graph.at("edges")) {
    edges.insert(names[edge.at("tail").get<int>()] + ">" + names[edge.at("head").get<int>()] + " " +
                 edge.at("label").get<std::string>() + (edge.contains("style") ? " dashed" : ""));
  }
  EXPECT_EQ(edges.count("d1>d2 objA / exec"), 1u);
  EXPECT_EQ(edges.count("d1>d2 objB / exec dashed"), 1u);
  EXPECT_EQ(edges.count("d2>d1 objA / exec"), 1u);
  EXPECT_TRUE(names.size() >= 3 && std::count_if(names.begin(), names.end(), [](const auto& n) {
                return n.second == "ev\"il";
              }) == 1);
}

TEST_F(AnalysisTest, SarifIsValid210) {
  const Model model = Read({{"domains/d1", "-s open grant\n-s open grant\n"}, {"objects/o", "x\n"}});
  auto findings = Lint(model);
  findings.push_back({"SP100", Level::Error, "/elsewhere/with space", std::nullopt, "load error"});
  ASSERT_GE(findings.size(), 3u);
  const std::string file = scratch_.str() + "/out.sarif";
  std::ofstream(file) << FindingsSarif(findings, Tree() + "/", "0.1.0");
  const std::string schema = SECPOLICY_SOURCE_DIR "/tests/secpolicy/analysis/sarif-schema-2.1.0.json";
  const std::string validate = "/usr/bin/python3 -c 'import json, sys, jsonschema; "
                               "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))' " +
                               file + " " + schema;
  ASSERT_EQ(system(validate.c_str()), 0);
  std::ifstream in(file);
  const auto log = nlohmann::json::parse(in);
  nlohmann::json result;
  for (const auto& r : log["runs"][0]["results"]) {
    if (r["ruleId"] == "SP201") result = r;
  }
  EXPECT_EQ(result["ruleId"], "SP201");
  EXPECT_EQ(result["level"], "warning");
  EXPECT_EQ(result["locations"][0]["physicalLocation"]["artifactLocation"]["uri"], "domains/d1");
  EXPECT_EQ(result["locations"][0]["physicalLocation"]["region"]["startLine"], 1);
  EXPECT_EQ(log["runs"][0]["results"].back()["locations"][0]["physicalLocation"]["artifactLocation"]["uri"],
            "file:///elsewhere/with%20space");
}

}  // namespace
