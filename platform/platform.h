// What the programs touch of the system, in one place: files by name and by handle, the scan's
// mapping, durability, all-or-nothing replacement, temporary names, the command line, standard
// output, interrupts and the clock. One implementation per system in its own file
// (platform_posix.cpp, platform_win32.cpp), chosen by the build. Every path is UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexdram::platform {

// A descriptor on POSIX, a HANDLE on Windows.
using native_file = std::intptr_t;
inline constexpr native_file no_file = -1;

// Opens a file to read, or to read and write; no_file when it is missing, refused, or neither a
// regular file nor a block device. size is its length; regular tells the two apart.
native_file open_file(const char* path, bool writable, std::uint64_t& size, bool& regular);
void close_file(native_file f);
// Both return the bytes done: fewer than n only at the end of the file or on an error.
std::size_t read_at(native_file f, std::uint64_t pos, void* buf, std::size_t n);
std::size_t write_at(native_file f, std::uint64_t pos, const void* buf, std::size_t n);
// Puts what was written on stable storage.
bool sync_file(native_file f);

// Files read and written from where the last call ended, as a stream: any file, a pipe and a
// device too (ask status_of what it is). open_to_read gives no_file and errno when it fails.
native_file open_to_read(const std::string& path);
native_file standard_input();  // not to be closed
// One read: the bytes read, 0 at the end, -1 and errno on an error.
std::ptrdiff_t read_on(native_file f, void* buf, std::size_t n);
// All n bytes, or fewer and errno.
std::size_t write_on(native_file f, const void* buf, std::size_t n);
// Copies the first size bytes of `from` into the empty file `to`, in the kernel where it can
// (sendfile): the bytes copied; fewer when from ended first (errno 0) or on an error (errno).
std::uint64_t copy_data(native_file from, native_file to, std::uint64_t size);
// True when path names the file f has open (a second name, a link, the same path).
bool same_file(native_file f, const char* path);

// The first aligned word equal to pattern in buf[0, len), len a multiple of 4.
using word_finder = std::optional<std::size_t> (*)(const std::uint8_t* buf, std::size_t len,
                                                   std::uint32_t pattern);
// The scan of a regular file through read-only mapped windows, constant memory. False when this
// system scans by reads instead (the caller then reads in blocks); otherwise at is the result.
bool scan_mapped(native_file f, std::uint64_t size, std::uint32_t pattern, word_finder find,
                 std::optional<std::uint64_t>& at);

// A C stream on a file, always in binary mode: what is written is what Linux writes (LF).
std::FILE* open_stream(const char* path, const char* mode);

// A stream whose writes text() gives back once: in memory where the system has open_memstream,
// else in a temporary file that goes once it is closed. text() is nullopt when the stream could
// not be made or a write was lost (a full temporary folder): never a text cut short. (The
// programs build their texts in strings; this serves the tests that catch what the core prints.)
class memory_stream {
 public:
  memory_stream();
  ~memory_stream();
  memory_stream(const memory_stream&) = delete;
  memory_stream& operator=(const memory_stream&) = delete;
  std::FILE* file() const { return f_; }
  std::optional<std::string> text();

 private:
  std::FILE* f_ = nullptr;
  char* buf_ = nullptr;
  std::size_t len_ = 0;
};

// The command line as UTF-8, whatever the system hands a program.
class arguments {
 public:
  arguments(int argc, char** argv);
  int argc() const { return static_cast<int>(words_.size()) - 1; }
  char** argv() { return words_.data(); }

 private:
  std::vector<std::string> text_;
  std::vector<char*> words_;  // ends with a null pointer, like argv
};

// Short options as glibc's getopt reads them: permuted past operands, "--" ends them, its own
// messages on standard error. Returns -1 at the end, '?' for an unknown option or a missing value.
struct option_scan {
  int next(int argc, char** argv, const char* options);
  const char* value = nullptr;
  int index = 1;      // the argument being read
  int next_char = 0;  // within it, for options grouped in one argument ("-hg")
};

