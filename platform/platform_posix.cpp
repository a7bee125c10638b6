// The system seam on Linux and other POSIX systems.
#include "platform/platform.h"

#include <fcntl.h>
#include <getopt.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vexdram::platform {

native_file open_file(const char* path, bool writable, std::uint64_t& size, bool& regular) {
  const int fd = ::open(path, (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return no_file;
  // A regular file or a block device (a boot partition, say). Anything else is refused: a
  // directory has no bytes, and a device like /dev/zero would never end the scan.
  struct stat st {};
  const bool stat_ok = ::fstat(fd, &st) == 0;
  if (stat_ok && S_ISREG(st.st_mode)) {
    size = static_cast<std::uint64_t>(st.st_size);
    regular = true;
    return fd;
  }
  const off_t end = stat_ok && S_ISBLK(st.st_mode) ? ::lseek(fd, 0, SEEK_END) : -1;
  if (end < 0) {
    ::close(fd);
    return no_file;
  }
  size = static_cast<std::uint64_t>(end);
  regular = false;
  return fd;
}

void close_file(native_file f) {
  if (f >= 0) ::close(static_cast<int>(f));
}

namespace {
// pread/pwrite until n bytes are done, the end is reached or an error other than EINTR.
template <typename Byte, typename Io>
std::size_t transfer(Io io, int fd, Byte* buf, std::size_t n, std::uint64_t pos) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = io(fd, buf + done, n - done, static_cast<off_t>(pos + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}
}  // namespace

std::size_t read_at(native_file f, std::uint64_t pos, void* buf, std::size_t n) {
  return transfer(::pread, static_cast<int>(f), static_cast<std::uint8_t*>(buf), n, pos);
}

std::size_t write_at(native_file f, std::uint64_t pos, const void* buf, std::size_t n) {
  return transfer(::pwrite, static_cast<int>(f), static_cast<const std::uint8_t*>(buf), n, pos);
}

bool sync_file(native_file f) {
  while (::fsync(static_cast<int>(f)) != 0)
    if (errno != EINTR) return false;
  return true;
}

native_file open_to_read(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}
native_file standard_input() { return 0; }

std::ptrdiff_t read_on(native_file f, void* buf, std::size_t n) {
  ssize_t got;
  do got = ::read(static_cast<int>(f), buf, n);
  while (got < 0 && errno == EINTR);
  return got;
}

std::size_t write_on(native_file f, const void* buf, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w =
        ::write(static_cast<int>(f), static_cast<const std::uint8_t*>(buf) + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += static_cast<std::size_t>(w);
  }
  return done;
}

std::uint64_t copy_data(native_file from, native_file to, std::uint64_t size) {
  std::uint64_t done = 0;
  off_t in = 0;
  while (done < size) {
    const ssize_t n =
        ::sendfile(static_cast<int>(to), static_cast<int>(from), &in,
                   static_cast<std::size_t>(std::min<std::uint64_t>(size - done, 1u << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = 0;
    if (n <= 0) break;
    done += static_cast<std::uint64_t>(n);
  }
  return done;
}

bool same_file(native_file f, const char* path) {
  struct stat a {
  }, b{};
  return ::stat(path, &a) == 0 && ::fstat(static_cast<int>(f), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

namespace {
// A file that shrinks while it is mapped raises SIGBUS on the pages past its new end. The scan
// turns that into "the file ends here": the handler jumps back to the scan when the fault lies in
// the window being scanned, and leaves every other SIGBUS to the handler that was there before.
// A SIGBUS of a fault goes to the thread that faulted: each thread has its own window and jump,
// and the handler stays while any thread scans (a library's host may scan in several).
thread_local sigjmp_buf bus_jump;
thread_local const std::uint8_t* volatile bus_lo = nullptr;
thread_local const std::uint8_t* volatile bus_hi = nullptr;
struct sigaction bus_previous;
std::mutex bus_lock;
int bus_scans = 0;  // under bus_lock

void on_bus(int, siginfo_t* info, void*) {
  const auto* at = static_cast<const std::uint8_t*>(info->si_addr);
  if (at >= bus_lo && at < bus_hi) siglongjmp(bus_jump, 1);
  ::sigaction(SIGBUS, &bus_previous, nullptr);  // not ours: fault again under the old handler
}

struct bus_guard {
  bus_guard() {
    const std::lock_guard<std::mutex> hold(bus_lock);
    if (bus_scans++ > 0) return;
    struct sigaction sa {};
    sa.sa_sigaction = on_bus;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGBUS, &sa, &bus_previous);
  }
  ~bus_guard() {
    bus_lo = bus_hi = nullptr;
    const std::lock_guard<std::mutex> hold(bus_lock);
    if (--bus_scans == 0) ::sigaction(SIGBUS, &bus_previous, nullptr);
  }
};
// Compares one mapped window; false when the file shrank under it (at is then unset).
bool scan_window(const std::uint8_t* base, std::size_t len, std::uint32_t pattern, word_finder find,
                 std::optional<std::size_t>& at) {
  bus_lo = base;
  bus_hi = base + len;
  if (sigsetjmp(bus_jump, 1) != 0) return false;
  at = find(base, len & ~std::size_t{3}, pattern);
  bus_lo = bus_hi = nullptr;
  return true;
}
}  // namespace

bool scan_mapped(native_file f, std::uint64_t size, std::uint32_t pattern, word_finder find,
                 std::optional<std::uint64_t>& found) {
  // No copy into a read buffer: the page cache is compared where it lies, 2 MiB at a time, so
  // the memory the scan holds stays flat whatever the size of the file. Windows of 2 MiB at
  // 2 MiB offsets let the kernel map a large page-cache folio at once; no MAP_POPULATE, which
  // costs more than the faults it saves.
  constexpr std::uint64_t window = std::uint64_t{2} << 20;
  const bus_guard guard;
  found = std::nullopt;
  for (std::uint64_t pos = 0; pos + 4 <= size; pos += window) {
    const std::size_t len = static_cast<std::size_t>(std::min(window, size - pos));
    void* const map =
        ::mmap(nullptr, len, PROT_READ, MAP_SHARED, static_cast<int>(f), static_cast<off_t>(pos));
    if (map == MAP_FAILED) return false;
    std::optional<std::size_t> at;
    const bool whole = scan_window(static_cast<const std::uint8_t*>(map), len, pattern, find, at);
    ::munmap(map, len);
    // A file that shrank below the word being compared: every word before it was compared.
    if (!whole) return true;
    if (at) {
      found = pos + *at;
      return true;
    }
  }
  return true;
}

std::FILE* open_stream(const char* path, const char* mode) { return std::fopen(path, mode); }

memory_stream::memory_stream() : f_(open_memstream(&buf_, &len_)) {}
memory_stream::~memory_stream() {
  if (f_) std::fclose(f_);
  std::free(buf_);
}
std::optional<std::string> memory_stream::text() {
  if (!f_) return std::nullopt;
  const bool whole = std::fflush(f_) == 0 && !std::ferror(f_);
  std::fclose(f_);
  f_ = nullptr;
  if (!whole) return std::nullopt;
  return std::string(buf_, len_);
}

arguments::arguments(int argc, char** argv) : words_(argv, argv + argc) {
  words_.push_back(nullptr);
}

int option_scan::next(int argc, char** argv, const char* options) {
  if (index != 0) {  // a new scan: glibc starts afresh at optind 0
    optind = 0;
    index = 0;
  }
  const int c = ::getopt(argc, argv, options);
  value = optarg;
  return c;
}

void binary_std_streams() {}
void line_buffered_stdout() { std::setvbuf(stdout, nullptr, _IOLBF, 0); }

bool is_separator(char c) { return c == '/'; }

namespace {
mode_t file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool write_all(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}
}  // namespace

bool write_temporary(const std::string& dir, const char* prefix, const std::uint8_t* bytes,
                     std::size_t n, std::string& temp) {
  std::string name = dir + "/" + prefix + "XXXXXX";
  static const bool caught = (catch_interrupts(), true);
  (void)caught;
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  remove_if_interrupted(name);
  bool ok = write_all(fd, bytes, n) && fchmod(fd, file_mode()) == 0 && fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    remove_file(name);
    return false;
  }
  temp = std::move(name);
  return true;
}

// (POSIX renames over a file whoever has it open: nothing to wait for)
bool replace_file(const std::string& from, const std::string& to, double) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  forget_on_interrupt(from);
  return true;
}

namespace {
bool publish_moves(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  // A file system without it: a hard link is made only where no name is.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno != EPERM && errno != ENOTSUP) return false;
  // Nor hard links (FAT): the name is taken first, with O_EXCL, then the new file renamed over it.
  const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  const int error = errno;
  ::unlink(to.c_str());
  errno = error;
  return false;
}
}  // namespace

bool publish_file(const std::string& from, const std::string& to) {
  if (!publish_moves(from, to)) return false;
  forget_on_interrupt(from);
  return true;
}

bool remove_file(const std::string& path) {
  const bool removed = ::unlink(path.c_str()) == 0;
  forget_on_interrupt(path);
  return removed;
}

// Some file systems refuse to sync a directory; the files themselves are complete and synced by
// then.
bool sync_folder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool ok = fd >= 0 && sync_file(fd);
  const int error = errno;
  if (fd >= 0) ::close(fd);
  errno = error;
  return ok;
}

folder make_folder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return errno == ENOENT && ::mkdir(path.c_str(), 0777) == 0 ? folder::made : folder::failed;
  return S_ISDIR(st.st_mode) ? folder::exists : folder::not_a_folder;
}

std::optional<std::uint64_t> regular_size(std::FILE* f) {
  struct stat st {};
  if (::fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode))
    return static_cast<std::uint64_t>(st.st_size);
  return std::nullopt;
}

namespace {
file_identity identity_from(const struct stat& st) {
  file_identity id;
  id.volume = static_cast<std::uint64_t>(st.st_dev);
  id.node = static_cast<std::uint64_t>(st.st_ino);
  id.size = static_cast<std::uint64_t>(st.st_size);
  id.modified = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  id.changed = std::int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
  return id;
}

file_status status_in(const struct stat& st) {
  file_status s;
  s.kind = S_ISREG(st.st_mode)   ? file_status::type::regular
           : S_ISDIR(st.st_mode) ? file_status::type::folder
           : S_ISBLK(st.st_mode) ? file_status::type::block_device
           : S_ISLNK(st.st_mode) ? file_status::type::link
                                 : file_status::type::other;
  s.mode = st.st_mode & 07777;
  s.owner = static_cast<long>(st.st_uid);
  s.group = static_cast<long>(st.st_gid);
  s.id = identity_from(st);
  return s;
}
}  // namespace

std::optional<file_identity> identity_of(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return identity_from(st);
}

std::optional<file_status> status_of(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return status_in(st);
}

std::optional<file_status> status_of(native_file f) {
  struct stat st {};
  if (::fstat(static_cast<int>(f), &st) != 0) return std::nullopt;
  return status_in(st);
}

std::optional<file_status> link_status_of(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return status_in(st);
}

std::optional<std::string> real_path(const std::string& path) {
  char real[PATH_MAX];
  if (!::realpath(path.c_str(), real)) return std::nullopt;
  return std::string(real);
}

bool give_mode(native_file f, const file_status& like, bool keep_owner) {
  const int fd = static_cast<int>(f);
  static const uid_t uid = ::geteuid();
  static const gid_t gid = ::getegid();
  if (keep_owner && uid == 0 &&
      (like.owner != static_cast<long>(uid) || like.group != static_cast<long>(gid)))
    (void)::fchown(fd, static_cast<uid_t>(like.owner), static_cast<gid_t>(like.group));
  return ::fchmod(fd, like.mode & 07777) == 0;
}

namespace {
// Opens path and syncs it, or everything on its file system.
bool sync_one(const std::string& path, bool whole_file_system) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0;
  if (ok && whole_file_system) ok = ::syncfs(fd) == 0;
  else if (ok) ok = sync_file(fd);
  const int error = errno;
  if (fd >= 0) ::close(fd);
  errno = error;
  return ok;
}
}  // namespace

// A sync of each of many files would cost a journal commit each: one syncfs per file system.
std::size_t sync_files(const std::vector<std::string>& paths) {
  if (paths.size() == 1) return sync_one(paths[0], false) ? 1 : 0;
  std::vector<dev_t> synced;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    struct stat st {};
    if (::stat(paths[i].c_str(), &st) != 0) return i;
    if (std::find(synced.begin(), synced.end(), st.st_dev) != synced.end()) continue;
    synced.push_back(st.st_dev);
    if (!sync_one(paths[i], true)) return i;
  }
  return paths.size();
}

