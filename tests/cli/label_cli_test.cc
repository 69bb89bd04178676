// label verify, label match, and the walk options (--jobs, --exclude,
// --progress) of the labelling commands, run as separate processes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/platform/file_label_attr.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::RunTool;
using Args = std::vector<std::string>;

// A tree of 12 folders of 12 files, labelled with the initial label, and
// mappings: the tree to logFile, tree/d3 to systemFile, tree/d5/f7 to tmpFile.
class LabelCliTest : public TestSupport::SimulatedHostTest {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    tree_ = scratch_.MakeDir("tree");
    for (int d = 0; d < 12; ++d) {
      for (int f = 0; f < 12; ++f) Touch("tree/d" + std::to_string(d) + "/f" + std::to_string(f));
    }
    HostSim::InitFileLabel(tree_, true);
    map_ = scratch_.str() + "/fileLabels";
    scratch_.Write("fileLabels/map", tree_ + "/* logFile\n" + tree_ + "/d3/* systemFile\n" +
                                         tree_ + "/d5/f7 tmpFile\n");
  }
  void Touch(const std::string& relative) { scratch_.Write(relative, ""); }
  std::string Label(const std::string& relative) {
    return RunTool("secpolicy", {"label", "get", tree_ + "/" + relative}).out;
  }
  TestSupport::ToolResult Run(Args args) { return RunTool("secpolicy", args); }

  std::string tree_, map_;
};

TEST_F(LabelCliTest, VerifyReportsUntilALoadAndMatchNamesTheLine) {
  auto before = Run({"label", "verify", map_});
  EXPECT_EQ(before.status, 1);
  EXPECT_EQ(before.out.substr(0, before.out.find('\n') + 1), tree_ + ": unlabeled -> logFile\n");
  EXPECT_NE(before.out.find(tree_ + "/d3/f0: unlabeled -> systemFile\n"), std::string::npos);
  EXPECT_NE(before.out.find(tree_ + "/d5/f7: unlabeled -> tmpFile\n"), std::string::npos);
  EXPECT_EQ(std::count(before.out.begin(), before.out.end(), '\n'), 1 + 12 * 13);

  ASSERT_EQ(Run({"load-file-labels", map_}).status, 0);
  const auto after = Run({"label", "verify", "--json", map_});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(after.out, "{\"matched\":157,\"differences\":[],\"errors\":[]}\n");

  const auto match = Run({"label", "match", "--mappings", map_, tree_ + "/d3", tree_ + "/d3/f1",
                          tree_ + "/d5/f7", tree_ + "/d5/f8", scratch_.str()});
  EXPECT_EQ(match.status, 1);
  EXPECT_EQ(match.out, tree_ + "/d3: systemFile " + map_ + "/map:2\n" + tree_ +
                           "/d3/f1: systemFile " + map_ + "/map:2\n" + tree_ +
                           "/d5/f7: tmpFile " + map_ + "/map:3\n" + tree_ + "/d5/f8: logFile " +
                           map_ + "/map:1\n" + scratch_.str() + ": (none)\n");
}

