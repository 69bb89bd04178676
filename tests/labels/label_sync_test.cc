#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "labels/label_sync.h"
#include "platform/hyx_access.h"
#include "tests/support/sim_fixture.h"

namespace {

using HyxCtl::Security::HyxAccessInterfaceImpl;
using Strings = std::vector<std::string>;

struct SyncCase {
  const char* name;
  HyxAccessLabelType type;
  Strings kernel;   // labels the kernel holds before the reconciliation
  Strings invalid;  // of those, the ones marked invalid
  Strings policy;
  Strings journal;  // what the reconciliation writes, in order
  Strings reports;  // informational lines, in order
};

class SyncLabelsTest : public TestSupport::SimulatedHostTest,
                       public ::testing::WithParamInterface<SyncCase> {};

TEST_P(SyncLabelsTest, WritesAndReportsInOrder) {
  const SyncCase& c = GetParam();
  HyxAccessInterfaceImpl iface;
  iface.AddLabels(c.kernel, c.type);
  for (const auto& name : c.invalid) HostSim::InvalidateLabel(name, c.type);
  std::map<std::string, std::int64_t> kernelMap;
  for (const auto& name : c.kernel) kernelMap.emplace(name, 0);
  const std::size_t before = HostSim::Journal().size();
  SecPolicy::SyncLabelsFromPolicy(c.policy, kernelMap, c.type, iface);
  const Strings journal = HostSim::Journal();
  EXPECT_EQ(Strings(journal.begin() + static_cast<long>(before), journal.end()), c.journal);
  EXPECT_EQ(TestSupport::KernelLogTexts(), c.reports);
}

// An invalid label the policy dropped is refreshed, then removed as obsolete;
// names differing only in case do not match; predefined objects and
// privileged virtual machines stay; empty lists still reach the kernel.
INSTANTIATE_TEST_SUITE_P(
    Cases, SyncLabelsTest,
    ::testing::Values(
        SyncCase{"objects", HYXACCESS_LABEL_OBJECT, {"alpha", "beta", "gamma", "unlabeled"},
                 {"beta", "alpha"}, {"alpha", "Gamma", "alpha"},
                 {"RemoveLabels 1 alpha beta", "AddLabels 1 alpha beta", "RemoveLabels 1 beta gamma",
                  "AddLabels 1 alpha Gamma alpha"},
                 {"The values of the following objects have been changed:", "alpha", "beta",
                  "The following objects have been removed:", "beta", "gamma"}},
        SyncCase{"nothingToDo", HYXACCESS_LABEL_OBJECT, {"unlabeled"}, {}, {},
                 {"RemoveLabels 1", "AddLabels 1", "RemoveLabels 1", "AddLabels 1"}, {}},
        SyncCase{"domains", HYXACCESS_LABEL_DOMAIN, {"hostVm", "oldDom"}, {}, {"newDom"},
                 {"RemoveLabels 0", "AddLabels 0", "RemoveLabels 0 oldDom", "AddLabels 0 newDom"},
                 {"The following domains have been removed:", "oldDom"}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
