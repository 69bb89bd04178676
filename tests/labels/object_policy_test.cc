#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "labels/object_policy.h"
#include "platform/host_ctl_exception.h"
#include "platform/hyx_access.h"
#include "tests/support/sim_fixture.h"

namespace {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;
using TestSupport::Capture;
using TestSupport::KernelLogTexts;
using ::testing::Contains;
using ::testing::Not;

class ObjectPolicyTest : public TestSupport::SimulatedHostTest {
 protected:
  void Load(const std::string& dir) { SecPolicy::LoadPolicyObjects(dir, iface_); }
  HyxAccessInterfaceImpl iface_;
};

TEST_F(ObjectPolicyTest, BadLineSkipsRestOfItsFileOnly) {
  iface_.AddLabels({"stale", "late"}, HYXACCESS_LABEL_OBJECT);
  const std::string bad = scratch_.Write("objects/a", "one\n# two\n\nthree four\nlate\n");
  scratch_.Write("objects/B", "upper\n");
  scratch_.Write("objects/sub/ignored", "hidden\n");
  std::string thrown;
  const auto output = Capture([&] {
    try {
      Load(scratch_.str() + "/objects");
    } catch (const HostCtlException& failure) {
      thrown = failure.what();
    }
  });
  EXPECT_EQ(thrown, "Failure in object policy");
  EXPECT_EQ(output.err, "Error: " + bad + ":4 : cannot define more than one object per line\n" +
                            "Error: Error in parsing some object files\n");
  // Upper-case names sort first; names after the bad line are gone.
  EXPECT_EQ(HostSim::Journal().back(), "AddLabels 1 upper one");
  EXPECT_EQ(iface_.LookupLabel("late", HYXACCESS_LABEL_OBJECT), 1u);
  EXPECT_EQ(iface_.LookupLabel("stale", HYXACCESS_LABEL_OBJECT), 1u);
  EXPECT_EQ(KernelLogTexts().back(), "Objects defined and obsolete objects removed");
}

TEST_F(ObjectPolicyTest, KernelFailureIsReportedWithoutItsOwnText) {
  scratch_.Write("objects/a", "one\n");
  HostSim::Fault fault;
  fault.operation = "AddLabels";
  HostSim::AddFault(fault);
  std::string thrown;
  const auto output = Capture([&] {
    try {
      Load(scratch_.str() + "/objects");
    } catch (const HostCtlException& failure) {
      thrown = failure.what();
    }
  });
  EXPECT_EQ(thrown, "Failure in object policy");
  EXPECT_EQ(output.err, "Error: Error in defining some objects\n");
  EXPECT_THAT(KernelLogTexts(), Contains("Parsed all objects"));
  EXPECT_THAT(KernelLogTexts(), Not(Contains("Objects defined and obsolete objects removed")));
}

TEST_F(ObjectPolicyTest, DisplayListsKernelObjectsByName) {
  iface_.AddLabels({"zeta", "alpha"}, HYXACCESS_LABEL_OBJECT);
  const auto output = Capture([&] { SecPolicy::DisplayPolicyObjects(iface_); });
  const std::string rule(33, '-');
  const std::string header = "\n\n" + rule + "\nObjects Defined: Name (Kernel Id)\n" + rule + "\n";
  ASSERT_EQ(output.out.substr(0, header.size()), header);
  const auto alpha = output.out.find("\nalpha (" +
      std::to_string(iface_.LookupLabel("alpha", HYXACCESS_LABEL_OBJECT)) + ")\n");
  const auto zeta = output.out.find("\nzeta (" +
      std::to_string(iface_.LookupLabel("zeta", HYXACCESS_LABEL_OBJECT)) + ")\n");
  EXPECT_NE(alpha, std::string::npos);
  EXPECT_NE(zeta, std::string::npos);
  EXPECT_LT(alpha, zeta);
}

}  // namespace
