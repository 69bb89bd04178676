// A simulated host holding the domain "appDom"; what reached its kernel.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hostsim/admin.h"
#include "platform/host_ctl_exception.h"
#include "platform/hyx_access.h"
#include "policytext/policy_file_reader.h"
#include "tests/support/sim_fixture.h"

namespace DomainTests {

using Texts = std::vector<std::string>;

class DomainTest : public TestSupport::SimulatedHostTest {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    iface_ = std::make_unique<HyxCtl::Security::HyxAccessInterfaceImpl>();
    appId_ = iface_->CreateDomain("appDom", HYXACCESS_QSI_DEFDOM_NONE);
    app_ = std::to_string(appId_) + " appDom ";
    Mark();
  }
  // NewJournal() starts from here.
  void Mark() { journalStart_ = HostSim::Journal().size(); }
  Texts NewJournal() const {
    const Texts all = HostSim::Journal();
    return {all.begin() + static_cast<std::ptrdiff_t>(journalStart_), all.end()};
  }
  HyxCtl::Security::HyxAccessInterfaceImpl& iface() { return *iface_; }

  std::unique_ptr<HyxCtl::Security::HyxAccessInterfaceImpl> iface_;
  std::uint32_t appId_ = 0;
  std::string app_;  // "<id> appDom ", as journal lines name the domain
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

// Makes the library operation `operation` throw `message` (or, with an errno,
// the kernel call of that name refuse) on calls naming `match`.
inline void AddFault(const std::string& operation, const std::string& message,
                     std::optional<std::string> match = std::nullopt,
                     std::optional<int> errnum = std::nullopt) {
  HostSim::Fault fault;
  fault.operation = operation;
  fault.message = message;
  fault.match = std::move(match);
  fault.errnum = errnum;
  HostSim::AddFault(fault);
}

// The first word of each journal line.
inline Texts Operations(const Texts& journal) {
  Texts names;
  for (const auto& line : journal) names.push_back(line.substr(0, line.find(' ')));
  return names;
}

}  // namespace DomainTests
