// The system seam on Windows: every name goes through the wide API (UTF-8 in, UTF-16 to the
// system), every file is binary, and a file is a HANDLE.
#include "platform/platform.h"

// windows.h first: the other system headers build on it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vexdram::platform {

namespace {

std::wstring utf16(const char* s) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
  w.pop_back();  // the terminating null
  return w;
}

bool is_separator_w(wchar_t c) { return c == L'/' || c == L'\\'; }

// Win32 drops the dots and spaces that end a path's last part ("F." and "F " open F). A part of
// dots and spaces only stays as it is.
void drop_trailing_dots_and_spaces(std::wstring& w) {
  std::size_t end = w.size();
  while (end > 0 && (w[end - 1] == L'.' || w[end - 1] == L' ')) --end;
  if (end > 0 && !is_separator_w(w[end - 1]) && end < w.size()) w.resize(end);
}

// The full path of w as Win32 reads a path (the current folder before a relative one, "/" as
// "\\", "." and ".." resolved, the trailing dots and spaces of the last part dropped): what the
// \\?\ form, which takes a path as it is, must be given. Empty when the system cannot make one.
std::wstring full_path(const std::wstring& w) {
  const DWORD n = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return std::wstring();
  std::wstring full(n, L'\0');
  const DWORD m = ::GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  if (m == 0 || m >= n) return std::wstring();
  full.resize(m);
  return full;
}

// Paths at least this long go to the system in the \\?\ form: below MAX_PATH by the 12 that a
// folder keeps for an 8.3 name (CreateDirectoryW's own limit).
constexpr std::size_t long_path = MAX_PATH - 12;
constexpr wchar_t verbatim[] = L"\\\\?\\";  // \\?\ : the path as it is, at any length

// A path as the system takes it at any length: one that is long (its full path, that is) goes in
// the \\?\ form of its full path ("\\?\UNC\" for a share), which the wide API takes up to
// 32 767 units without the long-path setting of the system or the program's manifest; a shorter
// one goes as it is, so that the system still reads names as Win32 does (NUL, "F.").
std::wstring long_form(std::wstring w) {
  if (w.compare(0, 4, verbatim) == 0 || w.compare(0, 4, L"\\\\.\\") == 0) return w;
  const std::wstring full = full_path(w);
  if (full.size() < long_path) return w;
  if (full.compare(0, 2, L"\\\\") == 0) return verbatim + (L"UNC\\" + full.substr(2));
  return verbatim + full;
}

// Every path goes to the system through here.
std::wstring wide(const char* s) { return long_form(utf16(s)); }
std::wstring wide(const std::string& s) { return wide(s.c_str()); }

std::string narrow(const wchar_t* w) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string s(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.pop_back();
  return s;
}

HANDLE handle_of(native_file f) { return reinterpret_cast<HANDLE>(f); }

// The last Win32 error as the errno that POSIX gives for the same failure (0 when none fits).
int errno_of_last_error() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH: return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EBUSY;  // another program has it open
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED: return ENOTSUP;  // (hard links on FAT)
    case ERROR_TOO_MANY_LINKS: return EMLINK;
    case ERROR_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY: return EACCES;
    default: return EIO;
  }
}
void set_errno_from_last_error() { errno = errno_of_last_error(); }

// Every program that has the file open may still read, write, rename or delete it: the same
// freedom POSIX gives, so two runs behave as they do on Linux.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// ReadFile and WriteFile take a DWORD count and an offset in an OVERLAPPED record.
template <typename Byte, typename Io>
std::size_t transfer(Io io, HANDLE h, Byte* buf, std::size_t n, std::uint64_t pos) {
  std::size_t done = 0;
  while (done < n) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(pos + done);
    at.OffsetHigh = static_cast<DWORD>((pos + done) >> 32);
    DWORD got = 0;
    if (!io(h, buf + done, chunk, &got, &at) || got == 0) break;
    done += got;
  }
  return done;
}

}  // namespace