// Standard output and error write the same bytes on every system: no CR before LF (call it first).
void binary_std_streams();
// Standard output goes out a line at a time (as far as the system's C library allows).
void line_buffered_stdout();

// A name Windows takes for a device wherever it stands: CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9
// (and COM and LPT with a superscript 1, 2 or 3), CONIN$ and CONOUT$, in any case, with any
// extension ("nul.txt", "Aux.tar.gz"), with trailing dots, spaces or colons ("NUL.", "con:"), or
// spaces before the extension ("com1 .bin"). name is one part of a path. The same answer on every
// system, so that what would break on Windows is known everywhere (imgwelder's image names).
bool reserved_on_windows(std::string_view name);
// True when the last part of path is a device on this system whatever folder it stands in:
// reserved_on_windows on Windows, never on POSIX (there a device is a file of /dev).
bool device_name(const std::string& path);

// Folder separators in a path: '/' everywhere, and '\' on Windows.
bool is_separator(char c);
inline std::size_t last_separator(const std::string& path) {
  for (std::size_t i = path.size(); i-- > 0;)
    if (is_separator(path[i])) return i;
  return std::string::npos;
}

// Creates a new file in dir named prefix + six random characters, never over an existing file,
// writes bytes, gives it the permissions of a newly created file and puts it on the disk. Its path
// goes to temp; nothing is left when this fails.
bool write_temporary(const std::string& dir, const char* prefix, const std::uint8_t* bytes,
                     std::size_t n, std::string& temp);
// Puts from in the place of to in one step, to replaced when it exists; durable once true. On
// Windows a target that another program has open cannot be replaced (EBUSY when it does not
// share it, else EACCES, as for a read-only target): the move is tried again for up to
// patience_seconds, the caller's choice of how long a program looking at it (a virus scanner,
// another run checking its target) may take to let it go; a read-only target or a folder is
// refused at once. POSIX replaces a file whoever has it open: there the first try decides.
bool replace_file(const std::string& from, const std::string& to, double patience_seconds);
// Puts from at to only when nothing is there; false (and errno EEXIST when something is) otherwise.
bool publish_file(const std::string& from, const std::string& to);
bool remove_file(const std::string& path);
// Makes the renames in dir durable: false and errno when that failed (imgwelder takes it as best
// effort, vexdram reports it). Windows has no counterpart: there it does nothing.
bool sync_folder(const std::string& dir);
enum class folder { exists, made, not_a_folder, failed };
// Makes the folder path (one level) unless it is there.
folder make_folder(const std::string& path);
// The length of the regular file behind an open stream, for a reserve; nullopt otherwise.
std::optional<std::uint64_t> regular_size(std::FILE* f);

// What says a file is still the one read: its node (device and inode, volume and file index),
// size, modification and change times.
struct file_identity {
  std::uint64_t volume = 0, node = 0, size = 0;
  std::int64_t modified = 0, changed = 0;  // nanoseconds, or the system's own unit
  bool operator==(const file_identity& o) const {
    return volume == o.volume && node == o.node && size == o.size && modified == o.modified &&
           changed == o.changed;
  }
  bool operator!=(const file_identity& o) const { return !(*this == o); }
};
std::optional<file_identity> identity_of(const std::string& path);

// What vexdram asks of a name before it reads or replaces it.
struct file_status {
  enum class type { regular, folder, block_device, link, other };
  type kind = type::other;
  // Permission bits. Windows keeps none: 0444 for a read-only file there, else 0666.
  unsigned mode = 0;
  long owner = -1, group = -1;  // none on Windows
  file_identity id;
};
// The file path names, through symbolic links (stat); nullopt and errno when there is none.
std::optional<file_status> status_of(const std::string& path);
// The open file f (fstat).
std::optional<file_status> status_of(native_file f);
// The name itself: a symbolic link is a link (lstat).
std::optional<file_status> link_status_of(const std::string& path);
// The path of the file path leads to, every link followed; nullopt when it leads nowhere.
std::optional<std::string> real_path(const std::string& path);
// Gives the new file f the permissions of `like` and, when keep_owner and this process may,
// its owner. On Windows a new file takes its permissions from its folder and its owner is the
// user who made it: nothing to do there.
bool give_mode(native_file f, const file_status& like, bool keep_owner);
// Puts the files on stable storage: one by itself; several once per file system where the
// system syncs a whole file system at once (syncfs), else each. paths.size() when all are;
// otherwise the first that failed, errno saying why.
std::size_t sync_files(const std::vector<std::string>& paths);
// The text of an errno value, in the words of the GNU C library on every system, so that a
// message reads the same wherever the program runs.
std::string error_text(int error);

