#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "kernelcalls/capability_calls.h"
#include "kernelcalls/domain_calls.h"
#include "kernelcalls/file_policy_calls.h"
#include "policytext/retry_exception.h"
#include "tests/support/sim_fixture.h"

namespace SecPolicy {
namespace {

using Words = std::array<std::uint64_t, 5>;
using HyxCtl::Kernel::CallResult;
using HostCtl::Lib::HostCtlException;

// Puts a test gate in place for its lifetime and records the call numbers.
class TestGate {
 public:
  using Body = std::function<CallResult(std::uint32_t, const Words&)>;
  explicit TestGate(Body body = {})
      : body_(std::move(body)),
        previous_(HostSim::ReplaceKernelGate([this](std::uint32_t number, const Words& words) {
          numbers.push_back(number);
          return body_ ? body_(number, words) : CallResult{0, 0};
        })) {}
  ~TestGate() { HostSim::ReplaceKernelGate(previous_); }
  std::vector<std::uint32_t> numbers;

 private:
  Body body_;
  HostSim::Gate previous_;
};

template <typename T>
T* At(std::uint64_t word) {
  return reinterpret_cast<T*>(static_cast<std::uintptr_t>(word));
}
std::uint64_t Addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }
// The kernel's second result: a negated errno.
constexpr std::uint64_t Neg(int e) { return std::uint64_t{0} - static_cast<std::uint64_t>(e); }

std::string FailureText(const std::function<void()>& call) {
  try {
    call();
  } catch (const SecPolicyRetryException& e) {
    return std::string("retry: ") + e.what();
  } catch (const HostCtlException& e) {
    return e.what();
  }
  return "no exception";
}

// Expected argument word: a value, the address of a string, or any non-null
// address (the call's own output variable). Words not listed must be 0.
struct Word {
  enum { kValue, kText, kOutput } kind;
  std::uint64_t value = 0;
  std::string text;
};
Word V(std::uint64_t value) { return {Word::kValue, value, {}}; }
Word T(std::string text) { return {Word::kText, 0, std::move(text)}; }
const Word kOut{Word::kOutput, 0, {}};
const std::uint64_t kAllBits = ~std::uint64_t{0};

HyxAccess_FileRule gRules[2];
unsigned int gSecond, gThird, gOut;
const HyxAccess_ModeParam gMode{1, 2};

struct CallCase {
  const char* name;
  std::function<void()> call;
  std::uint32_t number;
  std::vector<Word> words;
  const char* failure;  // when the kernel answers status 1, errno EPERM
};
void PrintTo(const CallCase& c, std::ostream* os) { *os << c.name; }

class KernelCall : public TestSupport::SimulatedHostTest,
                   public testing::WithParamInterface<CallCase> {};

TEST_P(KernelCall, PassesExactWordsInOrder) {
  const CallCase& c = GetParam();
  TestGate gate([&](std::uint32_t, const Words& words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
      const Word expected = i < c.words.size() ? c.words[i] : V(0);
      if (expected.kind == Word::kValue) {
        EXPECT_EQ(words[i], expected.value) << "word " << i;
      } else if (expected.kind == Word::kText) {
        EXPECT_STREQ(At<char>(words[i]), expected.text.c_str()) << "word " << i;
      } else {
        EXPECT_NE(words[i], 0u) << "word " << i;
      }
    }
    return CallResult{0, 0};
  });
  c.call();
  EXPECT_EQ(gate.numbers, std::vector<std::uint32_t>{c.number});
}

