// Loading file-label mappings through the parallel walk, and what may steer
// their recursive mappings elsewhere.
#pragma once

#include <string>
#include <vector>

#include "secpolicy/admin/label_walk.h"
#include "secpolicy/platform/hyx_access.h"

namespace SecPolicy::Admin {

// LoadPolicyFileLabels (same order, same labels, same failures) with
// `settings`: each recursive mapping walked by LabelTree, excluded paths
// left out, each file labelled by its own name counted as an entry.
void LoadFileLabels(const std::string& dir, HyxCtl::Security::HyxAccessInterfaceImpl& iface,
                    const WalkSettings& settings);

// RootHazards of the root of every recursive mapping of `dir`, each led by
// "FILE:LINE : ". Files that do not parse give the hazards of the mappings
// before the bad line (those are still applied); a `dir` that cannot be
// read gives none: the load reports both.
std::vector<std::string> MappingRootHazards(const std::string& dir,
                                            HyxCtl::Security::HyxAccessInterfaceImpl& iface);

}  // namespace SecPolicy::Admin