native_file open_file(const char* path, bool writable, std::uint64_t& size, bool& regular) {
  // A directory does not open without FILE_FLAG_BACKUP_SEMANTICS: it is refused here, as on Linux.
  const HANDLE h = ::CreateFileW(wide(path).c_str(), GENERIC_READ | (writable ? GENERIC_WRITE : 0),
                                 share_all, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    set_errno_from_last_error();
    return no_file;
  }
  LARGE_INTEGER length{};
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &length)) {
    ::CloseHandle(h);
    return no_file;
  }
  size = static_cast<std::uint64_t>(length.QuadPart);
  regular = true;
  return reinterpret_cast<native_file>(h);
}

void close_file(native_file f) {
  if (f != no_file) ::CloseHandle(handle_of(f));
}

std::size_t read_at(native_file f, std::uint64_t pos, void* buf, std::size_t n) {
  return transfer(::ReadFile, handle_of(f), static_cast<std::uint8_t*>(buf), n, pos);
}

std::size_t write_at(native_file f, std::uint64_t pos, const void* buf, std::size_t n) {
  return transfer(::WriteFile, handle_of(f), static_cast<const std::uint8_t*>(buf), n, pos);
}

bool sync_file(native_file f) { return ::FlushFileBuffers(handle_of(f)) != 0; }

native_file open_to_read(const std::string& path) {
  // BACKUP_SEMANTICS: a folder opens too, so that it is told apart as on Linux (status_of)
  const HANDLE h =
      ::CreateFileW(wide(path).c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<native_file>(h);
  set_errno_from_last_error();
  return no_file;
}
native_file standard_input() {
  return reinterpret_cast<native_file>(::GetStdHandle(STD_INPUT_HANDLE));
}

std::ptrdiff_t read_on(native_file f, void* buf, std::size_t n) {
  DWORD got = 0;
  if (::ReadFile(handle_of(f), buf, static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30)), &got,
                 nullptr))
    return static_cast<std::ptrdiff_t>(got);
  if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;  // the writer of a pipe closed it: its end
  set_errno_from_last_error();
  return -1;
}

std::size_t write_on(native_file f, const void* buf, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
    if (!::WriteFile(handle_of(f), static_cast<const std::uint8_t*>(buf) + done, chunk, &wrote,
                     nullptr)) {
      set_errno_from_last_error();
      break;
    }
    if (wrote == 0) break;
    done += wrote;
  }
  return done;
}

// No sendfile between files here: blocks of 1 MiB through memory.
std::uint64_t copy_data(native_file from, native_file to, std::uint64_t size) {
  std::vector<std::uint8_t> block(
      static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 20)));
  std::uint64_t done = 0;
  while (done < size) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(size - done, block.size()));
    const std::size_t got = read_at(from, done, block.data(), want);
    if (got == 0) {
      errno = 0;
      break;
    }
    if (write_at(to, done, block.data(), got) != got) {
      set_errno_from_last_error();
      break;
    }
    done += got;
  }
  return done;
}

