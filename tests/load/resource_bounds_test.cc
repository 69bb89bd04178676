// Resource bounds of a load, shown without timing: the loads run with an
// open-file limit that leaves room for a few descriptors beyond the state's
// and one per level of the deepest labelled tree; the peak memory of a load
// follows the size of the policy and not the size of the labelled tree.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "tests/load/child_process.h"
#include "tests/support/sim_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define SECPOLICY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SECPOLICY_SANITIZED 1
#endif
#endif

namespace {

namespace fs = std::filesystem;
using TestChild::Child;
using Strings = std::vector<std::string>;

const std::string kSecpolicy = SECPOLICY_BIN_DIR "/secpolicy";

// Standard streams, the state (database, WAL, index) and a few more.
constexpr rlim_t kFewDescriptors = 12;

class ResourceBoundsTest : public TestSupport::SimulatedHostTest {
 protected:
  struct Run {
    int status;
    long peakKilobytes;
    std::string err;
  };
  Run Load(const Strings& args, rlim_t nofile = 0) {
    Strings argv{kSecpolicy};
    argv.insert(argv.end(), args.begin(), args.end());
    Child child(argv, scratch_.MakeDir("io" + std::to_string(++runs_)), "", nofile);
    const int status = child.Wait();
    return {status, child.PeakKilobytes(), child.Err()};
  }
  // A labelled tree of `files` empty files, 100 to a folder, every file with
  // its initial label, and one mapping that labels the whole tree.
  std::string LabelledTree(const std::string& name, int files) {
    const fs::path tree = scratch_.path() / name;
    for (int i = 0; i < files; ++i) {
      const fs::path folder = tree / ("d" + std::to_string(i / 100));
      if (i % 100 == 0) fs::create_directories(folder);
      std::ofstream(folder / ("file-" + std::to_string(i))) << "";
    }
    HostSim::InitFileLabel(tree.string(), true);
    return scratch_.Write(name + "-map/map", tree.string() + "/* logFile\n");
  }
  // A domain of `rules` file path rules that fails its constraint check, so
  // the rules are parsed and held but nothing is written.
  std::string HeldPolicy(const std::string& name, int rules) {
    std::string text = "-p ioctl usb grant\n";
    for (int i = 0; i < rules; ++i) text += "-r /opt/app/data/file-" + std::to_string(i) + " rw\n";
    scratch_.Write(name + "/appDom", text);
    return (scratch_.path() / name).string();
  }
  int runs_ = 0;
};

TEST_F(ResourceBoundsTest, ManyPolicyFilesNeedOnlyAFewDescriptors) {
  std::string objects;
  for (int i = 0; i < 300; ++i) {
    if (i < 60) scratch_.Write("domains/dom" + std::to_string(i), "-s open grant\n-r / r\n");  // 64 slots
    scratch_.Write("objects/o" + std::to_string(i), "object" + std::to_string(i) + "\n");
    scratch_.Write("labels/map" + std::to_string(i), "/no/such/file" + std::to_string(i) + " logFile\n");
  }
  for (const char* command : {"load-objects", "load-domains"}) {
    const Run run = Load({command, (scratch_.path() / (command[5] == 'o' ? "objects" : "domains")).string()},
                         kFewDescriptors);
    EXPECT_EQ(run.status, 0) << command << ": " << run.err.substr(0, 500);
  }
  // Every mapping fails, each through its own attempt; none for lack of descriptors.
  const Run labels = Load({"load-file-labels", (scratch_.path() / "labels").string()}, kFewDescriptors);
  EXPECT_EQ(labels.status, 1);
  EXPECT_EQ(labels.err.find("Too many open files"), std::string::npos) << labels.err.substr(0, 500);
  EXPECT_EQ(labels.err.find("Unable to open policy file"), std::string::npos) << labels.err.substr(0, 500);
}

TEST_F(ResourceBoundsTest, TreeWalkNeedsOneDescriptorPerLevelNotPerFile) {
  const std::string wide = LabelledTree("wide", 3000);
  EXPECT_EQ(Load({"load-file-labels", fs::path(wide).parent_path().string()}, kFewDescriptors).status, 0);

  constexpr int kDepth = 60;
  fs::path deep = scratch_.path() / "deep";
  for (int level = 0; level < kDepth; ++level) deep /= "d";
  fs::create_directories(deep);
  HostSim::InitFileLabel((scratch_.path() / "deep").string(), true);
  const std::string map = scratch_.Write("deep-map/map", (scratch_.path() / "deep").string() + "/* logFile\n");
  EXPECT_EQ(Load({"load-file-labels", fs::path(map).parent_path().string()}, kFewDescriptors + kDepth).status, 0);
}

// A sanitizer's shadow memory and quarantine would be measured, not the load.
#ifdef SECPOLICY_SANITIZED
#define SKIP_WHEN_SANITIZED() GTEST_SKIP() << "peak memory under a sanitizer measures the sanitizer"
#else
#define SKIP_WHEN_SANITIZED() static_cast<void>(0)
#endif

TEST_F(ResourceBoundsTest, PeakMemoryIsFlatInTheLabelledTree) {
  SKIP_WHEN_SANITIZED();
  const std::string small = LabelledTree("small", 1000);
  const std::string large = LabelledTree("large", 20000);
  const Run one = Load({"load-file-labels", fs::path(small).parent_path().string()});
  const Run twenty = Load({"load-file-labels", fs::path(large).parent_path().string()});
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(twenty.status, 0) << twenty.err;
  // Twenty times the files: well under the 2 MB that keeping every path would take.
  EXPECT_LT(twenty.peakKilobytes - one.peakKilobytes, 1024)
      << one.peakKilobytes << " KB for 1,000 files, " << twenty.peakKilobytes << " KB for 20,000";
}

TEST_F(ResourceBoundsTest, PeakMemoryGrowsLinearlyWithThePolicy) {
  SKIP_WHEN_SANITIZED();
  const Run none = Load({"load-domains", HeldPolicy("none", 0)});
  const Run one = Load({"load-domains", HeldPolicy("one", 20000)});
  const Run ten = Load({"load-domains", HeldPolicy("ten", 200000)});
  for (const Run* run : {&none, &one, &ten}) EXPECT_EQ(run->status, 1);  // the constraint check
  const long growthOne = one.peakKilobytes - none.peakKilobytes;
  const long growthTen = ten.peakKilobytes - none.peakKilobytes;
  ASSERT_GT(growthOne, 500) << "the held rules should show";
  EXPECT_GT(growthTen, 6 * growthOne) << growthOne << " KB for 20,000 rules, " << growthTen << " KB for 200,000";
  EXPECT_LT(growthTen, 14 * growthOne) << growthOne << " KB for 20,000 rules, " << growthTen << " KB for 200,000";
}

}  // namespace
