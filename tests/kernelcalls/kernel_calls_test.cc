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

// Puts a test gate in place for its lifetime and records every call.
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

// Expected argument word: a value, the address of a string, or any non-null
// address (a call's own output variable).
struct Word {
  enum { kValue, kText, kOutput } kind;
  std::uint64_t value = 0;
  std::string text;
};
Word V(std::uint64_t value) { return {Word::kValue, value, {}}; }
Word T(std::string text) { return {Word::kText, 0, std::move(text)}; }
const Word kOut{Word::kOutput, 0, {}};

HyxAccess_FileRule gRules[2];
unsigned int gSecond, gThird, gOut;
const HyxAccess_ModeParam gMode{1, 2};

struct WordsCase {
  const char* name;
  std::function<void()> call;
  std::uint32_t number;
  std::vector<Word> words;  // the rest must be 0
};

class KernelCallWords : public TestSupport::SimulatedHostTest,
                        public testing::WithParamInterface<WordsCase> {};

TEST_P(KernelCallWords, PassesExactWordsInOrder) {
  const WordsCase& c = GetParam();
  TestGate gate([&](std::uint32_t, const Words& words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
      const Word expected = i < c.words.size() ? c.words[i] : V(0);
      switch (expected.kind) {
        case Word::kValue:
          EXPECT_EQ(words[i], expected.value) << "word " << i;
          break;
        case Word::kText:
          EXPECT_STREQ(At<char>(words[i]), expected.text.c_str()) << "word " << i;
          break;
        case Word::kOutput:
          EXPECT_NE(words[i], 0u) << "word " << i;
          break;
      }
    }
    return CallResult{0, 0};
  });
  c.call();
  EXPECT_EQ(gate.numbers, std::vector<std::uint32_t>{c.number});
}

const std::uint64_t kAllBits = ~std::uint64_t{0};
INSTANTIATE_TEST_SUITE_P(
    AllCalls, KernelCallWords,
    testing::Values(
        WordsCase{"CreateDomain",
                  [] { CreateDomain("myDom", HYXACCESS_QSI_DEFDOM_VM); },
                  16473,
                  {T("myDom"), V(1), kOut}},
        WordsCase{"DestroyDomain", [] { DestroyDomain(0xFFFFFFFF); }, 16474, {V(0xFFFFFFFF), V(0)}},
        WordsCase{"RetrieveLeakedDomains",
                  [] { RetrieveLeakedDomains(1ul << 40, &gSecond, &gThird); },
                  16484,
                  {V(Addr(&gThird)), V(Addr(&gSecond)), V(1ul << 40)}},
        WordsCase{
            "GetDomainIDForWorld", [] { GetDomainIDForWorld(-1); }, 16485, {V(kAllBits), kOut}},
        WordsCase{"GetDomainNameForID", [] { GetDomainNameForID(3); }, 16486, {V(3), kOut, V(64)}},
        WordsCase{"AddFilePolicyBatch",
                  [] { AddFilePolicyBatch(-1, 4, gRules, 0, &gOut); },
                  16479,
                  {V(kAllBits), V(4), V(Addr(gRules)), V(0), V(Addr(&gOut))}},
        WordsCase{"RemoveFilePolicy",
                  [] { RemoveFilePolicy(-2, 4, "/p"); },
                  16476,
                  {V(kAllBits - 1), V(4), T("/p")}},
        WordsCase{"UpdateFilePolicy",
                  [] { UpdateFilePolicy(4, "/p", 0x80000013); },
                  16475,
                  {V(4), T("/p"), V(0x80000013)}},
        WordsCase{"RetrieveNumberOfFilePolicies",
                  [] { RetrieveNumberOfFilePolicies(0x80000000); },
                  16478,
                  {V(0x80000000), kOut}},
        WordsCase{"RetrieveFilePolicies",
                  [] { RetrieveFilePolicies(4, gRules, 2); },
                  16477,
                  {V(4), V(Addr(gRules)), V(2)}},
        WordsCase{"ReplaceFilePolicyVMs",
                  [] { ReplaceFilePolicyVMs("/a", "/b"); },
                  16487,
                  {T("/a"), T("/b")}},
        WordsCase{"SetCapRule",
                  [] { SetCapRule(4, HyxAccess_Capability{18}, '\xFF'); },
                  16481,
                  {V(4), V(18), V(255)}},
        WordsCase{"SetParamCheckRule",
                  [] { SetParamCheckRule(4, HyxAccess_ParamCheck{9}, &gMode, '\x80'); },
                  16482,
                  {V(4), V(9), V(Addr(&gMode)), V(128)}},
        WordsCase{"RemoveParamCheckRule",
                  [] { RemoveParamCheckRule(4, HyxAccess_ParamCheck{0}, &gMode); },
                  16690,
                  {V(4), V(0), V(Addr(&gMode))}}),
    [](const auto& p) { return std::string(p.param.name); });