bool same_file(native_file f, const char* path) {
  // No access asked: only the file's identity (volume and index) is read.
  const HANDLE other = ::CreateFileW(wide(path).c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  const bool same = ::GetFileInformationByHandle(handle_of(f), &a) &&
                    ::GetFileInformationByHandle(other, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  ::CloseHandle(other);
  return same;
}

// Large reads, not a mapping: a mapped view keeps other programs from truncating the file while
// the scan runs, and a read error inside a view arrives as a structured exception that GCC's code
// cannot catch. Reads of 128 KiB hold constant memory too.
bool scan_mapped(native_file, std::uint64_t, std::uint32_t, word_finder,
                 std::optional<std::uint64_t>&) {
  return false;
}

std::FILE* open_stream(const char* path, const char* mode) {
  std::string binary = mode;
  if (binary.find('b') == std::string::npos) binary += 'b';
  return ::_wfopen(wide(path).c_str(), utf16(binary.c_str()).c_str());
}

// No open_memstream here: a temporary file that goes once it is closed. msvcrt's tmpfile() makes
// it in the root of the drive; a user without rights there gets one in the temporary folder.
memory_stream::memory_stream() : f_(std::tmpfile()) {
  if (f_) return;
  wchar_t dir[MAX_PATH + 1], name[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, dir);
  if (n == 0 || n > MAX_PATH || !::GetTempFileNameW(dir, L"vxm", 0, name)) return;
  const HANDLE h =
      ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ::DeleteFileW(name);
    return;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(h), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(h);
    return;
  }
  f_ = ::_fdopen(fd, "w+b");
}
memory_stream::~memory_stream() {
  if (f_) std::fclose(f_);
}
std::optional<std::string> memory_stream::text() {
  if (!f_) return std::nullopt;
  // Every write reached the file, and all of it reads back: a full folder loses no byte unseen.
  const bool written = std::fflush(f_) == 0 && !std::ferror(f_);
  const long size = std::ftell(f_);
  std::rewind(f_);
  std::string s;
  char block[4096];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, f_)) > 0;) s.append(block, n);
  const bool whole =
      written && !std::ferror(f_) && size >= 0 && s.size() == static_cast<std::size_t>(size);
  std::fclose(f_);
  f_ = nullptr;
  if (!whole) return std::nullopt;
  return s;
}

// The command line comes from the system in UTF-16, as typed: the narrow argv the C runtime makes
// would have lost every character outside the console's code page.
arguments::arguments(int argc, char** argv) {
  int n = 0;
  wchar_t** w = ::CommandLineToArgvW(::GetCommandLineW(), &n);
  if (w) {
    for (int i = 0; i < n; ++i) text_.push_back(narrow(w[i]));
    ::LocalFree(w);
  } else {
    text_.assign(argv, argv + argc);
  }
  for (std::string& s : text_) words_.push_back(s.data());
  words_.push_back(nullptr);
}

// glibc's getopt, as far as the programs use it: options may follow operands (they are passed
// over, not moved), "--" ends the options, a lone "-" is an operand, and the two complaints are
// glibc's own words.
int option_scan::next(int argc, char** argv, const char* options) {
  value = nullptr;
  if (next_char == 0) {
    while (index < argc && !(argv[index][0] == '-' && argv[index][1] != '\0')) ++index;
    if (index >= argc) return -1;
    if (std::strcmp(argv[index], "--") == 0) {
      index = argc;
      return -1;
    }
    next_char = 1;
  }
  const char* word = argv[index];
  const char c = word[next_char++];
  const char* known = c == ':' ? nullptr : std::strchr(options, c);
  const bool last = word[next_char] == '\0';
  if (!known) {
    std::fprintf(stderr, "%s: invalid option -- '%c'\n", argv[0], c);
    if (last) ++index, next_char = 0;
    return '?';
  }
  if (known[1] != ':') {
    if (last) ++index, next_char = 0;
    return c;
  }
  // An option with a value: the rest of this word, or the next word whatever it is.
  if (!last) {
    value = word + next_char;
    ++index;
  } else if (index + 1 < argc) {
    value = argv[index + 1];
    index += 2;
  } else {
    std::fprintf(stderr, "%s: option requires an argument -- '%c'\n", argv[0], c);
    ++index;
    next_char = 0;
    return '?';
  }
  next_char = 0;
  return c;
}

// LF stays LF: the console shows it as a new line, and a program reading the output as text (the
// module does) takes either.
void binary_std_streams() {
  std::fflush(stdout);
  std::fflush(stderr);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}
// The C runtime here has no line buffering (_IOLBF buffers fully): every write goes out at once.
void line_buffered_stdout() { std::setvbuf(stdout, nullptr, _IONBF, 0); }

bool is_separator(char c) { return c == '/' || c == '\\'; }

