// Sysinfo nodes of the host's control library.
#pragma once

#include <cstdint>

// Node that returns, for an inode of the in-memory root file system, the
// 548-byte inode statistics record.
extern const std::uint16_t QSI_NODE_system_lumenfs_inodes_stats;

namespace HyxCtl::Util {

// One read of a sysinfo node. Every operation throws
// HostCtl::Lib::HostCtlException on failure.
class Sysinfo {
 public:
  explicit Sysinfo(unsigned int nodeId);
  ~Sysinfo();
  Sysinfo(const Sysinfo&) = delete;
  Sysinfo& operator=(const Sysinfo&) = delete;

  void AddInstancePath(unsigned long instance);
  void Get(void* buffer, unsigned int size);

 private:
  unsigned int node_;
  unsigned long instance_ = 0;
  bool hasInstance_ = false;
};

}  // namespace HyxCtl::Util
