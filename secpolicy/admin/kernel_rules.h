// What the kernel holds, read back through the kernel library as the text
// display reads it, in a form the JSON display and the diff can use.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/platform/kernel_records.h"

namespace SecPolicy::Admin {

using HyxCtl::Security::HyxAccessInterfaceImpl;

struct KernelDomain {
  std::uint32_t id = 0;
  std::string name;
  std::string enforcement;
  std::uint32_t state = 0;
  std::uint32_t refCount = 0;
  std::uint32_t worldRefCount = 0;
  std::int32_t defaultDom = 0;
};

// One field of a rule record: its name in the record and its value.
struct RuleField {
  std::string name;
  std::variant<std::string, std::uint32_t, bool> value;
};

struct KernelRule {
  std::string keyword;  // "-a" ... "-u"
  // The words after the keyword, as the text display prints them; the last
  // is the rule's action (grant or revoke; the letters of a "-r" rule) and
  // the others name the rule within its domain.
  std::vector<std::string> words;
  std::vector<RuleField> fields;  // the record's fields, in the record's order

  // keyword and words joined by single spaces: the display's line.
  std::string Text() const;
  // The identity: keyword and every word but the action.
  std::string Subject() const;
};

// nullopt for an id slot that holds no domain.
std::optional<KernelDomain> ReadDomain(HyxAccessInterfaceImpl& iface, std::uint32_t id);
// Every domain, in id order.
std::vector<KernelDomain> ReadDomains(HyxAccessInterfaceImpl& iface);

// A domain's rules in display order (rule types by keyword, each in the
// kernel's order). A rule type that cannot be read goes to `onError` and is
// passed over; without `onError` its exception passes out.
using ReadError = std::function<void(const std::string& text)>;
std::vector<KernelRule> ReadRules(HyxAccessInterfaceImpl& iface, std::uint32_t domainId,
                                  const ReadError& onError = {});

// A domain's file policies, read into an array of `size` records, or of as
// many as the domain holds when `size` is not given. Records the kernel did
// not fill are dropped. A domain can change between counting and reading;
// when the kernel then asks for a retry, the count is taken again, up to
// `retries` times; then its SecPolicyRetryException passes out.
std::vector<HyxAccess_FileRule> ReadFilePolicies(std::uint32_t domainId, int retries,
                                                 std::optional<std::uint32_t> size = std::nullopt);

}  // namespace SecPolicy::Admin