TEST_P(KernelCall, FailureTextEndsWithTheSystemErrorText) {
  TestGate gate([](std::uint32_t, const Words&) { return CallResult{1, Neg(EPERM)}; });
  EXPECT_EQ(FailureText(GetParam().call), GetParam().failure);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(AllCalls, KernelCall, testing::Values(
    CallCase{"CreateDomain", [] { CreateDomain("myDom", HYXACCESS_QSI_DEFDOM_VM); }, 16473,
             {T("myDom"), V(1), kOut}, "Failed to create domain:myDom :Operation not permitted"},
    CallCase{"DestroyDomain", [] { DestroyDomain(0xFFFFFFFF); }, 16474, {V(0xFFFFFFFF), V(0)},
             "Failed to destroy domain: Operation not permitted"},
    CallCase{"RetrieveLeakedDomains", [] { RetrieveLeakedDomains(1ul << 40, &gSecond, &gThird); },
             16484, {V(Addr(&gThird)), V(Addr(&gSecond)), V(1ul << 40)},
             "Failed to retrieve leaked domain list:Operation not permitted"},
    CallCase{"GetDomainIDForWorld", [] { GetDomainIDForWorld(-1); }, 16485, {V(kAllBits), kOut},
             "Unable to get domain ID: Operation not permitted"},
    CallCase{"GetDomainNameForID", [] { GetDomainNameForID(3); }, 16486, {V(3), kOut, V(64)},
             "Unable to get domain name: Operation not permitted"},
    CallCase{"AddFilePolicyBatch", [] { AddFilePolicyBatch(-1, 4, gRules, 0, &gOut); }, 16479,
             {V(kAllBits), V(4), V(Addr(gRules)), V(0), V(Addr(&gOut))},
             "Failed to add file policies to domain :4: world ID :-1:Operation not permitted"},
    CallCase{"RemoveFilePolicy", [] { RemoveFilePolicy(-2, 4, "/p"); }, 16476,
             {V(kAllBits - 1), V(4), T("/p")},
             "Failed to remove file policy from domain :4 : world id :-2:Operation not permitted"},
    CallCase{"UpdateFilePolicy", [] { UpdateFilePolicy(4, "/p", 0x80000013); }, 16475,
             {V(4), T("/p"), V(0x80000013)}, "Failed to update file policy: /p:Operation not permitted"},
    CallCase{"RetrieveNumberOfFilePolicies", [] { RetrieveNumberOfFilePolicies(0x80000000); },
             16478, {V(0x80000000), kOut},
             "Failed to get number of file policies for domain :: 2147483648:Operation not permitted"},
    CallCase{"RetrieveFilePolicies", [] { RetrieveFilePolicies(4, gRules, 2); }, 16477,
             {V(4), V(Addr(gRules)), V(2)},
             "Failed to retrieve policies from domain:: 4 : Operation not permitted"},
    CallCase{"ReplaceFilePolicyVMs", [] { ReplaceFilePolicyVMs("/a", "/b"); }, 16487,
             {T("/a"), T("/b")}, "Failed to replace file policy: /a to: /b: Operation not permitted"},
    CallCase{"SetCapRule", [] { SetCapRule(4, HyxAccess_Capability{18}, '\xFF'); }, 16481,
             {V(4), V(18), V(255)}, "Failed to set capability rule for domain :: 4:Operation not permitted"},
    CallCase{"SetParamCheckRule", [] { SetParamCheckRule(4, HyxAccess_ParamCheck{9}, &gMode, '\x80'); },
             16482, {V(4), V(9), V(Addr(&gMode)), V(128)},
             "Failed to set parameter check rule for domain :: 4:Operation not permitted"},
    CallCase{"RemoveParamCheckRule", [] { RemoveParamCheckRule(4, HyxAccess_ParamCheck{0}, &gMode); },
             16690, {V(4), V(0), V(Addr(&gMode))},
             "Failed to remove parameter check rule for domain :: 4:Operation not permitted"}),
    [](const auto& p) { return std::string(p.param.name); });

using Refusal = std::pair<std::function<void()>, const char*>;
const std::vector<Refusal> kRefusals = {
    {[] { CreateDomain("", {}); }, "Must specify domain name"},
    {[] { AddHvcService(0, ""); }, "Must specify service string"},
    {[] { RemoveFilePolicy(0, 1, ""); }, "file path is empty"},
    {[] { UpdateFilePolicy(1, "", 1); }, "File path is empty"},
    {[] { ReplaceFilePolicyVMs("", ""); }, "Old path is empty"},
    {[] { ReplaceFilePolicyVMs("/a", ""); }, "New path is empty"},
    {[] { SetCapRule(1, HyxAccess_Capability{19}, 0); }, "Capability is not in range"},
    {[] { SetCapRule(1, HyxAccess_Capability{0xFFFFFFFF}, 0); }, "Capability is not in range"},
    {[] { SetParamCheckRule(1, HyxAccess_ParamCheck{10}, nullptr, 0); }, "ParamCheck is not in range"},
    {[] { SetParamCheckRule(1, HyxAccess_ParamCheck{9}, nullptr, 0); }, "Mode Param is NULL"},
    {[] { RemoveParamCheckRule(1, HyxAccess_ParamCheck{10}, nullptr); }, "ParamCheck is not in range"},
    {[] { RemoveParamCheckRule(1, HyxAccess_ParamCheck{9}, nullptr); }, "Mode Param is NULL"},
};
// clang-format on

using KernelCallResults = TestSupport::SimulatedHostTest;

TEST_F(KernelCallResults, ArgumentChecksComeBeforeAnyCall) {
  TestGate gate;
  for (const auto& [call, text] : kRefusals) EXPECT_EQ(FailureText(call), text);
  EXPECT_TRUE(gate.numbers.empty());
  EXPECT_TRUE(HostSim::Journal().empty());  // nor through the control library
}

TEST_F(KernelCallResults, OnlyLowWordsCountAndErrnoIsKeptWithoutAnError) {
  CallResult answer{0xFFFFFFFF00000001, 0x12345678FFFFFFFE};
  TestGate gate([&](std::uint32_t, const Words&) { return answer; });
  EXPECT_EQ(FailureText([] { DestroyDomain(1); }),
            "Failed to destroy domain: No such file or directory");
  answer = {7, 0};
  errno = EEXIST;
  EXPECT_EQ(FailureText([] { CreateDomain("myDom", {}); }),
            "Failed to create domain:myDom :File exists");
}

TEST_F(KernelCallResults, RetryStatusThrowsTheRetryTypeOnlyForRetrieve) {
  TestGate gate([](std::uint32_t, const Words&) { return CallResult{0xBAD011F, Neg(EAGAIN)}; });
  EXPECT_EQ(FailureText([] { RetrieveFilePolicies(4, nullptr, 0); }),
            "retry: Failed to retrieve policies from domain:: 4 : Resource temporarily unavailable");
  EXPECT_THROW(RetrieveFilePolicies(4, nullptr, 0), HostCtlException);
  EXPECT_EQ(FailureText([] { RetrieveNumberOfFilePolicies(4); }),
            "Failed to get number of file policies for domain :: 4:Resource temporarily unavailable");
}

TEST_F(KernelCallResults, SuccessReadsOutputsAndStillSetsErrno) {
  TestGate gate([](std::uint32_t number, const Words& w) {
    if (number == 16486) {
      std::memset(At<char>(w[1]), 'n', 64);  // no NUL at all
    } else {
      *At<unsigned int>(w[number == 16473 ? 2 : 1]) = 42;
    }
    return CallResult{0xABC00000000, Neg(EBUSY)};  // low 32 bits of the status: 0
  });
  errno = 0;
  EXPECT_EQ(CreateDomain("d", {}), 42u);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(GetDomainIDForWorld(3), 42u);
  EXPECT_EQ(RetrieveNumberOfFilePolicies(3), 42u);
  EXPECT_EQ(GetDomainNameForID(3), std::string(64, 'n'));
}

}  // namespace
}  // namespace SecPolicy
