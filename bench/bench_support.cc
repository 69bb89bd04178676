#include "bench/bench_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

#include "hostsim/admin.h"
#include "hostsim/profile.h"

namespace Bench {

namespace {

bool Smoke() {
  const char* smoke = std::getenv("BENCH_SMOKE");
  return smoke != nullptr && std::string(smoke) == "1";
}

// Words every generated rule draws from: all known to the default profile.
const std::vector<std::string> kSyscalls = {"read", "write", "open", "close", "stat", "mmap",
                                            "ioctl", "socket", "connect", "openat"};
const std::vector<std::string> kCapabilities = {"chown", "fowner", "kill", "setuid", "net_admin",
                                                "sys_nice", "ipc_lock"};
const std::vector<std::pair<std::string, std::string>> kParamChecks = {
    {"ioctl", "tty"}, {"mount", "ro"}, {"socket", "unix"}, {"setuid", "user"}, {"memmap", "exec"}};
const std::vector<std::string> kObjects = {"systemFile", "systemBinary", "systemConfig",
                                           "deviceFile", "logFile", "tmpFile"};
const std::vector<std::string> kAccess = {"read", "write", "execute", "create", "append", "lock"};
const std::vector<std::string> kEvents = {"exec", "open", "fork", "signal"};
const std::vector<std::string> kCreation = {"file", "directory", "fifo", "socket"};
const std::vector<std::string> kSockets = {"create", "bind", "connect", "listen", "accept"};
// Paths that resolve on any Debian machine, so every file rule makes one
// resolution and one two-record batch call, as on a host.
const std::vector<std::string> kPaths = {"/etc", "/usr", "/usr/bin", "/usr/lib", "/var",
                                         "/tmp", "/usr/share", "/var/log", "/usr/sbin", "/bin"};
const std::vector<std::string> kLetters = {"r", "rw", "rx", "rwx"};

template <typename T>
const T& Pick(const std::vector<T>& words, unsigned i) {
  return words[i % words.size()];
}

std::string Grant(unsigned i) { return i % 5 == 4 ? "revoke" : "grant"; }

void MakeDirs(const std::string& path) {
  std::string partial;
  for (std::size_t at = 1; at != std::string::npos;) {
    at = path.find('/', at + 1);
    partial = path.substr(0, at);
    mkdir(partial.c_str(), 0755);
  }
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

const Sizes& RunSizes() {
  static const Sizes full{1u << 20, 10, 100, 10, 100, {10, 100, 1000}, 1000, 200};
  static const Sizes smoke{16u << 10, 1, 16, 1, 10, {3, 10, 30}, 10, 5};
  return Smoke() ? smoke : full;
}

int Repetitions() { return Smoke() ? 1 : 3; }

const std::string& Scratch() {
  static const std::string dir = [] {
    const char* env = std::getenv("BENCH_SCRATCH");
    if (env == nullptr || *env == '\0') throw std::runtime_error("BENCH_SCRATCH is not set");
    return std::string(env);
  }();
  return dir;
}

void FreshState(unsigned domains) {
  std::string profile(HostSim::kDefaultProfile);
  const std::string key = "\"maxDomains\": 64";
  const auto at = profile.find(key);
  if (at == std::string::npos) throw std::runtime_error("default profile has no maxDomains");
  // Slots 0 and 1 are never handed out; a few spare slots as on a host.
  profile.replace(at, key.size(), "\"maxDomains\": " + std::to_string(domains + 8));
  const std::string path = Scratch() + "/profile.json";
  WriteFile(path, profile);
  HostSim::Init(path);
  HostSim::SetSyslogRunning(false);
}

std::vector<PlannedDomain> PlanDomains(unsigned domains, unsigned rules) {
  std::vector<PlannedDomain> plan(domains);
  for (unsigned d = 0; d < domains; ++d) {
    char name[16];
    std::snprintf(name, sizeof name, "dom%05u", d);
    plan[d].name = name;
  }
  for (unsigned d = 0; d < domains; ++d) {
    auto& out = plan[d].rules;
    for (unsigned i = 0; i < rules; ++i) {
      const unsigned k = i / 8 + d;
      switch (i % 8) {
        case 0: out.push_back({"-s", {Pick(kSyscalls, k), Grant(k)}}); break;
        case 1: out.push_back({"-c", {Pick(kCapabilities, k), Grant(k)}}); break;
        case 2: {
          const auto& [check, arg] = Pick(kParamChecks, k);
          out.push_back({"-p", {check, arg, Grant(k)}});
          break;
        }
        case 3: out.push_back({"-a", {Pick(kObjects, k), Pick(kAccess, k), Grant(k)}}); break;
        case 4:
          out.push_back({"-d", {Pick(kObjects, k), plan[(d + 1) % domains].name, Pick(kEvents, k),
                                Grant(k)}});
          break;
        case 5:
          out.push_back({"-f", {Pick(kObjects, k), Pick(kObjects, k + 1), Pick(kCreation, k),
                                Grant(k)}});
          break;
        case 6: out.push_back({"-u", {Pick(kObjects, k), Pick(kSockets, k), Grant(k)}}); break;
        default: out.push_back({"-r", {Pick(kPaths, k), Pick(kLetters, k)}}); break;
      }
    }
  }
  return plan;
}

std::string PolicyFile(std::size_t bytes) {
  const std::string path = Scratch() + "/policy-" + std::to_string(bytes);
  if (access(path.c_str(), R_OK) == 0) return path;
  // Lines as a host's domain files hold them, with comments and blank lines.
  const auto plan = PlanDomains(2, 64);
  std::string text;
  text.reserve(bytes + 256);
  for (unsigned i = 0; text.size() < bytes; ++i) {
    if (i % 16 == 0) text += "# rules of one service, grouped by what they protect\n";
    if (i % 16 == 8) text += "\n";
    const auto& rule = plan[0].rules[i % plan[0].rules.size()];
    text += rule.keyword;
    for (const auto& word : rule.words) (text += ' ') += word;
    text += "\n";
  }
  WriteFile(path, text);
  return path;
}

std::string DomainDir(unsigned domains, unsigned rules) {
  const std::string dir =
      Scratch() + "/domains-" + std::to_string(domains) + "x" + std::to_string(rules);
  if (access(dir.c_str(), R_OK) == 0) return dir;
  MakeDirs(dir);
  for (const auto& domain : PlanDomains(domains, rules)) {
    std::string text = "# generated domain " + domain.name + "\n";
    for (const auto& rule : domain.rules) {
      text += rule.keyword;
      for (const auto& word : rule.words) (text += ' ') += word;
      text += "\n";
    }
    WriteFile(dir + "/" + domain.name, text);
  }
  return dir;
}

std::string LabelTree(unsigned dirs, unsigned files, std::string* mappingDir) {
  const std::string tag = std::to_string(dirs) + "x" + std::to_string(files);
  const std::string tree = Scratch() + "/tree-" + tag;
  *mappingDir = Scratch() + "/fileLabels-" + tag;
  // Each labelling figure starts with the previous one's writes on disk, so
  // that their journal commit is not charged to whichever figure runs next.
  if (access(tree.c_str(), R_OK) == 0) {
    sync();
    return tree;
  }
  MakeDirs(tree);
  for (unsigned d = 0; d < dirs; ++d) {
    const std::string dir = tree + "/d" + std::to_string(d);
    mkdir(dir.c_str(), 0755);
    for (unsigned f = 0; f < files; ++f) {
      const std::string file = dir + "/f" + std::to_string(f);
      const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) throw std::runtime_error("cannot create " + file);
      close(fd);
    }
  }
  // The host kernel labels every new file; the simulated one needs telling.
  HostSim::InitFileLabel(tree, true);
  MakeDirs(*mappingDir);
  WriteFile(*mappingDir + "/tree", "# the whole generated tree\n" + tree + "/* systemFile\n");
  sync();
  return tree;
}

StdoutToNull::StdoutToNull() {
  std::fflush(stdout);
  saved_ = dup(1);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  dup2(null, 1);
  close(null);
}

StdoutToNull::~StdoutToNull() {
  std::fflush(stdout);
  dup2(saved_, 1);
  close(saved_);
}

void RegisterSized(const std::string& area, SizedFn project, SizedFn baseline,
                   unsigned multiplier) {
  for (const auto& [side, fn] : {std::pair{"project", project}, std::pair{"baseline", baseline}}) {
    if (fn == nullptr) continue;
    std::string name = area;
    name.append("/").append(std::to_string(multiplier)).append("x/").append(side);
    benchmark::RegisterBenchmark(name.c_str(),
                                 [fn = fn, multiplier](benchmark::State& state) {
                                   fn(state, multiplier);
                                 })
        ->UseRealTime()
        ->Repetitions(Repetitions())
        ->ReportAggregatesOnly(Repetitions() > 1)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace Bench
