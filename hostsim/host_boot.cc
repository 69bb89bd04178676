// A reboot of the simulated host and the writers' lock (decisions in
// admin.h and state.h).
#include "hostsim/admin.h"
#include "hostsim/state.h"

namespace HostSim {

void Reboot() {
  State::Txn txn(State::Txn::kWrite);
  // Policies before the counts their triggers keep, rules before domains.
  for (const char* sql :
       {"DELETE FROM file_policies", "DELETE FROM file_policy_counts", "DELETE FROM rules",
        "DELETE FROM cap_rules", "DELETE FROM param_rules", "DELETE FROM worlds", "DELETE FROM leaked",
        "DELETE FROM special_domains", "DELETE FROM hvc_services", "DELETE FROM invalid_labels",
        "DELETE FROM domains", "DELETE FROM objects WHERE predefined=0", "DELETE FROM klog",
        "UPDATE meta SET value=2 WHERE key='free_slot'",
        // Predefined objects hold ids 2 upward from the first boot on.
        "UPDATE meta SET value=(SELECT COUNT(*) + 2 FROM objects) WHERE key='next_object_id'"}) {
    txn.Exec(sql);
  }
  txn.Journal("Reboot");
  txn.Commit();
}

WriterLock::WriterLock() { State::LockWriters(); }

WriterLock::~WriterLock() { State::UnlockWriters(); }

}  // namespace HostSim
