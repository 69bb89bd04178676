// check, diff, display --json and the domain lookups, run as the tools
// under a private host root (skipped where the process may not make one).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/xattr.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <sstream>

#include "secpolicy/platform/file_label_attr.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::RunTool;
using TestSupport::ToolResult;
using Lines = std::vector<std::string>;

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Slurp(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class DryRunTest : public TestSupport::HostRootTest {
 protected:
  void SetUp() override {
    HostRootTest::SetUp();
    Put("domains/globalVMDom", "");
    Put("domains/ioFilterDom", "");
    Put("domains/daemonFrameworkDom", "");
    Put("domains/superDom", "");
    Put("domains/appDom", "-s open grant\n-s read grant\n");
    Put("objects/main", "appLabel\n");
    Put("fileLabels/map", Files() + "/a appLabel\n");
    fs::create_directories(root_ / "tardisks");
    std::ofstream(root_ / "tardisks/t1") << "archive";
    std::ofstream(root_ / "files/a") << "";
    Tool("hostsim", {"label-init", "--recursive", (root_ / "tardisks").string(), Files()});
  }

  void Tool(const std::string& tool, const Lines& args) {
    const auto result = RunTool(tool, args);
    ASSERT_EQ(result.status, 0) << result.err;
  }

  // Every byte of the state and every label of the trees.
  std::string Everything() const {
    std::string all = Slurp(scratch_.path() / "state.db") + Slurp(scratch_.path() / "state.db-wal");
    for (const auto& tree : {root_ / "files", root_ / "tardisks"}) {
      for (const auto& entry : fs::recursive_directory_iterator(tree)) {
        char value[8] = {};
        const ssize_t size = getxattr(entry.path().c_str(), HyxCtl::Security::kFileLabelAttribute,
                                      value, sizeof value);
        all += entry.path().string() + "=" + std::string(value, size > 0 ? size : 0) + "\n";
      }
    }
    return all;
  }
};

TEST_F(DryRunTest, CheckReportsEveryBadLineWithItsPathAndLine) {
  Put("domains/appDom", "-s open grant\n-s read grnat\n-s write grant\n-x foo\n-s nosuch grant\n");
  Put("domains/superDom", "-p module badarg grant\n");  // fails the constraint check: no line
  Put("objects/main", "appLabel\nextra words\nlater\n");
  Put("fileLabels/map", Files() + "/a appLabel\n/x nolabel\n/a/*/b appLabel\none\n");
  Put("domains/ioFilterDom", "-s open grant\n-s " + std::string(1100, 'a') + " grant\n-s bad\n");
  const auto result = Secpolicy({"check"});
  SKIP_WITHOUT_ROOT();
  const std::string dir = "/etc/norvane/secpolicy/";
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(SplitLines(result.err),
            (Lines{dir + "domains/appDom:2: invalid keyword grnat",
                   dir + "domains/appDom:4: invalid policy rule type (-x)",
                   dir + "domains/appDom:5: Unknown syscall keyword: nosuch",
                   // The load reads the first 1023 characters and no further line.
                   dir + "domains/ioFilterDom:2: incorrect number of arguments for this rule type",
                   dir + "domains/ioFilterDom:2: warning: line longer than 1023 characters: a load "
                         "takes its first 1023 characters and reads nothing after them in this file",
                   dir + "domains/superDom: Policy constraint error for domain: superDom : "
                         "Parameter check module does not take the argument badarg",
                   dir + "domains/superDom: Skipping the policy for domain superDom due to errors "
                         "in the policy",
                   dir + "fileLabels/map:2: Unknown object keyword: nolabel",
                   dir + "fileLabels/map:3: Unrecognized format for file/dir specification",
                   dir + "fileLabels/map:4: incorrect no of parameters",
                   dir + "objects/main:2: cannot define more than one object per line"}));

  const auto json = nlohmann::json::parse(Secpolicy({"check", "--json"}).out);
  EXPECT_FALSE(json["ok"]);
  EXPECT_EQ(json["errors"].size(), 10u);
  EXPECT_EQ(json["errors"][5], (nlohmann::json{{"path", dir + "domains/superDom"},
                                               {"line", nullptr},
                                               {"text", "Skipping the policy for domain superDom "
                                                        "due to errors in the policy"}}));
  EXPECT_EQ(json["warnings"][0]["line"], 2);
}

// Each bad line a load never reads is checked in its own file's words, at
// its own line: a tardisk policy keeps its first rule, so a later one is
// still refused as a second. A failed write is placed at its rule.
TEST_F(DryRunTest, CheckPlacesUnreadLinesAndFailedWrites) {
  Put("tardisks/p1", "-E appLabel superDom\n-X bad\n-E appLabel nosuchDom\n\n-E\n");
  Tool("hostsim", {"tardisk", "map", (root_ / "etc/norvane/secpolicy/tardisks/p1").string(), "t1"});
  Put("objects/main", "appLabel\ntwo words\nthree more words\nfine\n");
  Put("fileLabels/map", "/x nolabel\n" + Files() + "/a appLabel\n/y/z/*/ appLabel\n/w other\n");
  Put("fileLabels/more", Files() + "/a appLabel\n" + Files() + "/gone appLabel\n");
  // The write of "read" fails; of the two domains the text could name, only
  // the longer one has it at line 2.
  Put("domains/x", "-s open grant\n-s write grant\n");
  Put("domains/x: 2 : y", "-s open grant\n-s read grant\n");
  Tool("hostsim", {"fail", "SetSyscallRule", "--message", "boom", "--match", "read"});
  const auto result = Secpolicy({"check"});
  SKIP_WITHOUT_ROOT();
  const std::string dir = "/etc/norvane/secpolicy/";
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(SplitLines(result.err),
            (Lines{dir + "domains/appDom:2: Error in setting policy for domain: appDom: 2 : boom",
                   dir + "domains/x: 2 : y:2: Error in setting policy for domain: x: 2 : y: 2 : boom",
                   dir + "fileLabels/map:1: Unknown object keyword: nolabel",
                   dir + "fileLabels/map:3: Unrecognized format for file/dir specification",
                   dir + "fileLabels/map:4: Unknown object keyword: other",
                   dir + "fileLabels/more:2: Unable to set file label (appLabel) for file " + Files() +
                       "/gone: No such file or directory",
                   dir + "fileLabels/more:2: warning: the file to label does not exist: " + Files() + "/gone",
                   dir + "objects/main:2: cannot define more than one object per line",
                   dir + "objects/main:3: cannot define more than one object per line",
                   dir + "tardisks/p1:2: invalid tardisk policy rule type (-X)",
                   dir + "tardisks/p1:3: Only one rule of this type is allowed",
                   dir + "tardisks/p1:5: Only one rule of this type is allowed"}))
      << result.err;

  // A rule after the bad first line is checked, and a load never takes it.
  Put("tardisks/p1", "-X bad\n-E appLabel superDom\n");
  fs::remove(root_ / "etc/norvane/secpolicy/fileLabels/more");
  const auto uses = Secpolicy({"query", "--uses", "appLabel"});
  EXPECT_EQ(uses.out, dir + "objects/main:1: object appLabel\n");
  EXPECT_EQ(SplitLines(Secpolicy({"check"}).err).at(7), dir + "tardisks/p1:1: invalid tardisk policy rule type (-X)");
}

TEST_F(DryRunTest, WarningsAloneFailOnlyAStrictCheck) {
  // Objects the kernel holds now, which the bad line of the file would cost.
  Put("objects/main", "appLabel\nkeepMe\nlostOne\n");
  ASSERT_EQ(Secpolicy({"load"}).status, 0);
  SKIP_WITHOUT_ROOT();
  Put("objects/main", "appLabel\ntwo words\nlostOne\n# " + std::string(1030, 'x') + "\nkeepMe\n");
  Put("objects/more", "keepMe\n");
  Put("fileLabels/map", Files() + "/a appLabel\n" + Files() + "/missing/* appLabel\n");
  const std::string dir = "/etc/norvane/secpolicy/";
  const Lines warnings{
      dir + "fileLabels/map:2: warning: the file to label does not exist: " + Files() + "/missing",
      dir + "objects/main:2: warning: a load stops reading this file at this line and removes "
            "these objects, which the kernel holds now and later lines name: lostOne",
      dir + "objects/main:4: warning: line longer than 1023 characters: a load takes its first "
            "1023 characters and reads nothing after them in this file"};
  const auto check = Secpolicy({"check"});
  Lines err = SplitLines(check.err);
  std::erase_if(err, [](const std::string& line) { return line.find("warning:") == std::string::npos; });
  EXPECT_EQ(err, warnings);

  // Without the errors, warnings alone.
  Put("objects/main", "appLabel\nlostOne\n# " + std::string(1030, 'x') + "\nkeepMe\n");
  Put("fileLabels/map", Files() + "/a appLabel\n");
  const auto clean = Secpolicy({"check"});
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(SplitLines(clean.err).size(), 1u) << clean.err;
  EXPECT_EQ(Secpolicy({"check", "--strict"}).status, 1);
  EXPECT_EQ(nlohmann::json::parse(Secpolicy({"check", "--strict", "--json"}).out)["ok"], false);
  EXPECT_EQ(Secpolicy({"check", "one", "two"}).status, 2);
  EXPECT_EQ(Secpolicy({"diff", "--bogus"}).status, 2);
}

TEST_F(DryRunTest, CheckAndDiffChangeNeitherTheStateNorALabel) {
  ASSERT_EQ(Secpolicy({"load"}).status, 0);
  SKIP_WITHOUT_ROOT();
  // A tree that would change rules, objects and labels, and fails here and there.
  Put("domains/appDom", "-s open revoke\n-s bad\n-s write grant\n");
  Put("domains/newDom", "-s read grant\n");
  Put("objects/main", "appLabel\nnewLabel\n");
  Put("fileLabels/map", Files() + "/a newLabel\n/nowhere appLabel\n");
  const std::string before = Everything();
  for (const std::string command : {"check", "diff"}) {
    const auto result = Secpolicy({command});
    EXPECT_EQ(result.status, command == "check" ? 1 : 4) << command << ": " << result.err;
    EXPECT_EQ(Everything(), before) << command;
  }
}

TEST_F(DryRunTest, DiffShowsWhatALoadWouldChange) {
  ASSERT_EQ(Secpolicy({"load"}).status, 0);
  SKIP_WITHOUT_ROOT();
  const auto same = Secpolicy({"diff"});
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_EQ(same.out, "");

  // Action edited, a rule removed (a load keeps it), an object and a mapping added.
  Put("domains/appDom", "-s open revoke\n");
  Put("objects/main", "appLabel\nnewLabel\n");
  std::ofstream(root_ / "files/b") << "";
  Tool("hostsim", {"label-init", Files() + "/b"});
  Put("fileLabels/map", Files() + "/a appLabel\n" + Files() + "/b newLabel\n");
  const auto diff = Secpolicy({"diff"});
  EXPECT_EQ(diff.status, 1) << diff.err;
  EXPECT_EQ(SplitLines(diff.out), (Lines{"+ object newLabel", "= rule appDom: -s read grant",
                                         "~ label " + Files() + "/b: unlabeled -> newLabel",
                                         "~ rule appDom: -s open grant -> -s open revoke"}));

  const auto json = nlohmann::json::parse(Secpolicy({"diff", "--json"}).out);
  EXPECT_TRUE(json["changed"]);
  EXPECT_EQ(json["changes"][3], (nlohmann::json{{"mark", "~"},
                                                {"kind", "rule"},
                                                {"domain", "appDom"},
                                                {"subject", "-s open"},
                                                {"before", "-s open grant"},
                                                {"after", "-s open revoke"},
                                                {"line", "~ rule appDom: -s open grant -> -s open revoke"}}));

  // Only kept rules: nothing would change.
  Put("domains/appDom", "-s open grant\n");
  Put("objects/main", "appLabel\n");
  Put("fileLabels/map", Files() + "/a appLabel\n");
  const auto kept = Secpolicy({"diff"});
  EXPECT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(kept.out, "= rule appDom: -s read grant\n");
}

TEST_F(DryRunTest, DisplayJsonRuleTextsAreTheTextDisplayLines) {
  root_ = fs::path(SECPOLICY_SOURCE_DIR) / "examples/host";
  Secpolicy({"load"});  // the example's file labels name files this test lacks
  SKIP_WITHOUT_ROOT();
  const auto text = Secpolicy({"display"});
  const auto json = nlohmann::json::parse(Secpolicy({"display", "--json"}).out);
  Lines shown, fromJson;
  for (const auto& line : SplitLines(text.out)) {
    if (line.size() > 2 && line[0] == '-' && line[1] != '-') shown.push_back(line);
  }
  for (const auto& domain : json["domains"]) {
    for (const auto& rule : domain["rules"]) fromJson.push_back(rule["text"]);
  }
  EXPECT_GT(shown.size(), 100u);
  EXPECT_EQ(fromJson, shown);
  EXPECT_EQ(json["domains"][0]["name"], "appDom");
  EXPECT_EQ(json["objects"].size(), SplitLines(RunTool("secpolicy", {"display-objects"}).out).size() - 5);
  EXPECT_EQ(json["tardisks"].size(), 4u);

  const auto one = nlohmann::json::parse(Secpolicy({"display", "--json", "2"}).out);
  ASSERT_EQ(one["domains"].size(), 1u);
  EXPECT_EQ(one["domains"][0], json["domains"][0]);
}

TEST_F(DryRunTest, DomainListAndIdLookUpByName) {
  for (const char* name : {"plain", "caf\xc3\xa9", "raw\xff[2J", "back\\slash"}) {
    Tool("secpolicy", {"domain", "create", name});
  }
  const auto list = RunTool("secpolicy", {"domain", "list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "2\tplain\n3\tcaf\xc3\xa9\n4\traw\\xff[2J\n5\tback\\\\slash\n");
  EXPECT_EQ(nlohmann::json::parse(RunTool("secpolicy", {"domain", "list", "--json"}).out)[1],
            (nlohmann::json{{"id", 3}, {"name", "caf\xc3\xa9"}}));
  EXPECT_EQ(RunTool("secpolicy", {"domain", "id", "raw\xff[2J"}).out, "4\n");
  const auto missing = RunTool("secpolicy", {"domain", "id", "no\nsuch"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "Error: No domain named no\\nsuch\n");
}


struct StatusCase {
  std::string name;
  std::function<void()> edit;  // run before the command, undone by the next case's SetUp
  Lines args;
  int status;
  std::string err;  // "": anything; else the whole of standard error
  std::string out;  // likewise for standard output
};

// What each dry-run or verify command answers when its input is broken: the
// exit status tells "changes/differences" from "would fail" and "could not
// answer", and the reasons are the literal lines a script would read.
TEST_F(DryRunTest, ExitStatusesOnBrokenInputs) {
  ASSERT_EQ(Secpolicy({"load"}).status, 0);
  SKIP_WITHOUT_ROOT();
  const std::string dir = "/etc/norvane/secpolicy/";
  const std::string map = dir + "fileLabels/map";
  const std::string state = (scratch_.path() / "state.db").string();
  const auto badLine = [this] { Put("domains/appDom", "-s open grant\n-s read grnat\n-s write grant\n"); };
  const StatusCase cases[] = {
      {"clean check", [] {}, {"check"}, 0, "", ""},
      {"clean diff", [] {}, {"diff"}, 0, "", ""},
      {"check of a bad line", badLine, {"check"}, 1, dir + "domains/appDom:2: invalid keyword grnat\n", ""},
      // The load stops at line 2: the rules before it are written, line 3 is not.
      {"diff of a bad line", badLine, {"diff"}, 4, dir + "domains/appDom:2: invalid keyword grnat\n",
       "= rule appDom: -s read grant\n"},
      {"diff of a missing folder", [] {}, {"diff", "/nonexistent"}, 4,
       "/nonexistent/domains: Unable to open policy directory /nonexistent/domains\n"
       "/nonexistent/fileLabels: Unable to open policy directory /nonexistent/fileLabels\n"
       "/nonexistent/objects: Unable to open policy directory /nonexistent/objects\n",
       ""},
      {"diff without a state", [state] { std::filesystem::rename(state, state + ".away"); },
       {"diff"}, 3,
       "Error: hostsim state " + state + ": no such file; run 'hostsim init' to create a simulated host\n", ""},
      {"diff of a refused state", [state] { fs::permissions(state, fs::perms::group_write, fs::perm_options::add); },
       {"diff"}, 3, "Error: hostsim state " + state + ": is writable by other users\n", ""},
      {"verify of a difference", [this] { Tool("secpolicy", {"label", "set", Files() + "/a", "unlabeled"}); },
       {"label", "verify", dir + "fileLabels"}, 1, "", Files() + "/a: unlabeled -> appLabel\n"},
      {"verify of a missing path", [] {}, {"label", "verify", "--mappings", dir + "fileLabels", "/nonexistent"},
       3, "Error: Unable to examine /nonexistent: No such file or directory\n", ""},
      {"verify of a file no mapping covers", [this] { std::ofstream(root_ / "files/b") << ""; },
       {"label", "verify", "--mappings", dir + "fileLabels", Files() + "/b"}, 3,
       "Error: No file-label mapping covers " + Files() + "/b\n", ""},
      {"verify of mappings that do not parse", [this] { Put("fileLabels/map", Files() + "/a appLabel\none\n"); },
       {"label", "verify", dir + "fileLabels"}, 3,
       "Error: Error parsing file " + map + "\nError: " + map + ":2 : incorrect no of parameters\n", ""},
      {"verify of a missing folder", [] {}, {"label", "verify", "--mappings", "/nonexistent", Files() + "/a"},
       3, "Error: Unable to open policy directory /nonexistent\nError: No file-label mapping covers " +
              Files() + "/a\n", ""},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    ASSERT_EQ(Secpolicy({"load"}).status, 0);
    c.edit();
    const auto result = Secpolicy(c.args);
    EXPECT_EQ(result.status, c.status) << result.err;
    if (!c.err.empty()) {
      EXPECT_EQ(result.err, c.err);
    }
    if (!c.out.empty() || c.status == 0) {
      EXPECT_EQ(result.out, c.out);
    }
    if (fs::exists(state + ".away")) fs::rename(state + ".away", state);
    fs::permissions(state, fs::perms::group_write, fs::perm_options::remove);
  }
}

TEST_F(DryRunTest, DiffJsonOfAFailingLoadCarriesItsErrors) {
  ASSERT_EQ(Secpolicy({"load"}).status, 0);
  SKIP_WITHOUT_ROOT();
  Put("domains/appDom", "-s open grant\n-s read grnat\n");
  Put("domains/newDom", "-s read grant\n");
  const auto result = Secpolicy({"diff", "--json"});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(nlohmann::json::parse(result.out),
            nlohmann::json::parse(R"({"changed": true, "loadFails": true,
              "errors": [{"path": "/etc/norvane/secpolicy/domains/appDom", "line": 2,
                          "text": "invalid keyword grnat"}],
              "changes": [
                {"mark": "+", "kind": "domain", "domain": null, "subject": "newDom",
                 "before": null, "after": null, "line": "+ domain newDom"},
                {"mark": "+", "kind": "rule", "domain": "newDom", "subject": "-s read",
                 "before": null, "after": "-s read grant", "line": "+ rule newDom: -s read grant"},
                {"mark": "=", "kind": "rule", "domain": "appDom", "subject": "-s read",
                 "before": "-s read grant", "after": "-s read grant",
                 "line": "= rule appDom: -s read grant"}]})"));
}

// Labels a load cannot keep meaningful: a file whose object the tree
// removes, and a file that has no label attribute for the load to replace.
TEST_F(DryRunTest, DiffShowsDanglingAndMissingLabels) {
  Put("objects/main", "appLabel\nvmDisk\n");
  fs::create_directories(root_ / "files/disks/d1");
  std::ofstream(root_ / "files/disks/d1/img") << "";
  Tool("hostsim", {"label-init", "-r", Files() + "/disks"});
  Put("fileLabels/map", Files() + "/a appLabel\n" + Files() + "/disks/* vmDisk\n");
  ASSERT_EQ(Secpolicy({"load"}).status, 0);
  SKIP_WITHOUT_ROOT();
  Put("objects/main", "appLabel\n");
  std::ofstream(root_ / "files/new") << "";  // made after label-init: no attribute
  // The load stops reading the file at the line that names vmDisk.
  Put("fileLabels/map", Files() + "/new appLabel\n" + Files() + "/disks/* vmDisk\n");
  const auto diff = Secpolicy({"diff"});
  EXPECT_EQ(diff.status, 4) << diff.err;
  const std::string f = Files();
  EXPECT_EQ(SplitLines(diff.out), (Lines{"! label " + f + "/new: (no label) -> appLabel",
                                         "- object vmDisk",
                                         "~ label " + f + "/disks/d1/img: vmDisk -> (no such object)",
                                         "~ label " + f + "/disks/d1: vmDisk -> (no such object)",
                                         "~ label " + f + "/disks: vmDisk -> (no such object)"}));
  // The file that a mapping keeps relabelling is not dangling.
  Put("fileLabels/map", Files() + "/a appLabel\n" + Files() + "/disks/* appLabel\n");
  std::filesystem::remove(root_ / "files/new");
  const auto relabelled = Secpolicy({"diff"});
  EXPECT_EQ(relabelled.status, 1) << relabelled.err;
  EXPECT_EQ(SplitLines(relabelled.out), (Lines{"- object vmDisk",
                                               "~ label " + f + "/disks/d1/img: vmDisk -> appLabel",
                                               "~ label " + f + "/disks/d1: vmDisk -> appLabel",
                                               "~ label " + f + "/disks: vmDisk -> appLabel"}));
}

// The reader keeps 1,023 characters of a line: one more is what is lost.
TEST_F(DryRunTest, OverlongLineWarningStartsAt1024Characters) {
  for (const std::size_t length : {1022u, 1023u, 1024u, 1025u}) {
    SCOPED_TRACE(length);
    Put("objects/main", "appLabel\n#" + std::string(length - 1, 'x') + "\n");
    const auto check = Secpolicy({"check"});
    SKIP_WITHOUT_ROOT();
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.err, length <= 1023 ? ""
                                        : "/etc/norvane/secpolicy/objects/main:2: warning: line longer "
                                          "than 1023 characters: a load takes its first 1023 characters "
                                          "and reads nothing after them in this file\n");
  }
}

TEST_F(DryRunTest, DisplayNotesADomainItCannotShow) {
  ASSERT_EQ(Secpolicy({"load"}).status, 0);
  SKIP_WITHOUT_ROOT();
  const std::string appDomId = Secpolicy({"domain", "id", "appDom"}).out;
  const std::pair<std::string, std::string> cases[] = {
      {appDomId.substr(0, appDomId.size() - 1), ""},
      {"99", "Note: no domain with id 99\n"},
      {"4294967395", "Note: no domain with id 99\n"},  // the library takes the low 32 bits
      {"appDom", "Note: display takes a domain id: use 'secpolicy domain id NAME'\n"},
  };
  for (const auto& [argument, note] : cases) {
    for (const Lines& args : {Lines{"display", argument}, Lines{"display", "--json", argument}}) {
      const auto result = Secpolicy(args);
      EXPECT_EQ(result.status, 0) << argument;
      EXPECT_EQ(result.err, note) << argument;
    }
  }
}

// Every key a consumer reads, by name and type, for one rule of each kind.
TEST_F(DryRunTest, DisplayJsonHasExactlyTheDocumentedMembers) {
  Put("domains/appDom",
      "-a appLabel read grant\n-c setuid grant\n-d appLabel superDom exec grant\n"
      "-f appLabel appLabel file grant\n-p socket inet stream grant\n-r /tmp rw\n"
      "-s open grant\n-u appLabel create revoke\n");
  ASSERT_EQ(Secpolicy({"load"}).status, 0);
  SKIP_WITHOUT_ROOT();
  const std::string id = Secpolicy({"domain", "id", "appDom"}).out;
  const std::string superDom = Secpolicy({"domain", "id", "superDom"}).out;
  const auto json = nlohmann::json::parse(Secpolicy({"display", "--json", id.substr(0, id.size() - 1)}).out);
  EXPECT_EQ(json["tardisks"], nlohmann::json::parse(R"([{"path": "/tardisks/t1", "label": "unlabeled"}])"));
  ASSERT_EQ(json["domains"].size(), 1u);
  nlohmann::json expected = nlohmann::json::parse(R"({
    "id": 0, "name": "appDom", "enforcement": "enforcing", "state": 0, "refCount": 1,
    "worldRefCount": 0, "defaultDom": 0, "rules": [
      {"type": "-a", "text": "-a appLabel read grant", "objectName": "appLabel",
       "accessType": "read", "grant": true},
      {"type": "-c", "text": "-c setuid grant", "capabilityName": "setuid", "grant": true},
      {"type": "-d", "text": "-d appLabel superDom exec grant", "objectName": "appLabel",
       "targetDomainName": "superDom", "targetDomainId": 0, "event": "exec", "grant": true},
      {"type": "-f", "text": "-f appLabel appLabel file grant", "firstObject": "appLabel",
       "secondObject": "appLabel", "creationKeyword": "file", "grant": true},
      {"type": "-p", "text": "-p socket inet stream grant", "paramCheck": "socket",
       "firstArg": "inet", "secondArg": "stream", "grant": true},
      {"type": "-r", "text": "-r /tmp rw", "path": "/tmp", "permissions": "rw"},
      {"type": "-s", "text": "-s open grant", "syscallName": "open", "grant": true},
      {"type": "-u", "text": "-u appLabel create revoke", "objectName": "appLabel",
       "socketKeyword": "create", "grant": false}]})");
  expected["id"] = std::stoul(id);
  expected["rules"][2]["targetDomainId"] = std::stoul(superDom);
  EXPECT_EQ(json["domains"][0], expected);
}

}  // namespace