bool write_temporary(const std::string& dir, const char* prefix, const std::uint8_t* bytes,
                     std::size_t n, std::string& temp) {
  static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  // A fresh name each try: CREATE_NEW fails where a file of that name exists, as mkstemp's O_EXCL.
  static std::uint64_t state = ::GetTickCount64() ^ (std::uint64_t{::GetCurrentProcessId()} << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = dir + "/" + prefix;
    for (int i = 0; i < 6; ++i) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      name += letters[(state >> 33) % (sizeof letters - 1)];
    }
    const HANDLE h = ::CreateFileW(wide(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    catch_interrupts();
    remove_if_interrupted(name);
    bool ok = transfer(::WriteFile, h, bytes, n, 0) == n && ::FlushFileBuffers(h);
    ok = ::CloseHandle(h) && ok;
    if (!ok) {
      remove_file(name);
      return false;
    }
    temp = std::move(name);
    return true;
  }
  return false;
}

namespace {
// Why a move over `to` was refused with "access denied": a read-only or a folder target is a
// refusal for good (EACCES, EISDIR: false). Any other may pass (true): a file that another program
// has open cannot be replaced, even when it shares its deletion (a run checking its target, a
// virus scanner); EBUSY when it holds it without sharing, else EACCES (it may be the folder's
// permissions too: they cannot be told apart from here).
bool denied_for_now(const std::wstring& to) {
  const DWORD attributes = ::GetFileAttributesW(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    errno = EISDIR;
    return false;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    errno = EACCES;
    return false;
  }
  const HANDLE h = ::CreateFileW(to.c_str(), DELETE, share_all, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  errno = h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION ? EBUSY : EACCES;
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  return true;
}
}  // namespace

bool replace_file(const std::string& from, const std::string& to, double patience_seconds) {
  // WRITE_THROUGH: the call returns once the move is on the disk, what the folder sync does on
  // Linux.
  const std::wstring source = wide(from), target = wide(to);
  const ULONGLONG deadline =
      ::GetTickCount64() + static_cast<ULONGLONG>(std::max(0.0, patience_seconds) * 1000);
  while (!::MoveFileExW(source.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD e = ::GetLastError();
    bool may_pass = e == ERROR_SHARING_VIOLATION;
    if (may_pass) errno = EBUSY;
    else if (e == ERROR_ACCESS_DENIED) may_pass = denied_for_now(target);
    else set_errno_from_last_error();
    if (!may_pass || ::GetTickCount64() >= deadline) return false;
    ::Sleep(20);
  }
  forget_on_interrupt(from);
  return true;
}

bool publish_file(const std::string& from, const std::string& to) {
  if (::MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
    forget_on_interrupt(from);
    return true;
  }
  set_errno_from_last_error();
  return false;
}

bool remove_file(const std::string& path) {
  const bool removed = ::DeleteFileW(wide(path).c_str()) != 0;
  forget_on_interrupt(path);
  return removed;
}

// Windows cannot flush a folder: MOVEFILE_WRITE_THROUGH has already put each move on the disk.
bool sync_folder(const std::string&) { return true; }

folder make_folder(const std::string& path) {
  const std::wstring w = wide(path);
  const DWORD attributes = ::GetFileAttributesW(w.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? folder::exists : folder::not_a_folder;
  const DWORD e = ::GetLastError();
  if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND) return folder::failed;
  return ::CreateDirectoryW(w.c_str(), nullptr) ? folder::made : folder::failed;
}

std::optional<std::uint64_t> regular_size(std::FILE* f) {
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f)));
  LARGE_INTEGER length{};
  if (h == INVALID_HANDLE_VALUE || ::GetFileType(h) != FILE_TYPE_DISK ||
      !::GetFileSizeEx(h, &length))
    return std::nullopt;
  return static_cast<std::uint64_t>(length.QuadPart);
}

