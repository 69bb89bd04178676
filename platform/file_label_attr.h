// Name of the extended attribute that carries a file's security label: a
// 4-byte label id in host byte order.
#pragma once

namespace HyxCtl::Security {

// The host kernel names the attribute "norvane.security". Linux accepts only
// namespaced attribute names, so the simulated host stores it under the
// security namespace instead; nothing else differs.
inline constexpr char kFileLabelAttribute[] = "security.norvane";

inline constexpr unsigned int kFileLabelSize = 4;

}  // namespace HyxCtl::Security
