// The runtime commands of the secpolicy tool, run as separate processes
// against the fixture's simulated host.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include <cstdlib>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/platform/kernel_records.h"
#include "tests/support/sim_fixture.h"

namespace {

using TestSupport::RunTool;
using Args = std::vector<std::string>;
using ::testing::HasSubstr;

class RuntimeCliTest : public TestSupport::SimulatedHostTest {
 protected:
  std::string Out(const Args& args) {
    const auto result = RunTool("secpolicy", args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result.out;
  }
  // The id the tool prints for a new domain.
  std::string Create(const std::string& name) {
    const std::string out = Out({"domain", "create", name});
    return out.substr(0, out.find('\n'));
  }
};

TEST_F(RuntimeCliTest, DomainCreatedByOneProcessIsSeenByTheNext) {
  const std::string id = Create("myDom");
  EXPECT_EQ(Out({"domain", "name", id}), "myDom\n");
  HostSim::AddWorld(-1, static_cast<std::uint32_t>(std::stoul(id)));
  EXPECT_EQ(Out({"domain", "of-world", "-1"}), id + "\n");
  Out({"domain", "destroy", id});  // a world still runs in it: leaked
  EXPECT_EQ(Out({"domain", "leaked"}), id + "\n");
}

TEST_F(RuntimeCliTest, FilePolicyRoundTripAndBoundedRetries) {
  const std::string id = Create("fileDom");
  Out({"file-policy", "add", "0", id, "/bin", "rx", "/etc/x", "0x3"});
  EXPECT_EQ(Out({"file-policy", "list", id}), "/bin 0x11\n/etc/x 0x3\n");
  Out({"file-policy", "update", id, "/bin", "wr"});
  Out({"file-policy", "replace", "/bin", "/sbin"});
  Out({"file-policy", "remove", "0", id, "/etc/x"});
  EXPECT_EQ(Out({"file-policy", "count", id}), "1\n");

  HostSim::Fault retry;
  retry.operation = "RetrieveFilePolicies";
  retry.status = kHyxAccessStatusRetry;
  retry.times = 2;
  HostSim::AddFault(retry);
  EXPECT_EQ(Out({"file-policy", "list", id}), "/sbin 0x3\n");
  retry.times.reset();
  HostSim::AddFault(retry);
  EXPECT_EQ(RunTool("secpolicy", {"file-policy", "list", id}).status, 75);
}

// Arguments reach the library as given, so its own checks answer with exit 1;
// bad numbers and arity are usage errors (exit 2) that reach no kernel.
TEST_F(RuntimeCliTest, RefusalsAndUsageErrors) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"domain", "create", ""}, "Must specify domain name"},
      {{"domain", "add-hvc", "1", ""}, "Must specify service string"},
      {{"file-policy", "remove", "0", "1", ""}, "file path is empty"},
      {{"file-policy", "update", "1", "", "r"}, "File path is empty"},
      {{"file-policy", "replace", "", ""}, "Old path is empty"},
      {{"cap", "set", "1", "19", "0"}, "Capability is not in range"},
      {{"param-check", "set", "1", "10", "0", "--null-mode"}, "ParamCheck is not in range"},
      {{"param-check", "remove", "1", "9", "--null-mode"}, "Mode Param is NULL"},
      {{"domain", "create"}, ""}, {{"domain", "destroy", "7x"}, ""}, {{"domain", "destroy", "-1"}, ""},
      {{"domain", "name", "4294967296"}, ""}, {{"domain", "of-world", "2147483648"}, ""},
      {{"cap", "set", "1", "2", "256"}, ""}, {{"file-policy", "add", "0", "1", "/a"}, ""},
      {{"file-policy", "add", "0", "1", "/a", "rq"}, ""}, {{"file-policy", "add", "0", "1", "/a", "rr"}, ""},
      {{"file-policy", "add", "0", "1", "/a", "r", "/b"}, ""}, {{"param-check", "remove", "1", "2", "3"}, ""},
      {{"param-check", "set", "1", "2", "3", "4", "5", "--null-mode"}, ""}, {{"label", "set", "/a"}, ""}};
  for (const auto& [args, text] : cases) {
    const auto result = RunTool("secpolicy", args);
    EXPECT_EQ(result.status, text.empty() ? 2 : 1) << args[1] << " " << args.back();
    const std::string shown = result.err + result.out;
    EXPECT_TRUE(text.empty() ? !result.err.empty() : shown == "Error: " + text + "\n") << shown;
  }
  EXPECT_TRUE(HostSim::Journal().empty());
}

