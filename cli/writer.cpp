#include "writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

#include "errors.h"

namespace vexdram::cli {
namespace {

std::string os_error() { return std::strerror(errno); }
std::string dir_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}
std::string name_of(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }
// A name in path's directory, written as path is (no "./" before a bare name).
std::string beside(const std::string& path, const std::string& name) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

// The system calls of a write stand in the small functions below, one job each.

// The lock of a target, which is also its new file until the rename: "NAME.lock"; for a name too
// long for that, its first bytes, "~" and a hash of the whole name.
std::string lock_name(const std::string& target) {
  const std::string name = name_of(target);
  constexpr const char* suffix = ".lock";
  if (name.size() + std::strlen(suffix) <= NAME_MAX) return target + suffix;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return beside(target, name.substr(0, NAME_MAX - std::strlen(suffix) - 17) + "~" + hex + suffix);
}

// A lock records the process that made it in this extended attribute, for as long as it is a
// lock (it is taken off before the rename). A file system without user attributes records none.
constexpr const char* pid_attribute = "user.vexdram.pid";

bool process_exists(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

// The process that made the lock at path, or 0 when it records none (another program's file, or
// a file system without user attributes).
long lock_owner(const std::string& path) {
  char text[16];
  const ssize_t got = ::lgetxattr(path.c_str(), pid_attribute, text, sizeof text - 1);
  if (got <= 0) return 0;
  long pid = 0;
  for (ssize_t i = 0; i < got; ++i) {
    if (text[i] < '0' || text[i] > '9' || pid > 99999999) return 0;
    pid = pid * 10 + (text[i] - '0');
  }
  return pid;
}

// Removes from dir the locks of processes that no longer exist (a run killed with SIGKILL leaves
// them); `only`, when given, is the one name looked at. The directory is locked meanwhile (flock),
// so that two runs never both take one stale lock over.
void remove_leftovers(const std::string& dir, const std::string& only = "") {
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return;
  while (::flock(dir_fd, LOCK_EX) != 0)
    if (errno != EINTR) break;
  auto consider = [&](const std::string& name) {
    if (name.size() < 5 || name.compare(name.size() - 5, 5, ".lock") != 0) return;
    const long pid = lock_owner(dir + "/" + name);
    if (pid > 0 && !process_exists(pid)) ::unlinkat(dir_fd, name.c_str(), 0);
  };
  if (!only.empty()) {
    consider(only);
  } else if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) consider(e->d_name);
    ::closedir(d);
  }
  ::close(dir_fd);  // and with it the directory's lock
}

// Makes the lock file `name`, empty: its descriptor, or -1 and errno (EEXIST: another holds it).
int create_lock(const std::string& name) {
  return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// Records this process in a lock just made (where the file system can), and closes it.
void record_owner(int fd) {
  const std::string pid = std::to_string(::getpid());
  (void)::fsetxattr(fd, pid_attribute, pid.data(), pid.size(), 0);
  ::close(fd);
}

// Renames temp over target: 0, or the errno of the failure.
int replace_file(const std::string& temp, const std::string& target) {
  return ::rename(temp.c_str(), target.c_str()) == 0 ? 0 : errno;
}

// Gives temp the name target unless target exists (EEXIST): 0, or the errno of the failure.
int publish_new(const std::string& temp, const std::string& target) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // A file system without it: a hard link is made only where no name is.
  if (::link(temp.c_str(), target.c_str()) == 0) {
    ::unlink(temp.c_str());
    return 0;
  }
  if (errno != EPERM && errno != ENOTSUP) return errno;
  // Nor hard links (FAT): the name is taken first, with O_EXCL, then the new file renamed over it.
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  ::close(fd);
  if (::rename(temp.c_str(), target.c_str()) == 0) return 0;
  const int error = errno;
  ::unlink(target.c_str());
  return error;
}

bool sync_fd(int fd) {
  while (::fsync(fd) != 0)
    if (errno != EINTR) return false;
  return true;
}

