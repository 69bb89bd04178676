// A simulated host holding the domain "appDom"; what reached its kernel.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/policytext/policy_file_reader.h"
#include "tests/support/sim_fixture.h"

namespace DomainTests {

using Texts = std::vector<std::string>;

class DomainTest : public TestSupport::SimulatedHostTest {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    iface_ = std::make_unique<HyxCtl::Security::HyxAccessInterfaceImpl>();
    appId_ = iface_->CreateDomain("appDom", HYXACCESS_QSI_DEFDOM_NONE);
    journalStart_ = HostSim::Journal().size();
  }
  // The journal lines written after SetUp.
  Texts NewJournal() const {
    const Texts all = HostSim::Journal();
    return {all.begin() + static_cast<std::ptrdiff_t>(journalStart_), all.end()};
  }
  HyxCtl::Security::HyxAccessInterfaceImpl& iface() { return *iface_; }

  std::unique_ptr<HyxCtl::Security::HyxAccessInterfaceImpl> iface_;
  std::uint32_t appId_ = 0;
  std::size_t journalStart_ = 0;
};

// Policy lines by number, tokenised as the reader does.
inline SecPolicy::ParsedPolicyFile Lines(const std::vector<std::pair<unsigned, std::string>>& lines) {
  SecPolicy::ParsedPolicyFile parsed;
  for (const auto& [number, text] : lines) parsed[number] = SecPolicy::ParsePolicyLine(text);
  return parsed;
}

// The text of the HostCtlException that `body` throws, or "no failure".
inline std::string Failure(const std::function<void()>& body) {
  try {
    body();
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    return failure.what();
  }
  return "no failure";
}

}  // namespace DomainTests
