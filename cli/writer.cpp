#include "writer.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "errors.h"

namespace vexdram::cli {
namespace {

std::string os_error() { return std::strerror(errno); }
std::string dir_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool sync_fd(int fd) {
  while (::fsync(fd) != 0)
    if (errno != EINTR) return false;
  return true;
}

// Temporary files are removed when a signal ends the program too: their names stand in a fixed
// table that the handler can read. A name is entered before the file is made (as mkostemp's
// template, which it then fills in), so there is no moment when a file exists unrecorded.
constexpr std::size_t max_pending = std::size_t{1} << 16;
char* pending[max_pending];
volatile sig_atomic_t pending_count = 0;

void remove_pending(int sig) {
  for (sig_atomic_t i = 0; i < pending_count; ++i)
    if (pending[i]) ::unlink(pending[i]);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// The recorded copy of a template (in a free place of the table, or after the last); nullptr
// when out of memory or when the table is full.
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

void untrack(const std::string& temp) {
  for (sig_atomic_t i = 0; i < pending_count; ++i)
    if (pending[i] && temp == pending[i]) {
      // Out of the table before it is freed: a handler that runs now no longer sees it.
      char* const copy = pending[i];
      pending[i] = nullptr;
      std::free(copy);
    }
}

}  // namespace

writer::writer() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, remove_pending);
}

writer::~writer() {
  for (output& o : outputs_) {
    if (!o.temp.empty()) {
      ::unlink(o.temp.c_str());
      untrack(o.temp);
    }
  }
}

void writer::add(const std::string& target, const struct stat& like, bool keep_owner, const filler& fill) {
  const std::string dir = dir_of(target);
  const std::string name = target.substr(target.find_last_of('/') + 1);
  char* temp = track((dir == "/" ? "" : dir) + "/." + name + ".vexdram-XXXXXX");
  if (!temp) throw trouble{"too many files at once, or out of memory", target};
  const int fd = ::mkostemp(temp, O_CLOEXEC);
  if (fd < 0) throw trouble{"cannot create a temporary file in " + dir + ": " + os_error(), target};
  outputs_.push_back({target, temp, nullptr});
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
  outputs_.back().check = fill(fd, outputs_.back().temp);
}

void writer::commit() {
  // One output is synced by itself. Many are synced together, one file system at a time: a
  // sync of each would cost a journal commit each.
  auto sync = [](const output& o, bool whole_file_system) {
    const int fd = ::open(o.temp.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && (whole_file_system ? ::syncfs(fd) == 0 : sync_fd(fd));
    const std::string why = os_error();
    if (fd >= 0) ::close(fd);
    if (!ok) throw trouble{"cannot sync the new file: " + why, o.target};
  };
  if (outputs_.size() == 1) {
    sync(outputs_[0], false);
  } else {
    std::set<dev_t> synced;
    for (const output& o : outputs_) {
      struct stat st {};
      if (::stat(o.temp.c_str(), &st) != 0) throw trouble{"cannot sync the new file: " + os_error(), o.target};
      if (synced.insert(st.st_dev).second) sync(o, true);
    }
  }
  for (const output& o : outputs_) {
    const std::string wrong = o.check ? o.check() : "";
    if (!wrong.empty()) throw trouble{"the new file failed its check (" + wrong + "); nothing written", o.target};
  }
  std::set<std::string> dirs;
  for (output& o : outputs_) {
    if (::rename(o.temp.c_str(), o.target.c_str()) != 0)
      throw trouble{"cannot rename the new file into place: " + os_error(), o.target};
    untrack(o.temp);
    o.temp.clear();
    dirs.insert(dir_of(o.target));
  }
  for (const std::string& d : dirs) {
    const int fd = ::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || !sync_fd(fd)) {
      if (fd >= 0) ::close(fd);
      throw trouble{"written, but its directory could not be synced: " + os_error(), d};
    }
    ::close(fd);
  }
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
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw trouble{"its directory " + dir + " does not exist", path};
  return path;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat x {}, y {};
  return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

}  // namespace vexdram::cli
