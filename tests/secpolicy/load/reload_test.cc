// A reload converges as on a real kernel: loading twice holds what loading
// once does, an edited action replaces the old rule, a reboot followed by a
// load equals a fresh host's load, and loads started together serialise.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <chrono>
#include <memory>
#include <thread>

#include "hostsim/admin.h"
#include "secpolicy/platform/advanced_options.h"
#include "tests/secpolicy/load/child_process.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::RunTool;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kExample = SECPOLICY_SOURCE_DIR "/examples/host/etc/norvane/secpolicy";

class ReloadTest : public TestSupport::SimulatedHostTest {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    fs::copy(kExample + "/domains", domains_);
    fs::remove_all(domains_ + "/plugins");
  }
  // Objects and domains of the example host, as a boot loads them.
  void Load() {
    for (const auto& [command, dir] : {std::pair{"load-objects", kExample + "/objects"},
                                       std::pair{"load-domains", domains_}}) {
      const auto result = RunTool("secpolicy", {command, dir});
      ASSERT_EQ(result.status, 0) << result.err;
    }
  }
  std::string Display() { return RunTool("secpolicy", {"display-domains"}).out; }

  std::string domains_ = (scratch_.path() / "domains").string();
};

TEST_F(ReloadTest, LoadingTwiceHoldsWhatLoadingOnceDoesAndAnEditReplaces) {
  Load();
  const std::string once = Display();
  ASSERT_THAT(once, HasSubstr("-s reboot grant"));
  Load();
  EXPECT_EQ(Display(), once);

  // superDom's only reboot rule turns from grant to revoke.
  std::ifstream in(domains_ + "/superDom");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  text.replace(text.find("-s reboot grant"), 15, "-s reboot revoke");
  std::ofstream(domains_ + "/superDom") << text;
  Load();
  const std::string edited = Display();
  EXPECT_THAT(edited, Not(HasSubstr("-s reboot grant")));
  EXPECT_EQ(edited.size(), once.size() + 1);  // "revoke" for "grant", nothing more
}

TEST_F(ReloadTest, RebootThenLoadEqualsInitThenLoad) {
  Load();
  const std::string fresh = Display();
  const std::string objects = RunTool("secpolicy", {"display-objects"}).out;
  const std::string id = RunTool("secpolicy", {"domain", "create", "extraDom"}).out;
  HostSim::AddWorld(7, static_cast<std::uint32_t>(std::stoul(id)));
  HostSim::SetIntegerOption("/UserVars/CheckAccessTemplateEnabled", 0);
  ASSERT_FALSE(HostSim::KernelLog().empty());

  EXPECT_EQ(RunTool("hostsim", {"reboot"}).status, 0);
  EXPECT_TRUE(HostSim::KernelLog().empty());
  EXPECT_EQ(HostSim::Journal().back(), "Reboot");
  EXPECT_THAT(Display(), Not(HasSubstr("extraDom")));
  EXPECT_EQ(RunTool("secpolicy", {"domain", "of-world", "7"}).status, 1);
  // What survives a real reboot: advanced options.
  std::unique_ptr<HostCtl::Adv::AdvancedOption> option(
      HyxCtl::Adv::AdvancedOptionImpl().FindOption("/UserVars/CheckAccessTemplateEnabled"));
  EXPECT_NE(option, nullptr);
  Load();
  EXPECT_EQ(Display(), fresh);
  EXPECT_EQ(RunTool("secpolicy", {"display-objects"}).out, objects);
}

// Loads started together wait for each other: all succeed, and the kernel
// holds what one load gives.
TEST_F(ReloadTest, LoadsStartedTogetherAllSucceedAndLeaveOneLoad) {
  Load();
  const std::string one = Display();
  for (int round = 0; round < 3; ++round) {
    HostSim::Init();
    ASSERT_EQ(RunTool("secpolicy", {"load-objects", kExample + "/objects"}).status, 0);
    std::vector<std::unique_ptr<TestChild::Child>> loads;
    for (int i = 0; i < 4; ++i) {
      loads.push_back(std::make_unique<TestChild::Child>(
          std::vector<std::string>{SECPOLICY_BIN_DIR "/secpolicy", "load-domains", domains_},
          scratch_.path() / ("err" + std::to_string(i))));
    }
    for (auto& load : loads) EXPECT_EQ(load->Wait(), 0) << load->Err();
    EXPECT_EQ(Display(), one) << "round " << round;
  }
}

// A load, and an init that would reset the state under one.
TEST_F(ReloadTest, AWriterWaitsForTheLockSayingSoOnceWhileReadersGoOn) {
  const std::vector<std::pair<std::vector<std::string>, int>> writers = {
      {{SECPOLICY_BIN_DIR "/secpolicy", "load-domains", domains_}, 1},  // the example's objects are not loaded
      {{SECPOLICY_BIN_DIR "/hostsim", "init"}, 0},
  };
  for (const auto& [command, status] : writers) {
    SCOPED_TRACE(command[1]);
    auto held = std::make_unique<HostSim::WriterLock>();
    TestChild::Child writer(command, scratch_.path() / "err");
    EXPECT_EQ(RunTool("secpolicy", {"display-domains"}).status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(writer.Running());
    held.reset();
    EXPECT_EQ(writer.Wait(), status);
    const std::string said = "hostsim state " + std::string(std::getenv("HOSTSIM_STATE")) +
                             ": waiting for another writer to finish\n";
    EXPECT_EQ(writer.Err().substr(0, said.size()), said);
    EXPECT_EQ(writer.Err().find(said, 1), std::string::npos);
  }
}

}  // namespace
