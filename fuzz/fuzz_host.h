// The simulated host that every harness runs against: a state file on
// /dev/shm, set back to the same contents before each input so that a crash
// replays from its input alone, and a scratch folder for the files an input
// becomes. Standard output goes to /dev/null (the display operations write
// there); messages land in the simulated kernel log, never in the machine's
// system log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Fuzz {

// Domains and objects every reset state holds, beside the profile's own, so
// that rules naming them get past the lookups into the write paths.
inline constexpr const char* kDomains[] = {"superDom", "appDom", "daemonFrameworkDom",
                                          "ioFilterDom", "mgmtd"};
inline constexpr const char* kObjects[] = {"mgmtdConfig", "mgmtdLog", "netdSocket",
                                          "ioFilterBinary"};

class Host {
 public:
  // Sets the process up on first use; later calls return the same host.
  static Host& Get();

  // A fresh state: the built-in profile, then kDomains and kObjects.
  void Reset();

  // Writes `data` to scratch()/name, replacing the contents but keeping the
  // file (and so its inode) when it exists. Returns the path.
  std::string WriteFile(const std::string& name, std::string_view data) const;

  const std::string& scratch() const { return scratch_; }

  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

 private:
  Host();
  std::string scratch_;
};

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace Fuzz