std::string error_text(int error) { return std::strerror(error); }

std::string canonical_name(const std::string& path) { return path; }

namespace {
// The descriptor names in d are reached through, and the name to give it: AT_FDCWD and the path
// when no descriptor is held.
struct at_name {
  int dir;
  std::string name;
};
at_name at(const folder_at& d, const std::string& name) {
  if (d.held != no_file) return {static_cast<int>(d.held), name};
  return {AT_FDCWD, path_in(d, name)};
}
bool same_dev_ino(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
// A lock holds no data: every user may open it to ask whether it is held.
void lock_mode(int fd) { (void)::fchmod(fd, 0444); }
}  // namespace

native_file hold_folder(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::string path_in(const folder_at& d, const std::string& name) {
  if (d.path.empty() || d.path == ".") return name;
  return d.path.back() == '/' ? d.path + name : d.path + "/" + name;
}

native_file make_token(const folder_at& d) {
  // linked by its /proc/self/fd name: without /proc it could not be linked at all
  static const bool proc = ::access("/proc/self/fd", X_OK) == 0;
  if (!proc) {
    errno = ENOTSUP;
    return no_file;
  }
  const at_name a = at(d, ".");
  const int fd = ::openat(a.dir, a.name.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return no_file;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {  // a new file: nobody else can hold it
    const int error = errno;
    ::close(fd);
    errno = error;
    return no_file;
  }
  lock_mode(fd);
  return fd;
}

bool link_token(native_file token, const folder_at& from, const std::string& from_name,
                const folder_at& d, const std::string& name) {
  const at_name to = at(d, name);
  const std::string self = "/proc/self/fd/" + std::to_string(token);
  if (::linkat(AT_FDCWD, self.c_str(), to.dir, to.name.c_str(), AT_SYMLINK_FOLLOW) == 0)
    return true;
  if (errno != ENOENT || from_name.empty()) return false;
  const at_name src = at(from, from_name);  // no /proc
  return ::linkat(src.dir, src.name.c_str(), to.dir, to.name.c_str(), 0) == 0;
}

native_file create_lock(const folder_at& d, const std::string& name) {
  const at_name a = at(d, name);
  const int fd =
      ::openat(a.dir, a.name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return no_file;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Another run has it open and locked, taking it for a lock left behind: it removes it.
    ::close(fd);
    errno = EEXIST;
    return no_file;
  }
  lock_mode(fd);
  return fd;
}

native_file open_lock(const folder_at& d, const std::string& name) {
  const at_name a = at(d, name);
  return ::openat(a.dir, a.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

lock_try try_lock(native_file f) {
  while (::flock(static_cast<int>(f), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return lock_try::held;
    if (errno != EINTR) return lock_try::failed;
  }
  return lock_try::taken;
}

long lock_holder(native_file f) {
  // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10969207 0 EOF": pid, then major:minor (hex):inode
  struct stat st {};
  if (::fstat(static_cast<int>(f), &st) != 0) return 0;
  std::FILE* locks = std::fopen("/proc/locks", "re");
  if (!locks) return 0;
  char line[256];
  long holder = 0;
  while (holder == 0 && std::fgets(line, sizeof line, locks)) {
    char kind[16], mode[16];
    long pid = 0;
    unsigned major_no = 0, minor_no = 0;
    unsigned long long inode = 0;
    if (std::sscanf(line, "%*d: %15s %*s %15s %ld %x:%x:%llu", kind, mode, &pid, &major_no,
                    &minor_no, &inode) == 6 &&
        std::strcmp(kind, "FLOCK") == 0 && std::strcmp(mode, "WRITE") == 0 && pid > 0 &&
        major_no == major(st.st_dev) && minor_no == minor(st.st_dev) && inode == st.st_ino)
      holder = pid;
  }
  std::fclose(locks);
  return holder;
}

bool same_node(native_file f, const folder_at& d, const std::string& name) {
  const at_name a = at(d, name);
  struct stat open_one {
  }, named{};
  return ::fstat(static_cast<int>(f), &open_one) == 0 &&
         ::fstatat(a.dir, a.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         same_dev_ino(open_one, named);
}

bool remove_lock(native_file, const folder_at& d, const std::string& name) {
  return remove_in(d, name);
}

native_file create_in(const folder_at& d, const std::string& name) {
  const at_name a = at(d, name);
  return ::openat(a.dir, a.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0600);
}

bool remove_in(const folder_at& d, const std::string& name) {
  const at_name a = at(d, name);
  return ::unlinkat(a.dir, a.name.c_str(), 0) == 0;
}

namespace {
bool rename_at(const folder_at& d, const std::string& from, const std::string& to, unsigned flags) {
  const at_name a = at(d, from), b = at(d, to);
  if (flags == 0) return ::renameat(a.dir, a.name.c_str(), b.dir, b.name.c_str()) == 0;
  return ::renameat2(a.dir, a.name.c_str(), b.dir, b.name.c_str(), flags) == 0;
}
bool link_at(const folder_at& d, const std::string& from, const std::string& to) {
  const at_name a = at(d, from), b = at(d, to);
  return ::linkat(a.dir, a.name.c_str(), b.dir, b.name.c_str(), 0) == 0;
}
bool no_such_call(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP; }
bool no_hard_links(int error) { return error == EPERM || error == ENOTSUP || error == EMLINK; }
}  // namespace

std::optional<kept_as> replace_keeping(const folder_at& d, const std::string& from,
                                       const std::string& to, const std::string& kept, double) {
  // One step that keeps what it replaced: the two names exchanged (ext4, XFS, btrfs, tmpfs).
  if (rename_at(d, from, to, RENAME_EXCHANGE)) return kept_as::from;
  if (errno == ENOENT)
    return rename_at(d, from, to, 0) ? std::optional(kept_as::nothing) : std::nullopt;
  if (!no_such_call(errno)) return std::nullopt;
  // Else a second name of the target, made just before the rename.
  remove_in(d, kept);  // a killed run's
  if (link_at(d, to, kept)) {
    if (rename_at(d, from, to, 0)) return kept_as::kept;
    const int error = errno;
    remove_in(d, kept);
    errno = error;
    return std::nullopt;
  }
  const int error = errno;
  if (error != ENOENT && !no_hard_links(error)) return std::nullopt;
  if (!rename_at(d, from, to, 0)) return std::nullopt;
  return error == ENOENT ? kept_as::nothing : kept_as::gone;
}

bool publish_in(const folder_at& d, const std::string& from, const std::string& to) {
  if (rename_at(d, from, to, RENAME_NOREPLACE)) return true;
  if (!no_such_call(errno)) return false;
  // A file system without it: a hard link is made only where no name is.
  if (link_at(d, from, to)) {
    remove_in(d, from);
    return true;
  }
  if (errno != EPERM && errno != ENOTSUP) return false;
  // Nor hard links (FAT): the name is taken first, with O_EXCL, then the new file renamed over it.
  const at_name b = at(d, to);
  const int fd = ::openat(b.dir, b.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  if (rename_at(d, from, to, 0)) return true;
  const int error = errno;
  remove_in(d, to);
  errno = error;
  return false;
}

bool rename_in(const folder_at& d, const std::string& from, const std::string& to, double) {
  return rename_at(d, from, to, 0);
}

bool sync_folder(const folder_at& d) {
  if (d.held == no_file) return sync_folder(d.path);
  return sync_file(d.held);
}

std::optional<file_identity> identity_in(const folder_at& d, const std::string& name) {
  const at_name a = at(d, name);
  struct stat st {};
  if (::fstatat(a.dir, a.name.c_str(), &st, 0) != 0) return std::nullopt;
  return identity_from(st);
}

std::size_t descriptors_allowed(bool raise) {
  struct rlimit r {};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return 1024;
  if (raise && r.rlim_cur < r.rlim_max) {
    r.rlim_cur = r.rlim_max;
    (void)::setrlimit(RLIMIT_NOFILE, &r);
    (void)::getrlimit(RLIMIT_NOFILE, &r);
  }
  return r.rlim_cur == RLIM_INFINITY ? std::size_t{1} << 20 : static_cast<std::size_t>(r.rlim_cur);
}

namespace {
// The names stand in a fixed table that the handler can read without allocating: each slot a
// folder's descriptor (AT_FDCWD for a path) and a name in it; a slot is emptied before its name is
// freed. Slots are handed out in order; the table is searched for a free one only once full.
constexpr std::size_t max_pending = std::size_t{1} << 16;
char* pending[max_pending];
int pending_dir[max_pending];
volatile sig_atomic_t pending_count = 0;
// Threads of one process (a library's host) change the table one at a time; the handler only
// reads it.
std::mutex pending_lock;

void remove_pending(int sig) {
  for (sig_atomic_t i = 0; i < pending_count; ++i)
    if (pending[i]) ::unlinkat(pending_dir[i], pending[i], 0);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

void catch_interrupts() {
  static const bool caught = [] {
    // an interrupt ignored when the program started (a background job) stays ignored
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
      if (::signal(sig, remove_pending) == SIG_IGN) ::signal(sig, SIG_IGN);
    return true;
  }();
  (void)caught;
}
namespace {
// Registering catches nothing: a library leaves its host's interrupts alone (catch_interrupts).
interrupt_ticket register_pending(int dir, const char* name) {
  char* const copy = ::strdup(name);
  if (!copy) return no_ticket;
  const std::lock_guard<std::mutex> hold(pending_lock);
  std::size_t slot = static_cast<std::size_t>(pending_count);
  if (slot >= max_pending) {
    for (slot = 0; slot < max_pending && pending[slot]; ++slot) {
    }
    if (slot == max_pending) {
      std::free(copy);
      return no_ticket;
    }
  }
  pending_dir[slot] = dir;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  pending[slot] = copy;  // the name last: the handler reads a slot by its name
  if (slot == static_cast<std::size_t>(pending_count)) pending_count = pending_count + 1;
  return slot;
}

// Under pending_lock.
void forget_slot(interrupt_ticket ticket) {
  if (ticket >= static_cast<std::size_t>(pending_count) || !pending[ticket]) return;
  char* const copy = pending[ticket];
  pending[ticket] = nullptr;
  std::free(copy);
}

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  return set;
}
// A signal mask is a thread's own: so is what it held back.
thread_local int held_depth = 0;
thread_local sigset_t held_before;
}  // namespace

void catch_write_signals() {
  static const bool caught = [] {
    catch_interrupts();
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    return true;
  }();
  (void)caught;
}

bool remove_if_interrupted(const std::string& path) {
  return register_pending(AT_FDCWD, path.c_str()) != no_ticket;
}

interrupt_ticket remove_if_interrupted(const folder_at& d, const std::string& name) {
  const at_name a = at(d, name);
  return register_pending(a.dir, a.name.c_str());
}

void forget_on_interrupt(interrupt_ticket ticket) {
  const std::lock_guard<std::mutex> hold(pending_lock);
  forget_slot(ticket);
}

void forget_on_interrupt(const std::string& path) {
  const std::lock_guard<std::mutex> hold(pending_lock);
  for (sig_atomic_t i = 0; i < pending_count; ++i)
    if (pending[i] && pending_dir[i] == AT_FDCWD && path == pending[i])
      forget_slot(static_cast<interrupt_ticket>(i));
}

interrupts_held::interrupts_held() {
  if (held_depth++ > 0) return;
  const sigset_t set = interrupt_set();
  ::pthread_sigmask(SIG_BLOCK, &set, &held_before);
}

interrupts_held::~interrupts_held() {
  if (--held_depth > 0) return;
  ::pthread_sigmask(SIG_SETMASK, &held_before, nullptr);  // what came meanwhile is handled now
}

bool device_name(const std::string&) { return false; }

std::tm utc_time(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

}  // namespace vexdram::platform
