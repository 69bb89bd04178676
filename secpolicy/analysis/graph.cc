#include "secpolicy/analysis/graph.h"

#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/unique_fd.h"

extern char** environ;

namespace SecPolicy::Analysis {

namespace {

using HostCtl::Lib::HostCtlException;

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\\\x%02x", c);  // shown as \xNN
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr && *path != '\0' ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty()) {
      const std::string candidate = folder + "/" + program;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return "";
}

}  // namespace

std::string TransitionGraph(const Model& model) {
  std::map<std::string, std::string> roles;
  for (const auto& role : SpecialRoles()) roles[role.domain] = role.role;
  std::set<std::string> nodes;
  for (const DomainDef& domain : model.domains) nodes.insert(domain.name);
  for (const Rule& rule : model.rules) {
    if (rule.keyword == "-d" && rule.TakesEffect()) {
      nodes.insert(rule.domain);
      nodes.insert(rule.words.at(1));
    }
  }
  std::string dot =
      "digraph transitions {\n"
      "  rankdir=LR;\n"
      "  node [shape=box, style=rounded, fontname=\"Helvetica\"];\n"
      "  edge [fontname=\"Helvetica\", fontsize=10];\n";
  for (const std::string& name : nodes) {
    const auto role = roles.find(name);
    if (role != roles.end()) {
      std::string label = Quoted(name);
      label.insert(label.size() - 1, "\\n(" + role->second + ")");
      dot += "  " + Quoted(name) + " [peripheries=2, label=" + label + "];\n";
    } else {
      dot += "  " + Quoted(name) + ";\n";
    }
  }
  for (const Rule& rule : model.rules) {
    if (rule.keyword != "-d" || !rule.TakesEffect()) continue;
    std::string through = rule.words.at(0) + " / " + rule.words.at(2);
    if (rule.origin == Origin::TardiskPolicy || rule.origin == Origin::DefaultTardisk) {
      std::string tardisk = "default";
      for (const TardiskRule& t : model.tardiskRules) {
        if (t.source.path == rule.source.path && t.source.line == rule.source.line) tardisk = t.tardisk;
      }
      through = "tardisk " + tardisk + " (" + rule.words.at(0) + ")";
    }
    dot += "  " + Quoted(rule.domain) + " -> " + Quoted(rule.words.at(1)) +
           " [label=" + Quoted(through) + (rule.action == "revoke" ? ", style=dashed" : "") + "];\n";
  }
  return dot + "}\n";
}

void RenderGraph(const std::string& dot, const std::string& output) {
  std::string format;
  if (output.ends_with(".svg")) format = "-Tsvg";
  if (output.ends_with(".png")) format = "-Tpng";
  if (format.empty()) {
    throw HostCtlException("Cannot render " + output + ": the file name must end in .svg or .png");
  }
  const std::string program = FindOnPath("dot");
  if (program.empty()) {
    throw HostCtlException("Cannot render " + output +
                           ": Graphviz's dot is not installed (install the graphviz package), "
                           "or print the graph without --output");
  }
  // The graph goes in through an anonymous file, so a dot that stops
  // early cannot leave this process blocked on a pipe.
  const Posix::UniqueFd input(memfd_create("secpolicy-graph", MFD_CLOEXEC));
  if (input.get() < 0 ||
      write(input.get(), dot.data(), dot.size()) != static_cast<ssize_t>(dot.size()) ||
      lseek(input.get(), 0, SEEK_SET) != 0) {
    throw HostCtlException("Cannot render " + output + ": " + std::strerror(errno));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input.get(), STDIN_FILENO);
  const std::string outputOption = "-o" + output;
  std::vector<char*> argv = {const_cast<char*>("dot"), const_cast<char*>(format.c_str()),
                             const_cast<char*>(outputOption.c_str()), nullptr};
  pid_t child = 0;
  const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw HostCtlException("Cannot render " + output + ": cannot run " + program + ": " +
                           std::strerror(spawned));
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw HostCtlException("Cannot render " + output + ": " + program + " failed");
  }
}

}  // namespace SecPolicy::Analysis