TEST_F(LabelCliTest, VerifyOfNamedPathsAndExitStatus) {
  struct Case {
    Args args;
    int status;
    std::string out, err;
  };
  ASSERT_EQ(Run({"label", "set", tree_ + "/d5/f8", "tmpFile"}).status, 0);
  const std::string f8 = tree_ + "/d5/f8";
  const Case cases[] = {
      {{"--mappings", map_, f8}, 1, f8 + ": tmpFile -> logFile\n", ""},
      {{"--mappings", map_, "--json", f8}, 1,
       "{\"matched\":0,\"differences\":[{\"path\":\"" + f8 +
           "\",\"current\":\"tmpFile\",\"wanted\":\"logFile\"}],\"errors\":[]}\n",
       ""},
      {{"--mappings", map_, scratch_.str()}, 3, "",
       "Error: No file-label mapping covers " + scratch_.str() + "\n"},
      {{"--jobs", "x", map_}, 2, "", "@ANY@"},
      {{"--frobnicate"}, 2, "", "@ANY@"},
  };
  for (const Case& c : cases) {
    Args args{"label", "verify"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto result = Run(args);
    EXPECT_EQ(result.status, c.status) << args[2] << result.err;
    EXPECT_EQ(result.out, c.out) << args[2];
    if (c.err != "@ANY@") {
      EXPECT_EQ(result.err, c.err) << args[2];
    }
  }
}

// Several workers give the same labels, exit status and messages as one:
// the failure reported is the one a single worker meets first. (Past that
// failure other workers may already have labelled more than one would.)
TEST_F(LabelCliTest, JobsChangeNeitherResultsNorMessages) {
  const auto unlabelled = [this] {
    for (const char* file : {"/d7/unlabelled", "/d9/unlabelled"}) fs::remove(tree_ + file);
    Touch("tree/d7/unlabelled");  // created after the labels: the write fails
    Touch("tree/d9/unlabelled");
  };
  unlabelled();
  const auto one = Run({"load-file-labels", map_, "--jobs", "1"});
  const auto verifyOne = Run({"label", "verify", map_});
  for (const char* jobs : {"3", "0"}) {
    const auto verifyMany = Run({"label", "verify", map_, "--jobs", jobs, "--progress"});
    EXPECT_EQ(verifyMany.status, verifyOne.status);
    EXPECT_EQ(verifyMany.out, verifyOne.out);
  }
  for (const char* jobs : {"3", "0"}) {
    HostSim::InitFileLabel(tree_, true);
    unlabelled();
    const auto many = Run({"load-file-labels", map_, "--jobs", jobs});
    EXPECT_EQ(many.status, one.status);
    EXPECT_EQ(many.err, one.err);
  }
  for (const char* file : {"/d7/unlabelled", "/d9/unlabelled"}) fs::remove(tree_ + file);
  EXPECT_EQ(Run({"load-file-labels", map_, "--jobs", "0"}).status, 0);
  const auto verifyAll = Run({"label", "verify", map_, "--jobs", "0"});
  EXPECT_EQ(verifyAll.status, 0);
  EXPECT_EQ(verifyAll.out, "");
  EXPECT_EQ(one.status, 1);
  EXPECT_NE(one.err.find(" : Unable to set file label (logFile) for file " + tree_ +
                         "/d7/unlabelled: No data available\n"),
            std::string::npos)
      << one.err;
  EXPECT_EQ(one.err.find("d9/unlabelled"), std::string::npos);
  EXPECT_NE(verifyOne.out.find(tree_ + "/d7/unlabelled: (no label) -> logFile\n"), std::string::npos);
}

TEST_F(LabelCliTest, ExcludedSubtreesAreLeftAlone) {
  const auto set = Run({"label", "set", "-r", tree_, "logFile", "--exclude", tree_ + "/d2",
                        "--exclude", tree_ + "/d4/f4", "-j", "2"});
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(Label("d2"), "unlabeled\n");
  EXPECT_EQ(Label("d2/f1"), "unlabeled\n");
  EXPECT_EQ(Label("d4/f4"), "unlabeled\n");
  EXPECT_EQ(Label("d4/f5"), "logFile\n");
  const auto load = Run({"load-file-labels", map_, "--exclude", tree_ + "/d5/f7"});
  EXPECT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(Label("d5/f7"), "logFile\n");
  EXPECT_EQ(Label("d3/f0"), "systemFile\n");
  EXPECT_EQ(Run({"label", "verify", map_, "--exclude", tree_ + "/d5/f7"}).status, 0);
  EXPECT_EQ(Run({"label", "set", "-r", tree_, "logFile", "--exclude", "/nonexistent"}).status, 1);
}

// Names are hostile: what reaches the terminal or a line-based reader is
// escaped.
TEST_F(LabelCliTest, VerifyEscapesNames) {
  const std::string name = std::string("a\nb\x1b[2J\\c\xff");
  Touch("tree/d0/" + name);
  HostSim::InitFileLabel(tree_ + "/d0/" + name, false);
  const auto result = Run({"label", "verify", "--mappings", map_, tree_ + "/d0/" + name});
  EXPECT_EQ(result.out, tree_ + "/d0/a\\nb\\x1b[2J\\\\c\\xff: unlabeled -> logFile\n");
  // A byte that is not UTF-8 would make the document invalid.
  const auto json = Run({"label", "verify", "--json", "--mappings", map_, tree_ + "/d0/" + name});
  EXPECT_EQ(nlohmann::json::parse(json.out)["differences"][0]["path"],
            tree_ + "/d0/a\\nb\\x1b[2J\\\\c\\xff");
}

// An exclusion names a folder however it is reached; excluding the root
// leaves the whole tree alone.
TEST_F(LabelCliTest, ExclusionsFollowTheNameToTheFolder) {
  const std::string link = scratch_.str() + "/link";
  fs::create_directory_symlink(tree_, link);
  fs::create_directory_symlink(tree_ + "/d4", scratch_.str() + "/d4link");
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    HostSim::InitFileLabel(tree_, true);
    ASSERT_EQ(Run({"label", "set", "-r", tree_, "logFile", "--exclude", link + "/d2", "--exclude",
                   scratch_.str() + "/d4link", "-j", jobs}).status, 0);
    EXPECT_EQ(Label("d2") + Label("d2/f1") + Label("d4/f1") + Label("d3/f1"),
              "unlabeled\nunlabeled\nunlabeled\nlogFile\n");
    HostSim::InitFileLabel(tree_, true);
    ASSERT_EQ(Run({"label", "set", "-r", tree_, "logFile", "--exclude", tree_, "-j", jobs}).status, 0);
    EXPECT_EQ(Label("") + Label("d3/f1"), "unlabeled\nunlabeled\n");
  }
}

