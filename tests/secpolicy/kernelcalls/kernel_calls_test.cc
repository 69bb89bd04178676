#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/kernelcalls/capability_calls.h"
#include "secpolicy/kernelcalls/domain_calls.h"
#include "secpolicy/kernelcalls/file_policy_calls.h"
#include "secpolicy/policytext/retry_exception.h"
#include "tests/support/sim_fixture.h"

namespace SecPolicy {
namespace {

using Words = std::array<std::uint64_t, 5>;
using HyxCtl::Kernel::CallResult;

std::string Addr(const void* p) { return std::to_string(reinterpret_cast<std::uintptr_t>(p)); }

std::string FailureText(const std::function<void()>& call) {
  try {
    call();
  } catch (const SecPolicyRetryException& e) {
    return std::string("retry: ") + e.what();
  } catch (const HostCtl::Lib::HostCtlException& e) {
    return e.what();
  }
  return "no exception";
}

// For tests that put their own kernel gate in place.
class KernelCallTest : public TestSupport::SimulatedHostTest {
  void TearDown() override { HostSim::ReplaceKernelGate(HostSim::SimulatedKernelCall); SimulatedHostTest::TearDown(); }
};

HyxAccess_FileRule gRules[2];
unsigned int gSecond, gThird, gOut;
const HyxAccess_ModeParam gMode{1, 2};

struct CallCase {
  const char* name;
  std::function<void()> call;
  std::uint32_t number;
  // A number, "'text" for the address of that string, or "*" for any
  // non-null address (the call's own output). Unlisted words are 0.
  std::vector<std::string> words;
};

class KernelCall : public KernelCallTest, public testing::WithParamInterface<CallCase> {};

TEST_P(KernelCall, PassesExactWordsInOrder) {
  const CallCase& c = GetParam();
  std::vector<std::string> seen, expected = c.words;
  expected.resize(5, "0");
  std::vector<std::uint32_t> numbers;
  HostSim::ReplaceKernelGate([&](std::uint32_t number, const Words& words) {
    numbers.push_back(number);
    for (std::size_t i = 0; i < words.size(); ++i) {
      const std::string& e = expected[i];
      seen.push_back(e == "*"                ? (words[i] != 0 ? e : "null")
                     : e.starts_with("'") ? "'" + std::string(reinterpret_cast<const char*>(words[i]))
                                          : std::to_string(words[i]));
    }
    return CallResult{0, 0};
  });
  c.call();
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(numbers, std::vector<std::uint32_t>{c.number});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(AllCalls, KernelCall, testing::Values(
    CallCase{"CreateDomain", [] { CreateDomain("myDom", HYXACCESS_QSI_DEFDOM_VM); }, 16473, {"'myDom", "1", "*"}},
    CallCase{"DestroyDomain", [] { DestroyDomain(0xFFFFFFFF); }, 16474, {"4294967295"}},
    CallCase{"RetrieveLeakedDomains", [] { RetrieveLeakedDomains(1ul << 40, &gSecond, &gThird); }, 16484, {Addr(&gThird), Addr(&gSecond), "1099511627776"}},
    CallCase{"GetDomainIDForWorld", [] { GetDomainIDForWorld(-1); }, 16485, {"18446744073709551615", "*"}},
    CallCase{"GetDomainNameForID", [] { GetDomainNameForID(3); }, 16486, {"3", "*", "64"}},
    CallCase{"AddFilePolicyBatch", [] { AddFilePolicyBatch(-1, 4, gRules, 0, &gOut); }, 16479, {"18446744073709551615", "4", Addr(gRules), "0", Addr(&gOut)}},
    CallCase{"RemoveFilePolicy", [] { RemoveFilePolicy(-2, 4, "/p"); }, 16476, {"18446744073709551614", "4", "'/p"}},
    CallCase{"UpdateFilePolicy", [] { UpdateFilePolicy(4, "/p", 0x80000013); }, 16475, {"4", "'/p", "2147483667"}},
    CallCase{"RetrieveNumberOfFilePolicies", [] { RetrieveNumberOfFilePolicies(0x80000000); }, 16478, {"2147483648", "*"}},
    CallCase{"RetrieveFilePolicies", [] { RetrieveFilePolicies(4, gRules, 2); }, 16477, {"4", Addr(gRules), "2"}},
    CallCase{"ReplaceFilePolicyVMs", [] { ReplaceFilePolicyVMs("/a", "/b"); }, 16487, {"'/a", "'/b"}},
    CallCase{"SetCapRule", [] { SetCapRule(4, HyxAccess_Capability{18}, '\xFF'); }, 16481, {"4", "18", "255"}},
    CallCase{"SetParamCheckRule", [] { SetParamCheckRule(4, HyxAccess_ParamCheck{9}, &gMode, '\x80'); }, 16482, {"4", "9", Addr(&gMode), "128"}},
    CallCase{"RemoveParamCheckRule", [] { RemoveParamCheckRule(4, HyxAccess_ParamCheck{0}, &gMode); }, 16690, {"4", "0", Addr(&gMode)}}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

TEST_F(KernelCallTest, OnlyLowWordsCountAndOnlyRetrieveThrowsTheRetryType) {
  CallResult answer{0xFFFFFFFF00000001, 0x12345678FFFFFFFE};
  HostSim::ReplaceKernelGate([&](std::uint32_t, const Words&) { return answer; });
  EXPECT_EQ(FailureText([] { DestroyDomain(1); }),
            "Failed to destroy domain: No such file or directory");
  answer = {0xBAD011F, 0 - std::uint64_t{EAGAIN}};
  EXPECT_EQ(FailureText([] { RetrieveFilePolicies(4, nullptr, 0); }),
            "retry: Failed to retrieve policies from domain:: 4 : Resource temporarily unavailable");
  EXPECT_EQ(FailureText([] { RetrieveNumberOfFilePolicies(4); }),
            "Failed to get number of file policies for domain :: 4:Resource temporarily unavailable");
  // No error number from the kernel: errno keeps the value it had before the call.
  answer = {1, 0xFFFFFFFF00000000};
  errno = EXDEV;
  EXPECT_EQ(FailureText([] { DestroyDomain(1); }),
            "Failed to destroy domain: Invalid cross-device link");
}

TEST_F(KernelCallTest, SuccessReadsOutputsAndStillSetsErrno) {
  HostSim::ReplaceKernelGate([](std::uint32_t number, const Words& w) {
    if (number == 16486) std::memset(reinterpret_cast<char*>(w[1]), 'n', 64);  // no NUL at all
    if (number == 16473) *reinterpret_cast<unsigned int*>(w[2]) = 42;
    return CallResult{0xABC00000000, 0 - std::uint64_t{EBUSY}};  // low 32 bits of the status: 0
  });
  errno = 0;
  EXPECT_EQ(CreateDomain("d", {}), 42u);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(GetDomainNameForID(3), std::string(64, 'n'));
}

}  // namespace
}  // namespace SecPolicy
