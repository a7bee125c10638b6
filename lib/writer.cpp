#include "lib/writer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

#include "lib/errors.h"
#include "lib/files.h"

namespace vexdram::engine {
namespace {

namespace os = platform;

// How long a replace waits for a target that another program has open without sharing (on
// Windows: a virus scanner or an indexer looking at it, another run checking its target) before
// the write is refused: long enough for a look, short enough for a script.
constexpr double replace_patience_seconds = 1.0;
std::string dir_of(const std::string& path) {
  const std::size_t slash = os::last_separator(path);
  if (slash == std::string::npos) return ".";
  // the root, or a drive's root ("C:\")
  return slash == 0 || (slash == 2 && path[1] == ':') ? path.substr(0, slash + 1)
                                                      : path.substr(0, slash);
}
std::string name_of(const std::string& path) {
  const std::size_t slash = os::last_separator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
// A name in path's directory, written as path is (no "./" before a bare name).
std::string beside(const std::string& path, const std::string& name) {
  const std::size_t slash = os::last_separator(path);
  return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

// The lock of a target, which is also its new file until the rename: "NAME.lock"; for a name too
// long for that, its first bytes, "~" and a hash of the whole name.
std::string lock_name(const std::string& given) {
  const std::string target = os::canonical_name(given);
  const std::string name = name_of(target);
  constexpr const char* suffix = ".lock";
  if (name.size() + std::strlen(suffix) <= os::name_max) return target + suffix;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return beside(target,
                name.substr(0, os::name_max - std::strlen(suffix) - 17) + "~" + hex + suffix);
}

// Removes from dir the locks of processes that no longer exist (a run killed with SIGKILL leaves
// them); `only`, when given, is the one name looked at. The directory is locked meanwhile, so
// that two runs never both take one stale lock over.
void remove_leftovers(const std::string& dir, const std::string& only = "") {
  const os::folder_lock held(dir);
  auto consider = [&](const std::string& name) {
    if (name.size() < 5 || name.compare(name.size() - 5, 5, ".lock") != 0) return;
    const long pid = os::lock_owner(dir + "/" + name);
    if (pid > 0 && !os::process_exists(pid)) os::remove_file(dir + "/" + name);
  };
  if (!only.empty()) consider(only);
  else
    for (const std::string& name : os::folder_names(dir)) consider(name);
}

}  // namespace

writer::writer() = default;

writer::~writer() {
  for (const auto& [target, name] : locks_) os::remove_file(name);
}
void writer::lock(const std::string& target, double wait_seconds) {
  const std::string dir = dir_of(target);
  if (swept_.insert(dir).second) remove_leftovers(dir);
  const std::string name = lock_name(target);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(wait_seconds);
  for (bool removed = false;;) {
    // The lock file, empty: made only where no file is (EEXIST: another run holds it).
    if (const os::native_file f = os::create_new(name); f != os::no_file) {
      // Recorded at once: from now on this run removes it however it ends.
      locks_[target] = name;
      const bool tracked = os::remove_if_interrupted(name);
      os::record_owner(f, name);  // where the file system can
      os::close_file(f);
      if (!tracked)
        throw trouble{"too many files at once, or out of memory", target, errc::out_of_memory};
      return;
    }
    if (errno != EEXIST)
      throw trouble{"cannot make the lock file " + name + ": " + os_error(), target,
                    errc::write_failed, errno};
    const long holder = os::lock_owner(name);
    if (holder > 0 && !os::process_exists(holder) && !removed) {
      remove_leftovers(dir, name_of(name));  // its process no longer exists
      removed = true;
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      if (holder == 0)
        throw trouble{
            "exists: another vexdram run is writing " + target +
                ", or it was left by another program or a killed run: remove it if none is writing",
            name, errc::lock_exists};
      throw trouble{
          "another vexdram run (process " + std::to_string(holder) + ") is writing " + target, name,
          errc::busy};
    }
    removed = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void writer::add(const std::string& target, const os::file_status* like, bool keep_owner,
                 const filler& fill, const os::file_status* read_as, bool replace) {
  if (!locks_.count(target)) lock(target);
  const std::string temp = locks_[target];
  const os::native_file f = os::open_to_write(temp);  // made empty by lock()
  if (f == os::no_file)
    throw trouble{"cannot open the lock file " + temp + " to write into it: " + os_error(), target,
                  errc::write_failed, errno};
  // Renamed over the name the file system keeps for it: through an 8.3 name, "F." or another
  // case, a rename would give the file that name instead.
  outputs_.push_back({target, temp, nullptr, replace, read_as != nullptr,
                      read_as ? read_as->id : os::file_identity{}, os::canonical_name(target)});
  // Closed as soon as it is written: a thousand outputs must not hold a thousand descriptors.
  struct closer {
    os::native_file f;
    ~closer() { os::close_file(f); }
  } const closed{f};
  // The new file is the caller's; in place it keeps the input's owner where the caller may give it.
  if (like && !os::give_mode(f, *like, keep_owner))
    throw trouble{"cannot set the new file's mode: " + os_error(), target, errc::write_failed,
                  errno};
  outputs_.back().check = fill(f, temp);
}

void writer::commit() {
  // One output is synced by itself; many together, one file system at a time where the system
  // can (a sync of each would cost a journal commit each).
  std::vector<std::string> temps;
  for (const output& o : outputs_) temps.push_back(o.temp);
  if (const std::size_t failed = os::sync_files(temps); failed < temps.size())
    throw trouble{"cannot sync the new file: " + os_error(), outputs_[failed].target,
                  errc::write_failed, errno};
  for (const output& o : outputs_) {
    const std::string wrong = o.check ? o.check() : "";
    if (!wrong.empty())
      throw trouble{"the new file failed its check (" + wrong + "); nothing written", o.target,
                    errc::check_failed};
  }
  // Another program may have written a target since it was read: its bytes are not lost.
  for (const output& o : outputs_)
    if (o.was_read && os::identity_of(o.target) != o.read_as)
      throw trouble{"changed while it was being edited; nothing written", o.target, errc::changed};
  std::set<std::string> dirs;
  for (const output& o : outputs_) {
    // A lock no more once renamed: a later run must never take the target for a stale lock.
    if (!os::drop_owner(o.temp))
      throw trouble{"cannot take the lock's mark off the new file: " + os_error(), o.target,
                    errc::write_failed, errno};
    if (!(o.replace ? os::replace_file(o.temp, o.place, replace_patience_seconds)
                    : os::publish_file(o.temp, o.place))) {
      if (errno == EEXIST) throw trouble{"exists", o.target, errc::exists, EEXIST};
      throw trouble{"cannot rename the new file into place: " + os_error(), o.target,
                    errc::write_failed, errno};
    }
    locks_.erase(o.target);
    dirs.insert(dir_of(o.target));
  }
  for (const std::string& d : dirs)
    if (!os::sync_folder(d))
      throw trouble{"written, but its directory could not be synced: " + os_error(), d,
                    errc::not_synced, errno};
}

std::string output_target(const std::string& path) {
  if (const auto st = os::link_status_of(path)) {
    if (st->kind == os::file_status::type::link) {
      if (const auto real = os::real_path(path)) return output_target(*real);
      throw trouble{"is a symlink that leads nowhere", path, errc::no_directory, ENOENT};
    }
    if (st->kind == os::file_status::type::folder)
      throw trouble{"is a directory", path, errc::is_directory, EISDIR};
    return path;
  }
  const std::string dir = dir_of(path);
  const auto st = os::status_of(dir);
  if (!st)
    throw trouble{"its directory " + dir + " does not exist", path, errc::no_directory, ENOENT};
  if (st->kind != os::file_status::type::folder)
    throw trouble{dir + " is not a directory", path, errc::no_directory, ENOTDIR};
  return path;
}

bool same_file(const std::string& a, const std::string& b) {
  const auto x = os::identity_of(a), y = os::identity_of(b);
  return x && y && x->volume == y->volume && x->node == y->node;
}

}  // namespace vexdram::engine
