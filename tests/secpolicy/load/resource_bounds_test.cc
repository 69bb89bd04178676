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
#include "tests/secpolicy/load/child_process.h"
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

// Standard streams, the state (database, WAL, index, the writers' lock) and
// a few more, among them the pipe a sanitizer opens to probe memory.
constexpr rlim_t kFew = 14;

class ResourceBoundsTest : public TestSupport::SimulatedHostTest {
 protected:
  struct Run {
    int status;
    long peakKilobytes;
    std::string err;
  };
  // secpolicy COMMAND on the folder `dir` below the scratch folder.
  Run Load(const std::string& command, const std::string& dir, rlim_t nofile = 0) {
    TestChild::Child child({SECPOLICY_BIN_DIR "/secpolicy", command, scratch_.str() + "/" + dir},
                           scratch_.path() / "err", nofile);
    const int status = child.Wait();
    return {status, child.PeakKilobytes(), child.Err().substr(0, 500)};
  }
  // A labelled tree of `files` empty files, 100 to a folder, and the folder
  // `name`-map of one mapping that labels the whole tree.
  std::string LabelledTree(const std::string& name, int files) {
    const fs::path tree = scratch_.path() / name;
    for (int i = 0; i < files; ++i) {
      if (i % 100 == 0) fs::create_directories(tree / std::to_string(i / 100));
      std::ofstream(tree / std::to_string(i / 100) / std::to_string(i));
    }
    HostSim::InitFileLabel(tree.string(), true);
    scratch_.Write(name + "-map/map", tree.string() + "/* logFile\n");
    return name + "-map";
  }
};

TEST_F(ResourceBoundsTest, ManyFilesNeedOnlyAFewDescriptors) {
  for (int i = 0; i < 300; ++i) {
    if (i < 60) scratch_.Write("domains/dom" + std::to_string(i), "-s open grant\n-r / r\n");  // 64 slots
    scratch_.Write("objects/o" + std::to_string(i), "object" + std::to_string(i) + "\n");
    scratch_.Write("labels/map" + std::to_string(i), "/no/such/file" + std::to_string(i) + " logFile\n");
  }
  for (const char* command : {"load-objects", "load-domains"}) {
    const Run run = Load(command, command + 5, kFew);
    EXPECT_EQ(run.status, 0) << command << ": " << run.err;
  }
  // Every mapping fails, each through its own attempt; none for lack of descriptors.
  const Run labels = Load("load-file-labels", "labels", kFew);
  EXPECT_EQ(labels.status, 1);
  EXPECT_EQ(labels.err.find("Too many open files"), std::string::npos) << labels.err;
  EXPECT_EQ(labels.err.find("Unable to open policy file"), std::string::npos) << labels.err;
  // A tree walk holds one descriptor per level, not per file.
  EXPECT_EQ(Load("load-file-labels", LabelledTree("wide", 3000), kFew).status, 0);
  constexpr int kDepth = 60;
  fs::path deep = scratch_.path() / "deep";
  for (int level = 0; level < kDepth; ++level) deep /= "d";
  fs::create_directories(deep);
  HostSim::InitFileLabel(scratch_.str() + "/deep", true);
  scratch_.Write("deep-map/map", scratch_.str() + "/deep/* logFile\n");
  EXPECT_EQ(Load("load-file-labels", "deep-map", kFew + kDepth).status, 0);
}

// A sanitizer's shadow memory and quarantine would be measured, not the load.
TEST_F(ResourceBoundsTest, PeakMemoryFollowsThePolicyNotTheLabelledTree) {
#ifdef SECPOLICY_SANITIZED
  GTEST_SKIP() << "peak memory under a sanitizer measures the sanitizer";
#endif
  const Run small = Load("load-file-labels", LabelledTree("small", 1000));
  const Run large = Load("load-file-labels", LabelledTree("large", 20000));
  ASSERT_EQ(small.status, 0) << small.err;
  ASSERT_EQ(large.status, 0) << large.err;
  // Twenty times the files: well under the 2 MB that keeping every path would take.
  EXPECT_LT(large.peakKilobytes - small.peakKilobytes, 1024) << small.peakKilobytes << " KB, then " << large.peakKilobytes;

  // appDom fails its constraint check, so its file path rules are parsed
  // and held but nothing is written.
  std::vector<long> peaks;
  for (int rules : {0, 20000, 200000}) {
    std::string text = "-p ioctl usb grant\n";
    for (int i = 0; i < rules; ++i) text += "-r /opt/app/data/file-" + std::to_string(i) + " rw\n";
    scratch_.Write("held" + std::to_string(rules) + "/appDom", text);
    const Run run = Load("load-domains", "held" + std::to_string(rules));
    EXPECT_EQ(run.status, 1) << run.err;
    peaks.push_back(run.peakKilobytes - (peaks.empty() ? 0 : peaks[0]));
  }
  ASSERT_GT(peaks[1], 500) << "the held rules should show";
  EXPECT_GT(peaks[2], 6 * peaks[1]) << peaks[1] << " KB for 20,000 rules, " << peaks[2] << " KB for 200,000";
  EXPECT_LT(peaks[2], 14 * peaks[1]) << peaks[1] << " KB for 20,000 rules, " << peaks[2] << " KB for 200,000";
}

}  // namespace
