// The domain transition graph of a policy model, in Graphviz DOT: domains
// as nodes (special domains drawn double, with their role), one edge per
// transition that takes effect, labelled with the object (or tardisk) it
// passes through and its event; revoked transitions dashed.
#pragma once

#include <string>

#include "secpolicy/analysis/policy_model.h"

namespace SecPolicy::Analysis {

// Names are quoted with quotes, backslashes and control bytes escaped, so
// a hostile name cannot add statements to the graph.
std::string TransitionGraph(const Model& model);

// Renders `dot` into `output` with Graphviz's dot, in the format its
// extension names (".svg" or ".png"). Throws HostCtlException with a clear
// text when the extension is another, when dot is not installed, or when
// it fails.
void RenderGraph(const std::string& dot, const std::string& output);

}  // namespace SecPolicy::Analysis
