// Host services of the simulated host: profile, options, configuration
// store, sysinfo, file labels, logs, the tool and the private host root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "hostsim/admin.h"
#include "platform/advanced_options.h"
#include "platform/config_store.h"
#include "platform/file_label_attr.h"
#include "platform/host_system.h"
#include "platform/hyx_access.h"
#include "platform/sysinfo.h"
#include "tests/support/sim_fixture.h"

namespace {

using HostCtl::Lib::HostCtlException;
using TestSupport::RunTool;
using ::testing::HasSubstr;

class HostServicesTest : public TestSupport::SimulatedHostTest {};

std::string ThrownText(const std::function<void()>& body) {
  try {
    body();
  } catch (const HostCtlException& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

TEST_F(HostServicesTest, BadProfilesAreRefusedWithAClearMessage) {
  struct Case {
    std::string json;
    std::string message;
  };
  std::ifstream in(std::string(SECPOLICY_SOURCE_DIR) + "/hostsim/profiles/default.json");
  const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto replaced = [&](const std::string& piece, const std::string& by) {
    std::string text = good;
    text.replace(text.find(piece), piece.size(), by);
    return text;
  };
  for (const Case& c : std::vector<Case>{
           {"{\"maxDomains\": 64", "not valid JSON"},
           {replaced("\"maxDomains\": 64,", ""), "missing key \"maxDomains\""},
           {replaced("\"execEvent\"", "\"execEvnt\""), "missing key \"tardisks.execEvent\""},
           {replaced("\"maxDomains\": 64", "\"maxDomains\": \"64\""),
            "\"maxDomains\" must be a whole number"},
           {replaced("\"execEvent\": \"exec\"", "\"execEvent\": \"launch\""),
            "\"tardisks.execEvent\" must be one of \"keywords.events\""},
           {replaced("\"initialFileLabel\": \"unlabeled\"", "\"initialFileLabel\": 3"),
            "\"initialFileLabel\" must be a non-empty string"},
       }) {
    const std::string path = scratch_.Write("bad.json", c.json);
    const std::string text = ThrownText([&] { HostSim::Init(path); });
    EXPECT_THAT(text, HasSubstr("Bad host profile " + path + ": "));
    EXPECT_THAT(text, HasSubstr(c.message));
  }
  // The refused profile left the state as it was.
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  EXPECT_EQ(iface.GetMaxDomains(), 64u);
}

// Set values are read through the library by the template and restore tests;
// here, what those do not reach: an unset option, a missing key.
TEST_F(HostServicesTest, UnsetOptionAndMissingKeyAreAbsent) {
  HyxCtl::Adv::AdvancedOptionImpl options;
  HostSim::SetIntegerOption("/UserVars/X", -4);
  HostSim::UnsetOption("/UserVars/X");
  EXPECT_EQ(options.FindOption("/UserVars/X"), nullptr);

  const PalConfigStore::ConfigStoreObjectId id("domain_settings", "security", "pal", "appDom");
  HostSim::SetConfigValue("appDom", "enforcement_level", "audit");
  auto object = PalConfigStore::GetDesiredUserConfig(id, PalConfigStore::FLAG_NONE);
  ASSERT_NE(object, nullptr);
  std::string value = "kept";
  EXPECT_FALSE(object->GetValue("other", &value));
  EXPECT_EQ(value, "kept");
}

TEST_F(HostServicesTest, SysinfoNamesTheMappedTardiskAtOffset36) {
  const std::string file = scratch_.Write("tardisks/pkg.tgz/policy", "x");
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  auto read = [&](unsigned long inode) {
    HyxCtl::Util::Sysinfo node(QSI_NODE_system_lumenfs_inodes_stats);
    node.AddInstancePath(inode);
    std::vector<char> record(548, 'z');
    node.Get(record.data(), 548);
    return std::string(record.data() + 36);
  };
  EXPECT_EQ(read(info.st_ino), "");
  HostSim::MapTardisk(file, "pkg.tgz");
  EXPECT_EQ(read(info.st_ino), "pkg.tgz");

  EXPECT_THROW(HyxCtl::Util::Sysinfo(QSI_NODE_system_lumenfs_inodes_stats + 1), HostCtlException);
  HyxCtl::Util::Sysinfo node(QSI_NODE_system_lumenfs_inodes_stats);
  char buffer[548];
  EXPECT_THROW(node.Get(buffer, 548), HostCtlException);  // no instance yet
  node.AddInstancePath(info.st_ino);
  EXPECT_THROW(node.Get(buffer, 547), HostCtlException);
}

TEST_F(HostServicesTest, InitFileLabelWritesTheInitialLabelWithoutFollowingLinks) {
  const std::string top = scratch_.MakeDir("tree");
  const std::string inner = scratch_.Write("tree/sub/file", "x");
  const std::string outside = scratch_.Write("outside", "x");
  ASSERT_EQ(symlink(outside.c_str(), (top + "/link").c_str()), 0);
  auto label = [](const std::string& path) -> std::int64_t {
    std::uint32_t id = 0;
    if (getxattr(path.c_str(), HyxCtl::Security::kFileLabelAttribute, &id, sizeof id) != sizeof id) return -1;
    return id;
  };
  try {
    HostSim::InitFileLabel(top, true);
  } catch (const HostCtlException& e) {
    GTEST_SKIP() << "no security attributes here: " << e.what();
  }
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  const std::int64_t unlabeled = iface.LookupLabel("unlabeled", HYXACCESS_LABEL_OBJECT);
  EXPECT_EQ(label(top), unlabeled);
  EXPECT_EQ(label(inner), unlabeled);
  EXPECT_EQ(label(outside), -1);
  EXPECT_THROW(HostSim::InitFileLabel(scratch_.str() + "/missing", false), HostCtlException);
}

TEST_F(HostServicesTest, ToolSharesTheStateWithThisProcess) {
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  const std::uint32_t id = iface.CreateDomain("appDom", HYXACCESS_QSI_DEFDOM_APP);
  EXPECT_EQ(RunTool("hostsim", {"world", "add", "12", std::to_string(id)}).status, 0);
  EXPECT_EQ(RunTool("hostsim", {"fail", "SetSyscallRule", "--message", "from the tool", "--times", "1"}).status, 0);
  HyxAccess_SyscallRule rule;
  rule.domainId = id;
  rule.syscallName = "open";
  EXPECT_EQ(ThrownText([&] { iface.SetSyscallRule(rule); }), "from the tool");
  iface.SetSyscallRule(rule);
  HyxCtl::System::WriteToKlog("hello", "[INFO]");

  const auto journal = RunTool("hostsim", {"journal"});
  EXPECT_EQ(journal.status, 0);
  EXPECT_EQ(journal.out, "CreateDomain 2 appDom 2\nAddWorld 12 2\nSetSyscallRule 2 appDom open revoke\n");
  EXPECT_EQ(RunTool("hostsim", {"log"}).out, "[INFO] hello\n");

  const auto refused = RunTool("hostsim", {"world", "add", "13", "40"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "Error: No domain with id 40\n");
  EXPECT_EQ(RunTool("hostsim", {"world"}).status, 2);
  EXPECT_EQ(RunTool("hostsim", {"config", "boot-status", "appDom"}).out, "false\n");
}

TEST_F(HostServicesTest, ConcurrentWritersNeverLoseAWrite) {
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  const std::uint32_t id = iface.CreateDomain("d", HYXACCESS_QSI_DEFDOM_NONE);
  constexpr int kChildren = 4, kWorlds = 25;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // A fresh process: its own connection to the same state.
      try {
        for (int w = 0; w < kWorlds; ++w) HostSim::AddWorld(c * 100 + w, id);
      } catch (...) {
        _exit(1);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string name, level;
  std::uint32_t state = 0, refs = 0, worlds = 0;
  HyxAccessQsi_DefaultDom kind{};
  ASSERT_TRUE(iface.GetCompleteDomainInfo(id, name, level, state, refs, worlds, kind));
  EXPECT_EQ(worlds, static_cast<std::uint32_t>(kChildren * kWorlds));
  EXPECT_EQ(HostSim::Journal().size(), 1u + kChildren * kWorlds);
}

TEST_F(HostServicesTest, HostRootShowsTheTestFoldersAndLeavesTheMachineAlone) {
  const std::string root = scratch_.MakeDir("root");
  scratch_.Write("root/etc/norvane/secpolicy/marker", "policy");
  scratch_.Write("root/tardisks/one.tgz", "disk");
  const std::string written = scratch_.str() + "/written-inside";
  const bool hadNorvane = access("/etc/norvane", F_OK) == 0;
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    try {
      HostSim::EnterHostRoot(root);
    } catch (const HostCtlException& e) {
      const bool unprivileged = std::strstr(e.what(), "need root or CAP_SYS_ADMIN") != nullptr;
      _exit(unprivileged ? 42 : 1);
    }
    std::ifstream marker("/etc/norvane/secpolicy/marker");
    std::string text;
    marker >> text;
    const bool ok = text == "policy" && access("/tardisks/one.tgz", F_OK) == 0 &&
                    access("/etc/passwd", R_OK) == 0 && std::ofstream(written).good();
    _exit(ok ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 42) GTEST_SKIP() << "not privileged";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(access(written.c_str(), F_OK), 0);
  EXPECT_EQ(access("/etc/norvane", F_OK) == 0, hadNorvane);
  EXPECT_NE(access("/tardisks/one.tgz", F_OK), 0);
}


TEST_F(HostServicesTest, RunWithoutThePrivilegeSaysWhatIsMissing) {
  if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is needed to drop the privilege";
  const std::string command = "/usr/bin/setpriv --bounding-set=-sys_admin --inh-caps=-sys_admin -- " +
                              std::string(SECPOLICY_BIN_DIR) + "/hostsim run --root " + scratch_.str() +
                              " -- true 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe.get()) != nullptr) output += buffer;
  const int status = pclose(pipe.release());
  if (output.find("setpriv") != std::string::npos) GTEST_SKIP() << output;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_THAT(output, HasSubstr("Error: hostsim: cannot enter a private mount namespace (need root or "
                                "CAP_SYS_ADMIN): "));
}

}  // namespace