// The failure reported is the one a single worker meets first, even when
// another worker meets a later one sooner: a large folder that fails at its
// last entry, walked first, and a small one that fails at once.
TEST_F(LabelCliTest, SeveralWorkersReportTheFailureOneWorkerWould) {
  const std::string top = scratch_.MakeDir("race");
  for (const char* dir : {"race/a", "race/b"}) scratch_.MakeDir(dir);
  std::vector<std::string> order;  // as the walk meets them
  for (const auto& entry : fs::directory_iterator(top)) order.push_back(entry.path().string());
  for (int f = 0; f < 3000; ++f) Touch("race/" + order[0].substr(top.size() + 1) + "/f" + std::to_string(f));
  HostSim::InitFileLabel(top, true);
  std::string last;
  for (const auto& entry : fs::directory_iterator(order[0])) last = entry.path().string();
  ASSERT_EQ(removexattr(last.c_str(), HyxCtl::Security::kFileLabelAttribute), 0);
  ASSERT_EQ(removexattr(order[1].c_str(), HyxCtl::Security::kFileLabelAttribute), 0);
  const auto one = Run({"label", "set", "-r", top, "logFile", "-j", "1"});
  EXPECT_EQ(one.err, "Error: Unable to set file label (logFile) for file " + last + ": No data available\n");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Run({"label", "set", "-r", top, "logFile", "-j", "4"}).err, one.err);
}

TEST_F(LabelCliTest, MatchAndVerifyOfSpecialCases) {
  // A pipe inside a recursive mapping gets that mapping's label.
  ASSERT_EQ(mkfifo((tree_ + "/d1/pipe").c_str(), 0600), 0);
  HostSim::InitFileLabel(tree_ + "/d1/pipe", false);
  EXPECT_EQ(Run({"label", "match", "--mappings", map_, tree_ + "/d1/pipe"}).out,
            tree_ + "/d1/pipe: logFile " + map_ + "/map:1\n");

  // Two mappings of one file: the later wins and the earlier is not held against it.
  const std::string twice = scratch_.str() + "/twice";
  scratch_.Write("twice/map", tree_ + "/d5/f8 tmpFile\n" + tree_ + "/d5/* systemFile\n" + tree_ +
                                  "/d5/f8 logFile\n");
  ASSERT_EQ(Run({"load-file-labels", twice}).status, 0);
  const auto verify = Run({"label", "verify", twice});
  EXPECT_EQ(verify.status, 0) << verify.out;
  EXPECT_EQ(verify.out, "");

  // A name that begins with two dots is an entry like any other.
  Touch("tree/d0/..data");
  HostSim::InitFileLabel(tree_ + "/d0/..data", false);
  for (const char* jobs : {"1", "2"}) {
    ASSERT_EQ(Run({"label", "set", "-r", tree_, "tmpFile", "-j", jobs}).status, 0);
    EXPECT_EQ(Label("d0/..data"), "tmpFile\n") << jobs;
    ASSERT_EQ(Run({"label", "set", "-r", tree_, "logFile", "-j", jobs, "--no-progress"}).status, 0);
  }
}

// The root of a recursive relabel is opened by its name: a warning says
// when that name could lead elsewhere.
TEST_F(LabelCliTest, RecursiveRootThatCouldBeSteeredIsWarnedAbout) {
  const std::string shared = scratch_.MakeDir("shared");
  fs::create_directory(shared + "/t");
  HostSim::InitFileLabel(shared + "/t", true);
  fs::create_directory_symlink(tree_, scratch_.str() + "/link");
  const std::string link = scratch_.str() + "/link";
  const std::string swap = " lies in " + shared +
                           ", which other users may write: they could swap what a recursive relabel walks\n";
  struct Case {
    fs::perms mode;
    std::string root, err;
  };
  const Case cases[] = {
      {fs::perms::owner_all, shared + "/t", ""},
      {fs::perms::all, shared + "/t", "Warning: " + shared + "/t" + swap},
      {fs::perms::all | fs::perms::sticky_bit, shared + "/t", ""},  // the root is the caller's
      {fs::perms::owner_all, link,
       "Warning: " + link + " is a symbolic link: a recursive relabel follows it (the root only; "
                            "no link below the root is ever followed)\n"},
  };
  for (const Case& c : cases) {
    fs::permissions(shared, c.mode);
    const auto set = Run({"label", "set", "-r", c.root, "logFile"});
    EXPECT_EQ(set.status, 0);
    EXPECT_EQ(set.err, c.err) << c.root;
  }
  scratch_.Write("warned/map", shared + "/t/* logFile\n");
  fs::permissions(shared, fs::perms::all);
  EXPECT_EQ(Run({"load-file-labels", scratch_.str() + "/warned"}).err,
            "Warning: " + scratch_.str() + "/warned/map:1 : " + shared + "/t" + swap);
}

}  // namespace
