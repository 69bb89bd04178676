// State file checks (decisions in state.h).
#include "hostsim/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/unique_fd.h"

namespace HostSim::StateFile {

namespace {

using Posix::UniqueFd;

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw HostCtl::Lib::HostCtlException("hostsim state " + path + ": " + why);
}

std::string Folder(const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

std::uint32_t BigEndian(const unsigned char* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

bool Writable(const std::string& path) { return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0; }

// The 100-byte SQLite header of an open file; fewer bytes when the file is shorter.
std::size_t ReadHeader(int fd, unsigned char (&header)[100]) {
  std::size_t got = 0;
  while (got < sizeof header) {
    const ssize_t n = pread(fd, header + got, sizeof header - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

// SQLite refuses a path with a link anywhere in it (SQLITE_OPEN_NOFOLLOW)
// and says only "unable to open database file": name the link first.
void RefuseLinkedFolders(const std::string& path) {
  std::filesystem::path folder = Folder(path);
  std::error_code error;
  if (folder.is_relative()) folder = std::filesystem::current_path(error) / folder;
  std::filesystem::path walked;
  for (const auto& part : folder.lexically_normal()) {
    walked /= part;
    struct stat info {};
    if (lstat(walked.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) continue;
    std::string why = "its folder " + walked.string() + " is a symbolic link";
    const auto real = std::filesystem::canonical(Folder(path), error);
    if (!error) why += "; name the state by its real path " + (real / std::filesystem::path(path).filename()).string();
    Refuse(path, why);
  }
}

// The write-ahead log and its index beside the state: SQLite opens them as
// they are, so one planted by someone else is refused here, by name.
void CheckSidecars(const std::string& path) {
  for (const auto& [suffix, what] : {std::pair{"-wal", "write-ahead log"}, std::pair{"-shm", "shared-memory index"}}) {
    const std::string file = path + suffix;
    struct stat info {};
    if (lstat(file.c_str(), &info) != 0) continue;
    const std::string named = std::string("its ") + what + " " + file;
    if (S_ISLNK(info.st_mode)) Refuse(path, named + " is a symbolic link");
    if (!S_ISREG(info.st_mode)) Refuse(path, named + " is not a regular file");
    if (info.st_uid != geteuid()) {
      Refuse(path, named + " is owned by another user (uid " + std::to_string(info.st_uid) + ")");
    }
  }
}

}  // namespace

void CheckFolder(const std::string& path) {
  const std::string folder = Folder(path);
  RefuseLinkedFolders(path);
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) {
    Refuse(path, "cannot use its folder " + folder + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(info.st_mode)) Refuse(path, "its folder " + folder + " is not a folder");
  if (info.st_uid != geteuid() && info.st_uid != 0) {
    Refuse(path, "its folder " + folder + " is owned by another user (uid " +
                     std::to_string(info.st_uid) + ")");
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0) {
    Refuse(path, "its folder " + folder + " is writable by other users");
  }
}

Found Inspect(const std::string& path) {
  if (struct stat folder {}; stat(Folder(path).c_str(), &folder) != 0 && errno == ENOENT) {
    return Found::kMissing;
  }
  CheckFolder(path);
  CheckSidecars(path);
  const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return Found::kMissing;
    if (errno == ELOOP) Refuse(path, "is a symbolic link");
    Refuse(path, std::string("cannot open: ") + std::strerror(errno));
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) Refuse(path, std::string("cannot stat: ") + std::strerror(errno));
  if (!S_ISREG(info.st_mode)) Refuse(path, "is not a regular file");
  if (info.st_uid != geteuid()) {
    Refuse(path, "is owned by another user (uid " + std::to_string(info.st_uid) + ")");
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) Refuse(path, "is writable by other users");
  if (info.st_size == 0) return Found::kEmpty;
  unsigned char header[100] = {};
  if (ReadHeader(fd.get(), header) < sizeof header ||
      std::memcmp(header, "SQLite format 3", 16) != 0 || BigEndian(header + 68) != kApplicationId) {
    return Found::kForeign;
  }
  return Found::kOurs;
}

bool CheckExisting(const std::string& path) {
  switch (Inspect(path)) {
    case Found::kMissing: Refuse(path, "no such file; run 'hostsim init' to create a simulated host");
    case Found::kEmpty: Refuse(path, "the file is empty; run 'hostsim init' to create a simulated host");
    case Found::kForeign:
      Refuse(path, "not a simulated host's state; point HOSTSIM_STATE at one or run 'hostsim init'");
    case Found::kOurs: break;
  }
  unsigned char header[100] = {};
  {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    ReadHeader(fd.get(), header);
  }
  if (const std::uint32_t version = BigEndian(header + 60); version != kSchemaVersion) {
    Refuse(path, "a state of schema version " + std::to_string(version) + ", this hostsim reads version " +
                     std::to_string(kSchemaVersion) + "; run 'hostsim init'");
  }
  return Writable(path) && Writable(Folder(path));
}

std::string ReadOnlyUri(const std::string& path) {
  std::string uri = "file:";
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        std::strchr("/-._~", c) != nullptr) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xF];
    }
  }
  struct stat wal {};
  const bool pending = stat((path + "-wal").c_str(), &wal) == 0 && wal.st_size > 0;
  return uri + (pending ? "?mode=ro" : "?immutable=1");
}

}  // namespace HostSim::StateFile
