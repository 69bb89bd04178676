// Shared domain and file-policy operations of the simulated kernel
// (decisions in kernel_state.h).
#include "hostsim/kernel_state.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace HostSim::Kernel {

std::optional<std::uint32_t> FindDomainId(State::Txn& txn, const std::string& name) {
  State::Stmt s = txn.Query("SELECT id FROM domains WHERE name=?", name);
  if (!s.Step()) return std::nullopt;
  return s.U32(0);
}

std::optional<std::string> FindDomainName(State::Txn& txn, std::uint32_t id) {
  State::Stmt s = txn.Query("SELECT name FROM domains WHERE id=?", id);
  if (!s.Step()) return std::nullopt;
  return s.Text(0);
}

std::string RequireDomain(State::Txn& txn, std::uint32_t id) {
  auto name = FindDomainName(txn, id);
  if (!name) throw Refusal(ENOENT, "No domain with id " + std::to_string(id));
  return *name;
}

void CheckName(const char* kind, const std::string& name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
    const bool c1 = byte == 0xc2 && next >= 0x80 && next <= 0x9f;
    if (byte < 0x20 || byte == 0x7f || c1) {
      char codePoint[8];
      std::snprintf(codePoint, sizeof codePoint, "U+%04X", c1 ? next : byte);
      throw Refusal(EINVAL, std::string(kind) + " name holds control character " + codePoint +
                                " at byte offset " + std::to_string(i));
    }
  }
}

std::uint32_t CreateDomain(State::Txn& txn, const std::string& name, std::uint32_t defaultDom) {
  CheckName("Domain", name);
  if (name.empty() || name.size() > 63) {
    throw Refusal(EINVAL, "Domain name must be 1 to 63 bytes long: " + name);
  }
  if (defaultDom > 3) throw Refusal(EINVAL, "Unknown default-domain kind " + std::to_string(defaultDom));
  if (FindDomainId(txn, name)) throw Refusal(EEXIST, "Domain already exists: " + name);
  const Profile& profile = txn.profile();
  // Lowest slot from 2 upward that neither a domain nor a leaked domain
  // holds, searched from the kept bound below which every slot is taken.
  std::int64_t slot = 2;
  {
    State::Stmt hint = txn.Query("SELECT value FROM meta WHERE key='free_slot'");
    if (hint.Step()) slot = std::max<std::int64_t>(2, hint.Int(0));
  }
  while (slot < profile.maxDomains &&
         (txn.Query("SELECT 1 FROM domains WHERE id=?", slot).Step() ||
          txn.Query("SELECT 1 FROM leaked WHERE domain_id=?", slot).Step())) {
    ++slot;
  }
  if (slot >= profile.maxDomains) {
    throw Refusal(ENOSPC, "No free domain slot for " + name + " (" +
                              std::to_string(profile.maxDomains) + " slots)");
  }
  txn.Exec("INSERT INTO domains(id, name, level, state, default_dom) VALUES(?, ?, ?, 0, ?)", slot,
           name, profile.enforcementLevels.front(), defaultDom);
  txn.Exec("INSERT OR REPLACE INTO meta(key, value) VALUES('free_slot', ?)", slot + 1);
  return static_cast<std::uint32_t>(slot);
}

void DestroyDomain(State::Txn& txn, std::uint32_t id) {
  const std::string name = RequireDomain(txn, id);
  txn.Exec("DELETE FROM domains WHERE id=?", id);
  txn.Exec("DELETE FROM rules WHERE domain_id=?", id);
  txn.Exec("DELETE FROM file_policies WHERE domain_id=?", id);
  txn.Exec("DELETE FROM cap_rules WHERE domain_id=?", id);
  txn.Exec("DELETE FROM param_rules WHERE domain_id=?", id);
  txn.Exec("DELETE FROM hvc_services WHERE domain_id=?", id);
  txn.Exec("DELETE FROM special_domains WHERE domain_id=?", id);
  txn.Exec("DELETE FROM invalid_labels WHERE type=0 AND name=?", name);
  if (txn.Query("SELECT 1 FROM worlds WHERE domain_id=? LIMIT 1", id).Step()) {
    txn.Exec("INSERT OR REPLACE INTO leaked(domain_id, name) VALUES(?, ?)", id, name);
  } else {
    txn.Exec("UPDATE meta SET value=MIN(value, ?) WHERE key='free_slot'", id);
  }
}

std::uint32_t FilePolicyCount(State::Txn& txn, std::uint32_t domainId) {
  State::Stmt n = txn.Query("SELECT n FROM file_policy_counts WHERE domain_id=?", domainId);
  return n.Step() ? n.U32(0) : 0;
}

void PutFilePolicy(State::Txn& txn, std::uint32_t domainId, std::int64_t world,
                   const std::string& path, std::uint32_t mask) {
  txn.Exec(
      "INSERT INTO file_policies(domain_id, world, path, mask) VALUES(?, ?, ?, ?) "
      "ON CONFLICT(domain_id, world, path) DO UPDATE SET mask=excluded.mask",
      domainId, world, path, mask);
}

std::string MaskLetters(std::uint32_t mask) {
  std::string letters;
  if ((mask & 0x1u) != 0) letters += 'r';
  if ((mask & 0x2u) != 0) letters += 'w';
  if ((mask & 0x10u) != 0) letters += 'x';
  return letters;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

}  // namespace HostSim::Kernel
