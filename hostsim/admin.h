// Administration of the simulated host: what the `hostsim` tool and the tests
// use to set up a simulated kernel, look into it and make it fail. The
// library under test never includes this header.
//
// Where the simulated host's own choices are written down: the state, its
// path, the checks on its file, rule identities and id numbering in
// state.h; the connection, the writers' lock, read-only reads and the dry
// run's copy in memory in connection.h; what a reboot keeps below (Reboot);
// domains and file policies in kernel_state.h; the profile in profile.h; keyword messages, label rules
// and the journal lines of the control library in access_interface.cc and
// access_rules.cc;
// kernel call meanings, error numbers and their journal lines in
// kernel_calls.cc, kernel_call_args.h and one source per call family
// (domain_calls.cc, file_policy_calls.cc, cap_param_calls.cc); logging, options, configuration store and the sysinfo
// record in host_services.cc; the admin operations' journal lines in
// admin.cc; the fault names in faults.cc; the private host root in
// host_root.cc.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/platform/kernel_gate.h"

namespace HostSim {

// Path of the state database: $HOSTSIM_STATE, or the default location
// (root: /var/lib/hostsim/state.db; others: $XDG_STATE_HOME/hostsim/state.db,
// else ~/.local/state/hostsim/state.db). See state.h.
std::string StatePath();

// Creates a fresh state at StatePath() from a host profile (JSON file, at
// most 16 MiB); the built-in default profile when the path is empty. The
// only operation that creates a state: it replaces a state of ours or an
// empty file, and a file that is not ours only with `force`. A bad profile
// throws HostCtlException "Bad host profile <path>: <what is wrong>" and
// leaves the state alone.
void Init(const std::string& profilePath = "", bool force = false);

// Opens the state at StatePath() as every operation does, with all its
// checks, and throws their HostCtlException when it is refused: a tool can
// say so before it prints anything.
void CheckState();

// What a boot of the host does to the kernel: every domain, rule, file
// policy, world, leaked domain, special domain, service, invalid mark and
// object label that the profile does not predefine is gone, and the kernel
// log is empty. Options, the configuration store, the tardisk map, file
// labels on disk, faults and the journal stay; the journal records "Reboot".
void Reboot();

// Holds the writers' lock of the state at StatePath() while it lives (see
// state.h): commands that write a policy take it for their whole run.
// Waits while another process holds it, saying so once on standard error
// after a second. Readers never take it.
class WriterLock {
 public:
  WriterLock();
  ~WriterLock();
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;
};

// Accepted writes, oldest first: the operation's name, then its arguments,
// separated by single spaces.
std::vector<std::string> Journal();

struct KlogLine {
  std::string tag;
  std::string text;
};
std::vector<KlogLine> KernelLog();

// A forced failure. Without status or errno it targets the control-library
// operation of that name, which throws HostCtlException(message). With status
// or errno it targets the kernel call of that name (for example
// "AddFilePolicyBatch"), which returns that status (default 0xBAD0001) and
// error number (default EPERM). `match` limits it to calls one of whose
// arguments equals that text; `times` to the next N matching calls.
struct Fault {
  std::string operation;
  std::string message = "simulated failure";
  std::optional<int> errnum;
  std::optional<std::uint32_t> status;
  std::optional<std::string> match;
  std::optional<int> times;
};
// Refuses an operation that no fault can target: "Unknown operation <name>",
// followed by "; nearest: <a>, <b>" when some names are close.
void AddFault(const Fault& fault);
void ClearFaults();
// Every operation a fault can target, sorted: the control-library
// operations and the kernel calls.
std::vector<std::string> FaultOperations();
// The names of FaultOperations() closest to `name` (at most three).
std::vector<std::string> NearestOperations(const std::string& name);

void SetIntegerOption(const std::string& path, std::int32_t value);
void SetStringOption(const std::string& path, const std::string& value);
void UnsetOption(const std::string& path);

// Configuration store objects ("domain_settings", "security", "pal", domain).
void SetConfigValue(const std::string& domain, const std::string& key, const std::string& value);
bool GetBootStatus(const std::string& domain);

void AddWorld(int worldId, std::uint32_t domainId);

// After this the kernel names `tardiskName` as the tardisk that provides the
// inode of `file`.
void MapTardisk(const std::string& file, const std::string& tardiskName);

// Gives files the label attribute that the host kernel gives every new file
// (the profile's initialFileLabel); with recursive, whole trees, not
// following symbolic links.
void InitFileLabel(const std::string& path, bool recursive);

// Dry run of file labelling: while on, HyxCtl::Security::WriteFileLabelAttr
// and WriteFileLabelAttrAt record each write instead of making it (see
// label_attr.cc). Turning it on
// or off forgets what was recorded.
struct RecordedLabelWrite {
  std::string path;                    // as the policy names the file
  std::optional<std::uint32_t> before;  // the label id on disk, if any
  std::uint32_t after = 0;              // the id of the last write
};
void RecordLabelWrites(bool on);
// What was recorded, by path; forgets it.
std::vector<RecordedLabelWrite> TakeRecordedLabelWrites();

// A dry run's throwaway kernel. While a DryRun lives, the process works on a
// private copy of the state at StatePath() held in its own memory (taken
// with SQLite's online backup, so one consistent snapshot; see
// State::UsePrivateCopy): nothing is created on disk, so nothing is left
// behind however the process ends. The system logger counts as down
// (informational and error lines go to the copy's kernel log, never to the
// real system log) and label writes are recorded (RecordLabelWrites). The
// destructor puts both back and throws the copy away. The real state is
// only read; messages still name its path.
class DryRun {
 public:
  DryRun();
  ~DryRun();
  DryRun(const DryRun&) = delete;
  DryRun& operator=(const DryRun&) = delete;
};

// Copies the state at `from` into a new database file `to` with SQLite's
// online backup. The source is opened read-only and must exist.
void CopyState(const std::string& from, const std::string& to);

// Deletes every rule, file policy, capability rule and parameter-check rule
// of every domain; domains, objects and everything else stay. Journaled as
// "ClearRules".
void ClearRules();

// Whether the directory-relative label calls may use the kernel's
// setxattrat/getxattrat (on by default); off, they take the route of kernels
// without them, so tests cover both.
void UseXattrAtCalls(bool on);

// Marks a label as invalid: GetInvalidLabels(type) names it until it is
// removed and defined again.
void InvalidateLabel(const std::string& name, HyxAccessLabelType type);

// Replaces the kernel gate for this process; returns the previous one. A test
// gate sees the exact words of every call and answers what it likes.
using Gate = std::function<HyxCtl::Kernel::CallResult(std::uint32_t number,
                                                      const std::array<std::uint64_t, 5>& args)>;
Gate ReplaceKernelGate(Gate gate);
// The simulated kernel's own gate.
HyxCtl::Kernel::CallResult SimulatedKernelCall(std::uint32_t number,
                                               const std::array<std::uint64_t, 5>& args);

// Forces the answer of SyslogIsRunning for this process (nullopt: probe the
// real logger). The environment variable HOSTSIM_SYSLOG=up|down does the same
// for a whole process.
void SetSyslogRunning(std::optional<bool> running);

// Calls `observer` with the tag and text of every kernel-log line this
// process writes, just before writing it (an empty function: none). The
// observer must not throw. It lets a tool show the log it writes.
using KernelLogObserver = std::function<void(const std::string& tag, const std::string& text)>;
void ObserveKernelLog(KernelLogObserver observer);

// Puts this process, for the rest of its life, in a private mount namespace
// in which root/etc/norvane stands at /etc/norvane and root/tardisks at
// /tardisks (missing folders are created under root), without changing the
// machine's own /etc or /. Call while the process has one thread. Throws
// HostCtlException with a clear text when the process lacks the privilege.
void EnterHostRoot(const std::string& root);

}  // namespace HostSim