// Syncs the file at path, or (whole_file_system) everything on its file system: true when done.
bool sync_file(const std::string& path, bool whole_file_system) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && (whole_file_system ? ::syncfs(fd) == 0 : sync_fd(fd));
  const int error = errno;
  if (fd >= 0) ::close(fd);
  errno = error;
  return ok;
}

bool sync_folder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool ok = fd >= 0 && sync_fd(fd);
  const int error = errno;
  if (fd >= 0) ::close(fd);
  errno = error;
  return ok;
}

// True when path still names the file that had the status `was`: the same node, size and times.
bool unchanged(const std::string& path, const struct stat& was) {
  struct stat now {};
  return ::stat(path.c_str(), &now) == 0 && now.st_dev == was.st_dev && now.st_ino == was.st_ino &&
         now.st_size == was.st_size && now.st_mtim.tv_sec == was.st_mtim.tv_sec &&
         now.st_mtim.tv_nsec == was.st_mtim.tv_nsec && now.st_ctim.tv_sec == was.st_ctim.tv_sec &&
         now.st_ctim.tv_nsec == was.st_ctim.tv_nsec;
}

// Locks (the new files) are removed when a signal ends the program too: their names stand in a
// fixed table that the handler can read. A lock is entered as soon as it is made: before, it may
// be another run's.
constexpr std::size_t max_pending = std::size_t{1} << 16;
char* pending[max_pending];
volatile sig_atomic_t pending_count = 0;

void remove_pending(int sig) {
  for (sig_atomic_t i = 0; i < pending_count; ++i)
    if (pending[i]) ::unlink(pending[i]);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// INT, TERM, HUP and PIPE remove what is pending, then end the program as the signal would. A
// file over the size limit (ulimit -f) is a failed write (EFBIG), not the end of the program.
void setup_signals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, remove_pending);
  ::signal(SIGXFSZ, SIG_IGN);
}

// The recorded copy of a name (in a free place of the table, or after the last); nullptr when
// out of memory or when the table is full.
char* track(const std::string& name) {
  char* copy = ::strdup(name.c_str());
  if (!copy) return nullptr;
  for (sig_atomic_t i = 0; i < pending_count; ++i)
    if (!pending[i]) {
      pending[i] = copy;
      return copy;
    }
  if (pending_count >= static_cast<sig_atomic_t>(max_pending)) {
    std::free(copy);
    return nullptr;
  }
  pending[pending_count] = copy;
  pending_count = pending_count + 1;
  return copy;
}

void untrack(const std::string& name) {
  for (sig_atomic_t i = 0; i < pending_count; ++i)
    if (pending[i] && name == pending[i]) {
      // Out of the table before it is freed: a handler that runs now no longer sees it.
      char* const copy = pending[i];
      pending[i] = nullptr;
      std::free(copy);
    }
}

}  // namespace

writer::writer() { setup_signals(); }

writer::~writer() {
  for (const auto& [target, name] : locks_) {
    ::unlink(name.c_str());
    untrack(name);
  }
}