// Names are the kernel's to define, and it refuses control characters: C0,
// DEL and the C1 controls in UTF-8. Other bytes, UTF-8 or not, are names.
TEST_F(RuntimeCliTest, KernelRefusesNamesHoldingControlCharacters) {
  const struct {
    std::string name;
    std::string shown;  // as the error prints it; empty when the name is accepted
  } rows[] = {
      {"esc\x1b[2J", "esc\\x1b[2J"}, {"a\x01", "a\\x01"}, {"del\x7f", "del\\x7f"},
      {"c1\xc2\x80", "c1\\xc2\\x80"}, {"c1\xc2\x9b", "c1\\xc2\\x9b"}, {"c1\xc2\x9f", "c1\\xc2\\x9f"},
      {"nbsp\xc2\xa0", ""}, {"caf\xc3\xa9", ""}, {"raw\xff\x80", ""}, {"x\xc2", ""},
  };
  for (const auto& row : rows) {
    const auto created = RunTool("secpolicy", {"domain", "create", row.name});
    EXPECT_EQ(created.status, row.shown.empty() ? 0 : 1) << row.shown;
    if (!row.shown.empty()) {
      EXPECT_EQ(created.err, "Error: Failed to create domain:" + row.shown + " :Invalid argument\n");
    }
    scratch_.Write("objects/main", "okObj\n" + row.name + "\n");
    const auto loaded = RunTool("secpolicy", {"load-objects", scratch_.str() + "/objects"});
    EXPECT_EQ(loaded.status, row.shown.empty() ? 0 : 1) << row.shown;
    EXPECT_EQ(loaded.err, row.shown.empty() ? ""
                                            : "Error: Error in defining some objects\n"
                                              "Error: Failure in object policy\n");
  }
  // What the control library's callers see.
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  for (const auto& [call, text] : std::vector<std::pair<std::function<void()>, std::string>>{
           {[&] { iface.CreateDomain("tab\there", HYXACCESS_QSI_DEFDOM_NONE); },
            "Domain name holds control character U+0009 at byte offset 3"},
           {[&] { iface.AddLabels({"ok", "c1\xc2\x9b"}, HYXACCESS_LABEL_OBJECT); },
            "Object name holds control character U+009B at byte offset 2"},
           {[&] { iface.AddLabels({"nl\n"}, HYXACCESS_LABEL_DOMAIN); },
            "Domain name holds control character U+000A at byte offset 2"}}) {
    try {
      call();
      ADD_FAILURE() << text;
    } catch (const HostCtl::Lib::HostCtlException& refusal) {
      EXPECT_EQ(std::string(refusal.what()), text);
    }
  }
}

// A state edited by hand can still hold such names, and a path any byte:
// whatever prints them escapes them, the library's display included.
TEST_F(RuntimeCliTest, NamesAndPathsArePrintedEscaped) {
  const std::string id = Create("c1Dom");
  scratch_.Write("objects/main", "c1Obj\n");
  Out({"load-objects", scratch_.str() + "/objects"});
  const std::string edit = "sqlite3 '" + std::string(std::getenv("HOSTSIM_STATE")) +
                           "' \"UPDATE domains SET name = CAST(X'6331C29B446F6D' AS TEXT) WHERE id = " + id +
                           "; UPDATE objects SET name = CAST(X'6331C29B4F626A1B5B324A' AS TEXT) WHERE name = 'c1Obj'\"";
  ASSERT_EQ(std::system(edit.c_str()), 0);
  Out({"file-policy", "add", "0", id, "/a\nb\xc2\x9b\x1b", "r"});

  EXPECT_EQ(Out({"domain", "name", id}), "c1\\xc2\\x9bDom\n");
  EXPECT_THAT(Out({"domain", "list"}), HasSubstr(id + "\tc1\\xc2\\x9bDom\n"));
  EXPECT_THAT(Out({"domain", "list", "--json"}), HasSubstr("\"c1\\u009bDom\""));
  EXPECT_EQ(Out({"file-policy", "list", id}), "/a\\nb\\xc2\\x9b\\x1b 0x1\n");
  EXPECT_THAT(Out({"display-domains", id}), HasSubstr("Domain Name: c1\\xc2\\x9bDom Domain ID :" + id));
  EXPECT_THAT(Out({"display-objects"}), HasSubstr("\nc1\\xc2\\x9bObj\\x1b[2J ("));
  const auto refused = RunTool("secpolicy", {"domain", "create", "x\ny"});
  EXPECT_EQ(refused.err, "Error: Failed to create domain:x\\ny :Invalid argument\n");
}

}  // namespace