namespace {
// The path the file system keeps for the file or folder at path, every link followed, in long
// names (never an 8.3 one) and the case it was made with: "C:\\..." or "\\\\server\\share\\...", the
// \\?\ form only for a path too long without it. nullopt when nothing is there. No access is asked
// and all is shared: a file another program holds without sharing has a final path too.
std::optional<std::string> final_path(const std::string& path) {
  const HANDLE h = ::CreateFileW(wide(path).c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  std::wstring full(32768, L'\0');
  const DWORD n = ::GetFinalPathNameByHandleW(h, full.data(), static_cast<DWORD>(full.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  ::CloseHandle(h);
  if (n == 0 || n >= full.size()) return std::nullopt;
  full.resize(n);
  if (full.size() - 4 < long_path && full.compare(0, 4, verbatim) == 0) {
    if (full.compare(4, 4, L"UNC\\") == 0) full.replace(0, 8, L"\\\\");
    else full.erase(0, 4);
  }
  return narrow(full.c_str());
}
}  // namespace

// "F", "F.", "F " and "f" name one file, and so do its 8.3 name and a path through a link or a
// junction: its final path is the one name they share. A file not there yet: its folder's final
// path and its name as the system would make it (no trailing dots and spaces).
std::string canonical_name(const std::string& path) {
  if (const auto there = final_path(path)) return *there;
  std::size_t slash = last_separator(path);
  const bool on_drive = path.size() > 1 && path[1] == ':';  // "C:F": F in C:'s current folder
  if (slash == std::string::npos && on_drive) slash = 1;
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::wstring name = utf16(path.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
  drop_trailing_dots_and_spaces(name);
  if (const auto in = final_path(folder); in && !name.empty() && name != L"." && name != L"..")
    return *in + (is_separator(in->back()) ? "" : "\\") + narrow(name.c_str());
  // no such folder either: what the path would be
  const std::wstring full = full_path(utf16(path.c_str()));
  return full.empty() ? path : narrow(full.c_str());
}

namespace {
// What GetFileInformationByHandle says of the open file h (link_itself: h was opened on a link).
std::optional<file_status> status_of_handle(HANDLE h, bool link_itself) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  FILE_ATTRIBUTE_TAG_INFO tag{};
  const DWORD type = ::GetFileType(h);
  // a device (NUL, CON) or a pipe has no such information: it is no file to read as a binary
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return file_status{};
  const bool ok = ::GetFileInformationByHandle(h, &info) &&
                  ::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic);
  if (!ok) {
    set_errno_from_last_error();
    return std::nullopt;
  }
  const bool tagged = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      ::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag);
  file_status s;
  if (link_itself && tagged && tag.ReparseTag == IO_REPARSE_TAG_SYMLINK)
    s.kind = file_status::type::link;
  else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) s.kind = file_status::type::folder;
  else if (type == FILE_TYPE_DISK) s.kind = file_status::type::regular;
  s.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  s.id.volume = info.dwVolumeSerialNumber;
  s.id.node = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  s.id.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  s.id.modified = basic.LastWriteTime.QuadPart;  // 100 ns units
  s.id.changed = basic.ChangeTime.QuadPart;
  return s;
}

// The file path names (or, link_itself, a symbolic link there). No access is asked: a file
// another program holds open without sharing is looked at too.
std::optional<file_status> status_at(const std::string& path, bool link_itself) {
  const HANDLE h = ::CreateFileW(
      wide(path).c_str(), 0, share_all, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (link_itself ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    set_errno_from_last_error();
    return std::nullopt;
  }
  const auto s = status_of_handle(h, link_itself);
  ::CloseHandle(h);
  return s;
}
}  // namespace

std::optional<file_identity> identity_of(const std::string& path) {
  const auto s = status_at(path, false);
  if (!s) return std::nullopt;
  return s->id;
}

std::optional<file_status> status_of(const std::string& path) { return status_at(path, false); }
std::optional<file_status> status_of(native_file f) {
  return status_of_handle(handle_of(f), false);
}
std::optional<file_status> link_status_of(const std::string& path) { return status_at(path, true); }

std::optional<std::string> real_path(const std::string& path) { return final_path(path); }

// A new file inherits its folder's permissions and belongs to the user who made it: there is
// neither a mode to copy nor an owner this program could give.
bool give_mode(native_file, const file_status&, bool) { return true; }

// Windows syncs no whole volume for a user (that needs an administrator's handle on it): each
// file is flushed by itself.
std::size_t sync_files(const std::vector<std::string>& paths) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const HANDLE h = ::CreateFileW(wide(paths[i]).c_str(), GENERIC_WRITE, share_all, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool ok = h != INVALID_HANDLE_VALUE && ::FlushFileBuffers(h);
    if (!ok) set_errno_from_last_error();
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    if (!ok) return i;
  }
  return paths.size();
}