// What vexdram's all-or-nothing writer does besides (lib/writer.cpp says when, and in what
// words): it holds the folders it writes in; a target's lock is a name of a file that the kernel
// keeps locked for the run (released when the process ends, however it ends, and the same in
// every PID namespace of the machine); a lock nobody holds is told from a held one; the new file
// stands beside the target; a replaced target is kept until every target is done.
// The longest name of one file in a folder, in bytes (ext4 and XFS) or UTF-16 units (NTFS).
inline constexpr std::size_t name_max = 255;
// The one name that every name of a file shares, which its lock is made from and the new file is
// renamed to: on POSIX the path as given (symbolic links are followed before); on Windows, where
// "F", "F.", "F ", "f" and an 8.3 name name one file, the file's final path, or for a file not
// there yet its folder's final path and its name without trailing dots and spaces (no folder
// either: its full path). A hard link is a name of its own on both: two links, two names.
std::string canonical_name(const std::string& path);

// A folder a run writes in. On POSIX, with a descriptor held, every name below is reached through
// it, so that a folder renamed during the run takes the run's files with it; without one (more
// folders than descriptors), by path. On Windows its handle keeps the folder from being renamed
// or removed while it is held, and names are reached by path.
struct folder_at {
  std::string path;  // as written; "." for the current folder
  native_file held = no_file;
};
// Opens the folder path to hold it: no_file and errno when it cannot.
native_file hold_folder(const std::string& path);
// The path of name in d, as written: for messages, and for what is read again by path.
std::string path_in(const folder_at& d, const std::string& name);

// A run's token: a new file in d without a name (O_TMPFILE), locked by this process as long as it
// is open. no_file and errno where the system or the file system makes none (Windows, FAT, NFS):
// there the run's first lock, made by create_lock, serves as its token.
native_file make_token(const folder_at& d);
// Makes name in d one more name of the token (a hard link: it appears already locked), through
// the token itself where the system can, else from its name from_name in from. errno EEXIST: a
// file is there; EXDEV: another mount; EPERM or ENOTSUP: no hard links there; EMLINK: too many.
bool link_token(native_file token, const folder_at& from, const std::string& from_name,
                const folder_at& d, const std::string& name);
// A lock of its own: name made in d where no file is, never through a symbolic link, then locked.
// no_file and errno otherwise; EEXIST also when it could not be locked at once (another run is
// looking at it: it is left for that run, never taken as this run's).
native_file create_lock(const folder_at& d, const std::string& name);
// Opens the file found at a lock's name to ask about it, never through a symbolic link (ELOOP)
// and never waiting (a FIFO); no_file and errno.
native_file open_lock(const folder_at& d, const std::string& name);
enum class lock_try { taken, held, failed };
// Takes the lock of f at once, or tells that another process holds it: flock(LOCK_EX|LOCK_NB);
// on Windows LockFileEx on a byte far past any file's end, so that it never stands in a read's way.
lock_try try_lock(native_file f);
// The process holding the lock of f, when the system says (Linux: /proc/locks, which shows only
// the processes this PID namespace sees); 0 otherwise.
long lock_holder(native_file f);
// True when name in d, the name itself (a symbolic link is not followed), is the file f has open.
bool same_node(native_file f, const folder_at& d, const std::string& name);
// Removes the name of the lock f has open and locked (on Windows through f itself).
bool remove_lock(native_file f, const folder_at& d, const std::string& name);
// The new file: name made in d to write, only where no file is, never through a symbolic link.
native_file create_in(const folder_at& d, const std::string& name);
bool remove_in(const folder_at& d, const std::string& name);
// name in d, through symbolic links.
std::optional<file_identity> identity_in(const folder_at& d, const std::string& name);
// Where the file that replace_keeping replaced is kept: to was not there; at from (the two were
// exchanged in one step); at kept (a second name made just before the rename); nowhere (the file
// system has neither, and it is gone).
enum class kept_as { nothing, from, kept, gone };
// Puts from in the place of to in d in one step; nullopt and errno when it failed (to as it was).
// patience_seconds: as replace_file's.
std::optional<kept_as> replace_keeping(const folder_at& d, const std::string& from,
                                       const std::string& to, const std::string& kept,
                                       double patience_seconds);
