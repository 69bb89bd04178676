// The extended attribute that carries a file's security label (a 4-byte
// label id in host byte order), and the one call that writes it.
#pragma once

#include <cstdint>

namespace HyxCtl::Security {

// The host kernel names the attribute "norvane.security". Linux accepts only
// namespaced attribute names, so the simulated host stores it under the
// security namespace instead; nothing else differs.
inline constexpr char kFileLabelAttribute[] = "security.norvane";

inline constexpr unsigned int kFileLabelSize = 4;

// Replaces the label attribute of `path` with `id`, as
// setxattr(path, kFileLabelAttribute, &id, kFileLabelSize, XATTR_REPLACE):
// returns 0, or -1 with errno set (ENODATA when the file has no label yet).
// `path` is the name the call uses, which may be a descriptor's
// ("/proc/self/fd/N"); `shownPath` is the file as the policy names it, for
// whoever watches the writes. Safe to call from several threads.
int WriteFileLabelAttr(const char* path, const char* shownPath, std::uint32_t id);

}  // namespace HyxCtl::Security