// The C runtime here words errors its own way ("Resource device"): the GNU C library's words for
// the errors the seam gives, so that messages match the Linux build's.
std::string error_text(int error) {
  switch (error) {
    case ENOENT: return "No such file or directory";
    case EEXIST: return "File exists";
    case EBUSY: return "Device or resource busy";
    case ENOSPC: return "No space left on device";
    case ENOMEM: return "Cannot allocate memory";
    case EROFS: return "Read-only file system";
    case ENOTDIR: return "Not a directory";
    case EISDIR: return "Is a directory";
    case ENAMETOOLONG: return "File name too long";
    case EACCES: return "Permission denied";
    case EFBIG: return "File too large";
    case EIO: return "Input/output error";
    case EXDEV: return "Invalid cross-device link";
    case ENOTSUP: return "Operation not supported";
    case EMLINK: return "Too many links";
    case ELOOP: return "Too many levels of symbolic links";
    default: return std::strerror(error);
  }
}

namespace {
std::wstring wide_in(const folder_at& d, const std::string& name) { return wide(path_in(d, name)); }
// The byte a lock is taken on: far past the end of any file, so that it never stands in the way of
// a read or a write of the file (a lock on bytes of it would).
bool lock_at_once(HANDLE h) {
  OVERLAPPED at{};
  at.OffsetHigh = 0x7fffffff;
  return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}
native_file opened(HANDLE h) {
  if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<native_file>(h);
  set_errno_from_last_error();
  return no_file;
}
}  // namespace

