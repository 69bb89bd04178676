// The extended attribute that carries a file's security label (a 4-byte
// label id in host byte order), and the calls that write and read it.
#pragma once

#include <sys/types.h>

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

// The same write on the entry `name` of the directory open as `dirfd`, never
// following a link at `name`: a link there gets the attribute itself, or the
// write fails. `name` is one entry as the directory lists it (no "/", not
// "." or ".."; EINVAL otherwise), or "" for the directory `dirfd` itself,
// which must then be open for reading (not O_PATH).
int WriteFileLabelAttrAt(int dirfd, const char* name, const char* shownPath, std::uint32_t id);

// Reads the label attribute of the entry `name` of `dirfd` (the same names as
// above, and the same rule for links) into `id`, as getxattr does: the size
// of the value, or -1 with errno set (ENODATA: no label; ERANGE: a value
// longer than an id).
ssize_t ReadFileLabelAttrAt(int dirfd, const char* name, std::uint32_t* id);

}  // namespace HyxCtl::Security