// Puts from at to only where nothing is (renameat2(RENAME_NOREPLACE); a hard link, then a name
// taken with O_EXCL, where the file system lacks it); errno EEXIST when something is there.
bool publish_in(const folder_at& d, const std::string& from, const std::string& to);
// Renames from over to in d (a kept file put back); patience_seconds: as replace_file's.
bool rename_in(const folder_at& d, const std::string& from, const std::string& to,
               double patience_seconds);
// Makes the renames in d durable; false and errno when that failed. Nothing to do on Windows.
bool sync_folder(const folder_at& d);
// How many descriptors this process may have open; raise: the soft limit raised to the hard one
// first. A large number where handles have no such limit (Windows).
std::size_t descriptors_allowed(bool raise);

// A file that must not outlive an interrupt (Ctrl+C, a closed console or terminal, SIGTERM): the
// program removes what is registered, then ends as the interrupt would have. write_temporary
// registers its file and catches the interrupts; replace_file and remove_file let the name go.
// False when it could not be registered (out of memory, or the table of names is full).
// Registering alone catches nothing: a library leaves its host's interrupts alone, and the
// program that wants them caught says so (catch_interrupts, catch_write_signals). The table is
// shared by the threads of a process.
bool remove_if_interrupted(const std::string& path);
// From now on an interrupt ends the program so (write_temporary calls it too): on POSIX by
// the signal itself, SIGINT, SIGTERM or SIGHUP; on Windows by the console's events, with the
// status a shell on Linux gives for the matching signal (128 + its number): Ctrl+C and Ctrl+Break
// 130, a closed console 129, logging off or shutting down 143. What Windows does not let a
// program see: TerminateProcess (the Task Manager's "End task", taskkill /F), and under Wine a
// SIGTERM or SIGHUP sent to the process, which ends it at once as SIGKILL would; what is
// registered then stays behind.
void catch_interrupts();
void forget_on_interrupt(const std::string& path);
// The same for name in d, forgotten by the ticket it was given (no_ticket: not registered).
using interrupt_ticket = std::size_t;
inline constexpr interrupt_ticket no_ticket = static_cast<interrupt_ticket>(-1);
interrupt_ticket remove_if_interrupted(const folder_at& d, const std::string& name);
void forget_on_interrupt(interrupt_ticket ticket);
// While one lives, the interrupts wait (SIGINT, SIGTERM and SIGHUP blocked; on Windows the
// console's handler waits for the table of names): a name made and registered, or removed and
// forgotten, inside it is never half done when the handler runs. They nest; on POSIX they hold
// back the interrupts of the calling thread (its signal mask).
class interrupts_held {
 public:
  interrupts_held();
  ~interrupts_held();
  interrupts_held(const interrupts_held&) = delete;
  interrupts_held& operator=(const interrupts_held&) = delete;
};
// For a program whose output is written all or nothing (vexdram): a closed pipe is a failed
// write (EPIPE, SIGPIPE ignored), not the end of the program, and so is a file over the size
// limit (ulimit -f: EFBIG). Windows has neither signal: there only the console's interrupts are
// caught.
void catch_write_signals();

// Broken-down UTC time of t.
std::tm utc_time(std::time_t t);

}  // namespace vexdram::platform
