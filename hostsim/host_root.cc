// EnterHostRoot: a private view of the machine in which a test's folders
// stand at /etc/norvane and /tardisks, while the machine's own / and /etc
// stay untouched.
//
// How: in a new mount namespace (all mounts made private) a tmpfs becomes
// the new root T, mounted over /tmp (the real /tmp stays reachable through
// a detached copy of its mount tree). Every top-level entry of / reappears in
// T: directories and files bind-mounted recursively from the real ones,
// symbolic links copied. T/etc is an overlay of the real /etc with a
// throw-away upper layer (or, where overlays are unavailable, a tmpfs of
// binds of the real entries), in which /etc/norvane is bound to
// root/etc/norvane; T/tardisks is bound to root/tardisks. Then the process
// changes root to T and returns to its working directory. Writes under
// /tmp, /work and the like reach the real folders: they are binds.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace HostSim {

namespace {

namespace fs = std::filesystem;
using HostCtl::Lib::HostCtlException;

class HostRootBuilder {
 public:
  explicit HostRootBuilder(std::string root) : root_(std::move(root)) {}

  [[noreturn]] void Fail(const std::string& what, int err) const {
    throw HostCtlException("hostsim: cannot set up the host root " + root_ + ": " + what + ": " +
                           std::strerror(err));
  }

  void Mount(const std::string& source, const std::string& target, const char* type,
             unsigned long flags, const char* data = nullptr) const {
    if (mount(source.c_str(), target.c_str(), type, flags, data) != 0) {
      Fail("mount " + source + " on " + target, errno);
    }
  }

  void MakeDir(const std::string& path) const {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) Fail("mkdir " + path, errno);
  }

  void MakeFile(const std::string& path) const {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) Fail("create " + path, errno);
    close(fd);
  }

  // Makes `entry` (a name inside `from`) appear inside `to`.
  void Mirror(const std::string& from, const std::string& to, const std::string& entry,
              const std::string& bindSource) const {
    struct stat info {};
    const std::string source = from + "/" + entry;
    const std::string target = to + "/" + entry;
    if (lstat(source.c_str(), &info) != 0) return;  // vanished meanwhile
    if (S_ISLNK(info.st_mode)) {
      std::error_code error;
      const fs::path link = fs::read_symlink(source, error);
      if (error) Fail("readlink " + source, error.value());
      if (symlink(link.c_str(), target.c_str()) != 0) Fail("symlink " + target, errno);
      return;
    }
    if (S_ISDIR(info.st_mode)) {
      MakeDir(target);
    } else {
      MakeFile(target);
    }
    Mount(bindSource, target, nullptr, MS_BIND | MS_REC);
  }

  void Enter() {
    std::error_code error;
    fs::create_directories(fs::path(root_) / "etc" / "norvane", error);
    if (error) Fail("mkdir " + root_ + "/etc/norvane", error.value());
    fs::create_directories(fs::path(root_) / "tardisks", error);
    if (error) Fail("mkdir " + root_ + "/tardisks", error.value());
    const std::string realRoot = fs::canonical(root_, error).string();
    if (error) Fail("realpath", error.value());
    const std::string cwd = fs::current_path(error).string();
    if (error) Fail("getcwd", error.value());

    if (unshare(CLONE_NEWNS) != 0) {
      const int err = errno;
      if (err == EPERM) {
        throw HostCtlException(
            std::string("hostsim: cannot enter a private mount namespace (need root or "
                        "CAP_SYS_ADMIN): ") +
            std::strerror(err));
      }
      throw HostCtlException(std::string("hostsim: cannot enter a private mount namespace: ") +
                             std::strerror(err));
    }
    Mount("none", "/", nullptr, MS_REC | MS_PRIVATE);

    // The new root covers /tmp; a detached copy of the real /tmp tree, taken
    // first, goes back in at T/tmp (a bind taken later would include T).
    const std::string top = "/tmp";
    const int realTmp = open_tree(AT_FDCWD, "/tmp", OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE);
    if (realTmp < 0) Fail("clone /tmp", errno);
    Mount("hostsim-root", top, "tmpfs", MS_NOSUID, "mode=0755");

    for (const auto& item : fs::directory_iterator("/", error)) {
      const std::string name = item.path().filename().string();
      if (name == "etc" || name == "tmp") continue;
      Mirror("/", top, name, "/" + name);
    }
    if (error) Fail("read /", error.value());
    MakeDir(top + "/tmp");
    if (move_mount(realTmp, "", AT_FDCWD, (top + "/tmp").c_str(), MOVE_MOUNT_F_EMPTY_PATH) != 0) {
      Fail("move the real /tmp into place", errno);
    }
    close(realTmp);

    BuildEtc(top);
    const std::string norvane = top + "/etc/norvane";
    MakeDir(norvane);
    Mount(top + realRoot + "/etc/norvane", norvane, nullptr, MS_BIND | MS_REC);
    MakeDir(top + "/tardisks");
    Mount(top + realRoot + "/tardisks", top + "/tardisks", nullptr, MS_BIND | MS_REC);

    if (chdir(top.c_str()) != 0) Fail("chdir " + top, errno);
    if (chroot(".") != 0) Fail("chroot", errno);
    if (chdir(cwd.c_str()) != 0 && chdir("/") != 0) Fail("chdir /", errno);
  }

 private:
  void BuildEtc(const std::string& top) const {
    const std::string etc = top + "/etc";
    const std::string scratch = top + "/.hostsim-etc";
    MakeDir(etc);
    MakeDir(scratch);
    Mount("hostsim-etc", scratch, "tmpfs", MS_NOSUID, "mode=0755");
    MakeDir(scratch + "/upper");
    MakeDir(scratch + "/work");
    const std::string options =
        "lowerdir=/etc,upperdir=" + scratch + "/upper,workdir=" + scratch + "/work";
    if (mount("overlay", etc.c_str(), "overlay", 0, options.c_str()) != 0) {
      // No overlays here: a tmpfs holding binds of the real entries.
      Mount("hostsim-etc", etc, "tmpfs", MS_NOSUID, "mode=0755");
      std::error_code error;
      for (const auto& item : fs::directory_iterator("/etc", error)) {
        const std::string name = item.path().filename().string();
        if (name != "norvane") Mirror("/etc", etc, name, "/etc/" + name);
      }
      if (error) Fail("read /etc", error.value());
    }
    // The overlay keeps its own hold on its layers.
    umount2(scratch.c_str(), MNT_DETACH);
    rmdir(scratch.c_str());
  }

  std::string root_;
};

}  // namespace

void EnterHostRoot(const std::string& root) {
  struct stat info {};
  if (root.empty() || stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw HostCtlException("hostsim: the host root is not a folder: " + root);
  }
  HostRootBuilder(root).Enter();
}

}  // namespace HostSim
