// graph: the domain transition graph of a tree or of the kernel.
#include <iostream>
#include <memory>
#include <string>

#include "cli/common/terminal_text.h"
#include "cli/secpolicy/commands.h"
#include "cli/secpolicy/query_commands.h"
#include "secpolicy/analysis/graph.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace SecPolicyCli {

namespace {

struct GraphArgs {
  std::string dir = SecPolicy::DefaultPolicyDir;
  bool kernel = false;
  std::string output;
};

int RunGraph(const GraphArgs& args) {
  std::string dot;
  try {
    dot = SecPolicy::Analysis::TransitionGraph(ReadModel(args.dir, args.kernel));
    if (args.output.empty()) {
      std::cout << dot << std::flush;
    } else {
      SecPolicy::Analysis::RenderGraph(dot, args.output);
    }
  } catch (const ModelUnreadable& failure) {
    std::cerr << "Error: " << CliCommon::EscapeControls(failure.what()) << std::endl;
    return failure.status;
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    std::cerr << "Error: " << CliCommon::EscapeControls(failure.what()) << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace

void AddGraphCommands(CLI::App& app, int& status) {
  auto args = std::make_shared<GraphArgs>();
  CLI::App* graph = app.add_subcommand(
      "graph",
      "Print the domain transition graph of the policy tree DIR (or, with --kernel, of what\n"
      "the kernel holds) in Graphviz DOT: domains as nodes, special domains drawn double,\n"
      "one edge per transition labelled with the object or tardisk it passes through,\n"
      "revoked transitions dashed. Exit 1 when the picture cannot be made, 2 on bad input,\n"
      "3 when the kernel's state cannot be read.");
  graph->add_option("DIR", args->dir, "Policy directory")->capture_default_str();
  graph->add_flag("--kernel", args->kernel, "Draw what the kernel holds instead of a tree");
  graph->add_option("--output", args->output,
                    "Write a picture to FILE.svg or FILE.png with Graphviz's dot instead");
  graph->callback([&status, args] { status = RunGraph(*args); });
}

}  // namespace SecPolicyCli