native_file hold_folder(const std::string& path) {
  // No FILE_SHARE_DELETE: while a run holds it, the folder can be neither renamed nor removed.
  return opened(::CreateFileW(wide(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

std::string path_in(const folder_at& d, const std::string& name) {
  if (d.path.empty() || d.path == ".") return name;
  return is_separator(d.path.back()) ? d.path + name : d.path + "/" + name;
}

// No file without a name here: the run's first lock is its token.
native_file make_token(const folder_at&) {
  errno = ENOTSUP;
  return no_file;
}

bool link_token(native_file, const folder_at& from, const std::string& from_name,
                const folder_at& d, const std::string& name) {
  if (from_name.empty()) {
    errno = ENOTSUP;
    return false;
  }
  if (::CreateHardLinkW(wide_in(d, name).c_str(), wide_in(from, from_name).c_str(), nullptr))
    return true;
  set_errno_from_last_error();
  return false;
}

native_file create_lock(const folder_at& d, const std::string& name) {
  // CREATE_NEW never follows or replaces anything; others may read it, and delete it once nobody
  // holds it.
  const native_file f = opened(
      ::CreateFileW(wide_in(d, name).c_str(), GENERIC_READ | GENERIC_WRITE, share_all, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (f == no_file || lock_at_once(handle_of(f))) return f;
  close_file(f);  // another run is looking at it: left to that run
  errno = EEXIST;
  return no_file;
}

native_file open_lock(const folder_at& d, const std::string& name) {
  // DELETE: a lock nobody holds is removed through this handle (remove_lock)
  const native_file f = opened(::CreateFileW(
      wide_in(d, name).c_str(), GENERIC_READ | DELETE, share_all, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (f == no_file) return f;
  const auto s = status_of_handle(handle_of(f), true);
  if (s && s->kind == file_status::type::link) {
    close_file(f);
    errno = ELOOP;
    return no_file;
  }
  return f;
}

lock_try try_lock(native_file f) {
  if (lock_at_once(handle_of(f))) return lock_try::taken;
  const DWORD e = ::GetLastError();
  if (e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING) return lock_try::held;
  set_errno_from_last_error();
  return lock_try::failed;
}

// Windows does not tell who holds a lock.
long lock_holder(native_file) { return 0; }

bool same_node(native_file f, const folder_at& d, const std::string& name) {
  const auto open_one = status_of_handle(handle_of(f), false);
  const auto named = status_at(path_in(d, name), true);
  return open_one && named && open_one->id.volume == named->id.volume &&
         open_one->id.node == named->id.node;
}

bool remove_lock(native_file f, const folder_at& d, const std::string& name) {
  // Through the handle: the very name it was opened by goes, at once where the volume can
  // (FILE_DISPOSITION_POSIX_SEMANTICS), else when the handle is closed.
  struct {
    DWORD flags;
  } posix{0x1 | 0x2};  // FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS
  if (::SetFileInformationByHandle(handle_of(f), static_cast<FILE_INFO_BY_HANDLE_CLASS>(21), &posix,
                                   sizeof posix))
    return true;
  FILE_DISPOSITION_INFO classic{TRUE};
  if (::SetFileInformationByHandle(handle_of(f), FileDispositionInfo, &classic, sizeof classic))
    return true;
  return remove_in(d, name);
}

native_file create_in(const folder_at& d, const std::string& name) {
  return opened(::CreateFileW(wide_in(d, name).c_str(), GENERIC_READ | GENERIC_WRITE, share_all,
                              nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool remove_in(const folder_at& d, const std::string& name) {
  if (::DeleteFileW(wide_in(d, name).c_str())) return true;
  set_errno_from_last_error();
  return false;
}

std::optional<file_identity> identity_in(const folder_at& d, const std::string& name) {
  return identity_of(path_in(d, name));
}

// No exchange of two names here: the target is kept by a second name made just before the move.
namespace {
// Whether the file at `to` can be replaced now, asked before it gets a second name: that name
// shares the file's read-only state and the sharing of every program holding it, so it could not
// be removed again should the replace then fail. A file held without sharing its deletion is
// waited for up to patience_seconds (EBUSY after); a read-only file or a folder is refused at
// once (EACCES, EISDIR). No file there: true.
bool replaceable(const std::wstring& to, double patience_seconds) {
  const ULONGLONG deadline =
      ::GetTickCount64() + static_cast<ULONGLONG>(std::max(0.0, patience_seconds) * 1000);
  for (;;) {
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
      errno = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EISDIR : EACCES;
      return false;
    }
    const HANDLE h = ::CreateFileW(to.c_str(), DELETE, share_all, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
      return true;
    }
    if (::GetLastError() != ERROR_SHARING_VIOLATION) return true;  // the move says why
    errno = EBUSY;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(20);
  }
}
}  // namespace

std::optional<kept_as> replace_keeping(const folder_at& d, const std::string& from,
                                       const std::string& to, const std::string& kept,
                                       double patience_seconds) {
  if (!replaceable(wide_in(d, to), patience_seconds)) return std::nullopt;
  ::DeleteFileW(wide_in(d, kept).c_str());  // a killed run's
  const bool linked =
      ::CreateHardLinkW(wide_in(d, kept).c_str(), wide_in(d, to).c_str(), nullptr) != 0;
  const DWORD e = linked ? ERROR_SUCCESS : ::GetLastError();
  const bool none = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
  if (!linked && !none && e != ERROR_INVALID_FUNCTION && e != ERROR_NOT_SUPPORTED &&
      e != ERROR_TOO_MANY_LINKS) {
    set_errno_from_last_error();
    return std::nullopt;
  }
  if (!replace_file(path_in(d, from), path_in(d, to), patience_seconds)) {
    const int error = errno;
    if (linked) ::DeleteFileW(wide_in(d, kept).c_str());
    errno = error;
    return std::nullopt;
  }
  return linked ? kept_as::kept : none ? kept_as::nothing : kept_as::gone;
}

bool publish_in(const folder_at& d, const std::string& from, const std::string& to) {
  return publish_file(path_in(d, from), path_in(d, to));
}

bool rename_in(const folder_at& d, const std::string& from, const std::string& to,
               double patience_seconds) {
  return replace_file(path_in(d, from), path_in(d, to), patience_seconds);
}

bool sync_folder(const folder_at&) { return true; }

// Handles have no such limit.
std::size_t descriptors_allowed(bool) { return std::size_t{1} << 24; }

namespace {
// The console's handler runs on a thread of its own: the table is shared under a lock, which
// the handler keeps until the process has ended.
std::recursive_mutex pending_lock;
std::vector<std::wstring> pending;  // "" in a slot let go

// A console event ends the program as its signal ends it on Linux, with the status a shell
// reports there (128 + the signal's number): Ctrl+C and Ctrl+Break as SIGINT, a closed console as
// SIGHUP, logging off and shutting down as SIGTERM. TerminateProcess, not ExitProcess: the main
// thread may be holding the C runtime's locks (a printf), which the runtime's exit would wait for.
BOOL WINAPI on_console_event(DWORD event) {
  UINT status = 0;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: status = 128 + 2; break;
    case CTRL_CLOSE_EVENT: status = 128 + 1; break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: status = 128 + 15; break;
    default: return FALSE;
  }
  pending_lock.lock();
  for (const std::wstring& name : pending)
    if (!name.empty()) ::DeleteFileW(name.c_str());
  ::TerminateProcess(::GetCurrentProcess(), status);
  return TRUE;
}
}  // namespace

void catch_interrupts() {
  static const bool caught = ::SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
  (void)caught;
}

namespace {
// Registering catches nothing: a library leaves its host's interrupts alone (catch_interrupts).
interrupt_ticket register_pending(const std::string& path) {
  const std::lock_guard<std::recursive_mutex> hold(pending_lock);
  try {
    pending.push_back(wide(path));
  } catch (const std::bad_alloc&) {
    return no_ticket;
  }
  return pending.size() - 1;
}
}  // namespace

bool remove_if_interrupted(const std::string& path) { return register_pending(path) != no_ticket; }

interrupt_ticket remove_if_interrupted(const folder_at& d, const std::string& name) {
  return register_pending(path_in(d, name));
}

void catch_write_signals() { catch_interrupts(); }

void forget_on_interrupt(const std::string& path) {
  const std::wstring name = wide(path);
  const std::lock_guard<std::recursive_mutex> hold(pending_lock);
  for (std::wstring& p : pending)
    if (p == name) p.clear();
}

bool device_name(const std::string& path) {
  return reserved_on_windows(std::string_view(path).substr(last_separator(path) + 1));
}

void forget_on_interrupt(interrupt_ticket ticket) {
  const std::lock_guard<std::recursive_mutex> hold(pending_lock);
  if (ticket < pending.size()) pending[ticket].clear();
}

// The console's handler waits for the table while one is held.
interrupts_held::interrupts_held() { pending_lock.lock(); }
interrupts_held::~interrupts_held() { pending_lock.unlock(); }

std::tm utc_time(std::time_t t) {
  std::tm tm{};
  ::gmtime_s(&tm, &t);
  return tm;
}

}  // namespace vexdram::platform
