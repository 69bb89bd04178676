// query and graph: questions to the policy tree or to what the kernel holds.
#include <sys/stat.h>

#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/common/terminal_text.h"
#include "cli/secpolicy/commands.h"
#include "cli/secpolicy/query_commands.h"
#include "hostsim/admin.h"
#include "secpolicy/analysis/policy_model.h"
#include "secpolicy/analysis/query.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace SecPolicyCli {

namespace {

namespace Analysis = SecPolicy::Analysis;

constexpr int kUsage = 2;
constexpr int kNoAnswer = 3;

struct QueryArgs {
  std::string dir = SecPolicy::DefaultPolicyDir;
  bool kernel = false;
  bool json = false;
  Analysis::QueryOptions options;
};

int Fail(const std::string& text, int status) {
  std::cerr << "Error: " << CliCommon::EscapeControls(text) << std::endl;
  return status;
}

// "-s" and "s" both name the syscall rules.
void NormaliseType(std::optional<std::string>& type) {
  if (type && type->size() == 1) *type = "-" + *type;
}

int RunQuery(QueryArgs& args) {
  NormaliseType(args.options.type);
  Analysis::Model model;
  std::vector<Analysis::Answer> answers;
  try {
    model = ReadModel(args.dir, args.kernel);
    answers = Analysis::Query(model, args.options);
  } catch (const std::invalid_argument& bad) {
    return Fail(bad.what(), kUsage);
  } catch (const ModelUnreadable& failure) {
    return Fail(failure.what(), failure.status);
  }
  if (!model.problems.empty()) {
    std::cerr << "warning: a load of this tree reports errors, and their lines are not in the "
                 "answers: run 'secpolicy check'\n";
  }
  if (args.json) {
    std::cout << Analysis::AnswersJson(model, answers);
  } else {
    for (const auto& answer : answers) {
      std::cout << CliCommon::EscapeControls(Analysis::AnswerLine(answer, model.fromKernel)) << '\n';
    }
  }
  std::cout.flush();
  return answers.empty() ? 1 : 0;
}

}  // namespace

ModelUnreadable::ModelUnreadable(const std::string& text, int exitStatus)
    : std::runtime_error(text), status(exitStatus) {}

SecPolicy::Analysis::Model ReadModel(const std::string& dir, bool kernel) {
  try {
    if (kernel) {
      HostSim::CheckState();
      HyxCtl::Security::HyxAccessInterfaceImpl iface;
      return Analysis::ReadKernel(iface);
    }
    struct stat status {};
    if (stat(dir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
      throw ModelUnreadable("No policy directory " + dir, kUsage);
    }
    return Analysis::ReadTree(dir);
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    throw ModelUnreadable(failure.what(), kNoAnswer);
  }
}

void AddQueryCommands(CLI::App& app, int& status) {
  auto args = std::make_shared<QueryArgs>();
  auto& o = args->options;
  CLI::App* query = app.add_subcommand(
      "query",
      "Ask the policy tree DIR (or, with --kernel, what the kernel holds) which rules match\n"
      "the filters, which ways lead into a domain, what names an object, or what applies to\n"
      "a path. Each answer line names its source as PATH:LINE and says when a later line of\n"
      "the same identity shadows it. Exit 0 when something matched, 1 when nothing did,\n"
      "2 on bad input, 3 when the kernel's state cannot be read.");
  query->add_option("DIR", args->dir, "Policy directory")->capture_default_str();
  query->add_flag("--kernel", args->kernel, "Ask what the kernel holds instead of a tree");
  query->add_option("--domain", o.domain, "Only the rules of this domain");
  query->add_option("--type", o.type,
                    "Only rules of this type: a, c, d, f, p, r, s or u (or --type=-s)");
  query->add_option("--action", o.action, "Only rules that grant, or that revoke")
      ->check(CLI::IsMember({"grant", "revoke"}));
  query->add_option("--match", o.match,
                    "Only answers whose identity holds this word (a system call, a capability, "
                    "an object, a path, ...)");
  query->add_option("--enters", o.enters,
                    "Every way into this domain: transitions, tardisk policies, special roles");
  query->add_option("--uses", o.uses,
                    "Every rule, mapping and tardisk policy that names this object");
  query->add_option("--path", o.path,
                    "The label the mappings give PATH and, per domain, the file path rules "
                    "that cover it, most specific first");
  query->add_flag("--json", args->json, "Print the answers as one JSON document");
  query->callback([&status, args] { status = RunQuery(*args); });
}

}  // namespace SecPolicyCli