struct RefusalCase {
  const char* name;
  std::function<void()> call;
  const char* text;
};

class RefusedBeforeCall : public TestSupport::SimulatedHostTest,
                          public testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedBeforeCall, ThrowsWithoutCallingTheKernel) {
  TestGate gate;
  try {
    GetParam().call();
    FAIL() << "no exception";
  } catch (const HostCtl::Lib::HostCtlException& e) {
    EXPECT_STREQ(e.what(), GetParam().text);
  }
  EXPECT_TRUE(gate.numbers.empty());
  EXPECT_TRUE(HostSim::Journal().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RefusedBeforeCall,
    testing::Values(
        RefusalCase{"EmptyDomainName", [] { CreateDomain("", {}); }, "Must specify domain name"},
        RefusalCase{"EmptyService", [] { AddHvcService(0, ""); }, "Must specify service string"},
        RefusalCase{"RemoveEmptyPath", [] { RemoveFilePolicy(0, 1, ""); }, "file path is empty"},
        RefusalCase{"UpdateEmptyPath", [] { UpdateFilePolicy(1, "", 1); }, "File path is empty"},
        RefusalCase{"BothPathsEmpty", [] { ReplaceFilePolicyVMs("", ""); }, "Old path is empty"},
        RefusalCase{"NewPathEmpty", [] { ReplaceFilePolicyVMs("/a", ""); }, "New path is empty"},
        RefusalCase{"Capability19", [] { SetCapRule(1, HyxAccess_Capability{19}, 0); },
                    "Capability is not in range"},
        RefusalCase{"CapabilityHuge", [] { SetCapRule(1, HyxAccess_Capability{0xFFFFFFFF}, 0); },
                    "Capability is not in range"},
        RefusalCase{"SetCheck10NullMode",
                    [] { SetParamCheckRule(1, HyxAccess_ParamCheck{10}, nullptr, 0); },
                    "ParamCheck is not in range"},
        RefusalCase{"SetNullMode",
                    [] { SetParamCheckRule(1, HyxAccess_ParamCheck{9}, nullptr, 0); },
                    "Mode Param is NULL"},
        RefusalCase{"RemoveCheck10NullMode",
                    [] { RemoveParamCheckRule(1, HyxAccess_ParamCheck{10}, nullptr); },
                    "ParamCheck is not in range"},
        RefusalCase{"RemoveNullMode",
                    [] { RemoveParamCheckRule(1, HyxAccess_ParamCheck{9}, nullptr); },
                    "Mode Param is NULL"}),
    [](const auto& p) { return std::string(p.param.name); });

struct FailureCase {
  const char* name;
  std::function<void()> call;
  CallResult answer;
  int errnoBefore;
  const char* text;
};

class KernelFailure : public TestSupport::SimulatedHostTest,
                      public testing::WithParamInterface<FailureCase> {};

TEST_P(KernelFailure, ThrowsTextBuiltFromStatusAndErrno) {
  const FailureCase& c = GetParam();
  TestGate gate([&](std::uint32_t, const Words&) { return c.answer; });
  errno = c.errnoBefore;
  try {
    c.call();
    FAIL() << "no exception";
  } catch (const SecPolicyRetryException&) {
    FAIL() << "retry type for an ordinary failure";
  } catch (const HostCtl::Lib::HostCtlException& e) {
    EXPECT_STREQ(e.what(), c.text);
    EXPECT_TRUE(e.event().empty());
  }
}

// Second results as the kernel gives them: a negated errno in the low 32 bits.
constexpr std::uint64_t Neg(int e) { return std::uint64_t{0} - static_cast<std::uint64_t>(e); }

INSTANTIATE_TEST_SUITE_P(
    Texts, KernelFailure,
    testing::Values(
        FailureCase{"Create",
                    [] { CreateDomain("myDom", {}); },
                    {1, Neg(EPERM)},
                    0,
                    "Failed to create domain:myDom :Operation not permitted"},
        FailureCase{"ErrnoKept",
                    [] { CreateDomain("myDom", {}); },
                    {7, 0},
                    EEXIST,
                    "Failed to create domain:myDom :File exists"},
        FailureCase{"HighBitsIgnored",
                    [] { DestroyDomain(1); },
                    {0xFFFFFFFF00000001, 0x12345678FFFFFFFE},
                    0,
                    "Failed to destroy domain: No such file or directory"},
        FailureCase{"World",
                    [] { GetDomainIDForWorld(-1); },
                    {1, Neg(ESRCH)},
                    0,
                    "Unable to get domain ID: No such process"},
        FailureCase{"Name",
                    [] { GetDomainNameForID(9); },
                    {1, Neg(ENOENT)},
                    0,
                    "Unable to get domain name: No such file or directory"},
        FailureCase{"Leaked",
                    [] { RetrieveLeakedDomains(0, nullptr, nullptr); },
                    {1, Neg(EINVAL)},
                    0,
                    "Failed to retrieve leaked domain list:Invalid argument"},
        FailureCase{
            "Batch",
            [] { AddFilePolicyBatch(-1, 4, nullptr, 0, nullptr); },
            {1, Neg(EPERM)},
            0,
            "Failed to add file policies to domain :4: world ID :-1:Operation not permitted"},
        FailureCase{"Remove",
                    [] { RemoveFilePolicy(-1, 4, "/p"); },
                    {1, Neg(ENOENT)},
                    0,
                    "Failed to remove file policy from domain :4 : world id :-1:No such file or "
                    "directory"},
        FailureCase{"Update",
                    [] { UpdateFilePolicy(4, "/p", 1); },
                    {1, Neg(ENOENT)},
                    0,
                    "Failed to update file policy: /p:No such file or directory"},
        FailureCase{"Count",
                    [] { RetrieveNumberOfFilePolicies(7); },
                    {1, Neg(EINVAL)},
                    0,
                    "Failed to get number of file policies for domain :: 7:Invalid argument"},
        FailureCase{"Retrieve",
                    [] { RetrieveFilePolicies(4, nullptr, 0); },
                    {0xBAD0120, Neg(EIO)},
                    0,
                    "Failed to retrieve policies from domain:: 4 : Input/output error"},
        FailureCase{"Replace",
                    [] { ReplaceFilePolicyVMs("/a", "/b"); },
                    {1, Neg(ENOENT)},
                    0,
                    "Failed to replace file policy: /a to: /b: No such file or directory"},
        FailureCase{"Cap",
                    [] { SetCapRule(4, HyxAccess_Capability{18}, 0); },
                    {1, Neg(EPERM)},
                    0,
                    "Failed to set capability rule for domain :: 4:Operation not permitted"},
        FailureCase{"SetCheck",
                    [] { SetParamCheckRule(4, HyxAccess_ParamCheck{}, &gMode, 0); },
                    {1, Neg(EPERM)},
                    0,
                    "Failed to set parameter check rule for domain :: 4:Operation not permitted"},
        FailureCase{"RemoveCheck",
                    [] { RemoveParamCheckRule(4, HyxAccess_ParamCheck{}, &gMode); },
                    {1, Neg(EPERM)},
                    0,
                    "Failed to remove parameter check rule for domain :: 4:Operation not "
                    "permitted"}),
    [](const auto& p) { return std::string(p.param.name); });

using KernelCallResults = TestSupport::SimulatedHostTest;

TEST_F(KernelCallResults, RetryStatusThrowsRetryTypeCaughtAlsoAsBase) {
  TestGate gate([](std::uint32_t, const Words&) { return CallResult{0xBAD011F, Neg(EAGAIN)}; });
  EXPECT_THROW(RetrieveFilePolicies(4, nullptr, 0), SecPolicyRetryException);
  try {
    RetrieveFilePolicies(4, nullptr, 0);
  } catch (const HostCtl::Lib::HostCtlException& e) {
    EXPECT_STREQ(e.what(),
                 "Failed to retrieve policies from domain:: 4 : Resource temporarily "
                 "unavailable");
  }
}

TEST_F(KernelCallResults, SuccessReadsOutputsAndStillSetsErrno) {
  TestGate gate([](std::uint32_t number, const Words& w) {
    if (number == 16486)
      std::memset(At<char>(w[1]), 'n', 64);  // no NUL at all
    else
      *At<unsigned int>(w[number == 16473 ? 2 : 1]) = 42;
    return CallResult{0xABC00000000, Neg(EBUSY)};  // status: low 32 bits 0
  });
  errno = 0;
  EXPECT_EQ(CreateDomain("d", {}), 42u);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(GetDomainIDForWorld(3), 42u);
  EXPECT_EQ(RetrieveNumberOfFilePolicies(3), 42u);
  EXPECT_EQ(GetDomainNameForID(3), std::string(64, 'n'));
}

// Against the simulated kernel itself.
using KernelCallRoundTrip = TestSupport::SimulatedHostTest;

TEST_F(KernelCallRoundTrip, DomainsAndWorlds) {
  const unsigned int id = CreateDomain("myDom", {});
  EXPECT_EQ(GetDomainNameForID(id), "myDom");
  HostSim::AddWorld(-7, id);
  EXPECT_EQ(GetDomainIDForWorld(-7), id);
  EXPECT_THROW(CreateDomain("myDom", {}), HostCtl::Lib::HostCtlException);
  DestroyDomain(id);
  EXPECT_THROW(GetDomainNameForID(id), HostCtl::Lib::HostCtlException);
}

TEST_F(KernelCallRoundTrip, FilePolicies) {
  const unsigned int id = CreateDomain("fileDom", {});
  HyxAccess_FileRule rules[2] = {{"/bin", 0x11}, {"/etc/x", 0x1}};
  unsigned int out = 0;
  AddFilePolicyBatch(0, id, rules, 2, &out);
  UpdateFilePolicy(id, "/etc/x", 0x3);
  ReplaceFilePolicyVMs("/bin", "/sbin");
  ASSERT_EQ(RetrieveNumberOfFilePolicies(id), 2u);
  HyxAccess_FileRule back[2] = {};
  EXPECT_THROW(RetrieveFilePolicies(id, back, 1), SecPolicyRetryException);
  RetrieveFilePolicies(id, back, 2);
  std::map<std::string, std::uint32_t> got{{back[0].path, back[0].permissions},
                                           {back[1].path, back[1].permissions}};
  EXPECT_EQ(got, (std::map<std::string, std::uint32_t>{{"/etc/x", 0x3}, {"/sbin", 0x11}}));
  RemoveFilePolicy(0, id, "/etc/x");
  EXPECT_EQ(RetrieveNumberOfFilePolicies(id), 1u);
}

}  // namespace
}  // namespace SecPolicy
