// A whole tree as `secpolicy check` takes it. The input is cut at "\n%%\n"
// into an object file, a domain file and a file-label file; check loads the
// tree on a throwaway copy of the kernel and places what the load reports
// from the policy model, which also reads the lines after each bad one.
// The same model then answers a query and draws the transition graph.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/fuzz_host.h"
#include "secpolicy/admin/policy_check.h"
#include "secpolicy/analysis/graph.h"
#include "secpolicy/analysis/lint_report.h"
#include "secpolicy/analysis/policy_model.h"
#include "secpolicy/analysis/query.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace {

constexpr std::string_view kCut = "\n%%\n";
// Where each part of the input goes; the special domains a load asks for
// stay empty.
constexpr const char* kFiles[] = {"tree/objects/main", "tree/domains/appDom", "tree/fileLabels/map"};
constexpr const char* kSpecial[] = {"globalVMDom", "ioFilterDom", "daemonFrameworkDom", "superDom"};

const std::string& Tree(const Fuzz::Host& host) {
  static const std::string tree = [&host] {
    namespace fs = std::filesystem;
    const std::string dir = host.scratch() + "/tree";
    for (const char* sub : {"objects", "domains", "fileLabels"}) fs::create_directories(dir + "/" + sub);
    for (const char* domain : kSpecial) host.WriteFile(std::string("tree/domains/") + domain, "");
    return dir;
  }();
  return tree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fuzz::Host& host = Fuzz::Host::Get();
  host.Reset();
  const std::string& tree = Tree(host);

  std::string_view rest = Fuzz::AsText(data, size);
  for (std::size_t i = 0; i < std::size(kFiles); ++i) {
    const std::size_t cut = i + 1 < std::size(kFiles) ? rest.find(kCut) : std::string_view::npos;
    host.WriteFile(kFiles[i], rest.substr(0, cut));
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + kCut.size());
  }

  try {
    const auto report = SecPolicy::Admin::CheckPolicy(tree);
    SecPolicy::Analysis::FindingsSarif(report.lint, tree, "0");
    const auto model = SecPolicy::Analysis::ReadTree(tree);
    SecPolicy::Analysis::QueryOptions question;
    question.path = "/a/b";
    SecPolicy::Analysis::Query(model, question);
    question = {};
    question.enters = "appDom";
    SecPolicy::Analysis::Query(model, question);
    SecPolicy::Analysis::TransitionGraph(model);
  } catch (const HostCtl::Lib::HostCtlException&) {
    // The throwaway copy could not be made: nothing was read.
  }
  return 0;
}