void writer::lock(const std::string& target, double wait_seconds) {
  const std::string dir = dir_of(target);
  if (swept_.insert(dir).second) remove_leftovers(dir);
  const std::string name = lock_name(target);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(wait_seconds);
  for (bool removed = false;;) {
    const int fd = create_lock(name);
    if (fd >= 0) {
      // Recorded at once: from now on this run removes it however it ends.
      locks_[target] = name;
      const bool tracked = track(name) != nullptr;
      record_owner(fd);
      if (!tracked) throw trouble{"too many files at once, or out of memory", target};
      return;
    }
    if (errno != EEXIST) throw trouble{"cannot make the lock file " + name + ": " + os_error(), target};
    const long holder = lock_owner(name);
    if (holder > 0 && !process_exists(holder) && !removed) {
      remove_leftovers(dir, name_of(name));  // its process no longer exists
      removed = true;
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      if (holder == 0)
        throw trouble{"exists: another vexdram run is writing " + target +
                          ", or it was left by another program or a killed run: remove it if none is writing",
                      name};
      throw trouble{"another vexdram run (process " + std::to_string(holder) + ") is writing " + target +
                        (wait_seconds > 0 ? ": it still was after the time --wait gave"
                                          : ": give --wait SECONDS to wait for it"),
                    name};
    }
    removed = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void writer::add(const std::string& target, const struct stat& like, bool keep_owner, const filler& fill,
                 const struct stat* read_as, bool replace) {
  if (!locks_.count(target)) lock(target);
  const std::string temp = locks_[target];
  const int fd = ::open(temp.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);  // made empty by lock()
  if (fd < 0) throw trouble{"cannot open the lock file " + temp + " to write into it: " + os_error(), target};
  outputs_.push_back({target, temp, nullptr, replace, read_as != nullptr, read_as ? *read_as : like});
  // Closed as soon as it is written: a thousand outputs must not hold a thousand descriptors.
  struct closer {
    int fd;
    ~closer() { ::close(fd); }
  } const closed{fd};
  // The new file is the caller's; in place it keeps the input's owner where the caller may give it.
  static const uid_t uid = ::geteuid();
  static const gid_t gid = ::getegid();
  if (keep_owner && uid == 0 && (like.st_uid != uid || like.st_gid != gid))
    (void)::fchown(fd, like.st_uid, like.st_gid);
  if (::fchmod(fd, like.st_mode & 07777) != 0) throw trouble{"cannot set the new file's mode: " + os_error(), target};
  outputs_.back().check = fill(fd, temp);
}

void writer::commit() {
  // One output is synced by itself. Many are synced together, one file system at a time: a
  // sync of each would cost a journal commit each.
  if (outputs_.size() == 1) {
    if (!sync_file(outputs_[0].temp, false))
      throw trouble{"cannot sync the new file: " + os_error(), outputs_[0].target};
  } else {
    std::set<dev_t> synced;
    for (const output& o : outputs_) {
      struct stat st {};
      if (::stat(o.temp.c_str(), &st) != 0) throw trouble{"cannot sync the new file: " + os_error(), o.target};
      if (synced.insert(st.st_dev).second && !sync_file(o.temp, true))
        throw trouble{"cannot sync the new file: " + os_error(), o.target};
    }
  }
  for (const output& o : outputs_) {
    const std::string wrong = o.check ? o.check() : "";
    if (!wrong.empty()) throw trouble{"the new file failed its check (" + wrong + "); nothing written", o.target};
  }
  // Another program may have written a target since it was read: its bytes are not lost.
  for (const output& o : outputs_)
    if (o.was_read && !unchanged(o.target, o.read_as))
      throw trouble{"changed while it was being edited; nothing written", o.target};
  std::set<std::string> dirs;
  for (const output& o : outputs_) {
    // A lock no more once renamed: a later run must never take the target for a stale lock.
    if (::removexattr(o.temp.c_str(), pid_attribute) != 0 && errno != ENODATA && errno != ENOTSUP)
      throw trouble{"cannot take the lock's mark off the new file: " + os_error(), o.target};
    const int error = o.replace ? replace_file(o.temp, o.target) : publish_new(o.temp, o.target);
    errno = error;
    if (error == EEXIST) throw trouble{"exists: give --force to replace it", o.target};
    if (error != 0) throw trouble{"cannot rename the new file into place: " + os_error(), o.target};
    untrack(o.temp);
    locks_.erase(o.target);
    dirs.insert(dir_of(o.target));
  }
  for (const std::string& d : dirs)
    if (!sync_folder(d)) throw trouble{"written, but its directory could not be synced: " + os_error(), d};
}

std::string output_target(const std::string& path) {
  char real[PATH_MAX];
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      if (::realpath(path.c_str(), real)) return output_target(real);
      throw trouble{"is a symlink that leads nowhere", path};
    }
    if (S_ISDIR(st.st_mode)) throw trouble{"is a directory", path};
    return path;
  }
  const std::string dir = dir_of(path);
  if (::stat(dir.c_str(), &st) != 0) throw trouble{"its directory " + dir + " does not exist", path};
  if (!S_ISDIR(st.st_mode)) throw trouble{dir + " is not a directory", path};
  return path;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat x {}, y {};
  return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

}  // namespace vexdram::cli
