#include "lib/writer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "lib/errors.h"
#include "lib/files.h"

namespace vexdram::engine {
namespace {

namespace os = platform;
using clock = std::chrono::steady_clock;

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
// A name in path's directory, written as path is (no "./" before a bare name): for messages.
std::string beside(const std::string& path, const std::string& name) {
  const std::size_t slash = os::last_separator(path);
  return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

// The names the holder of a target's lock uses beside it: "NAME.lock", "NAME.lock.new",
// "NAME.lock.old"; for a name too long for that, its first bytes, "~" and a hash of the whole name
// before the suffix.
constexpr const char* lock_suffix = ".lock";
constexpr const char* new_suffix = ".lock.new";
constexpr const char* kept_suffix = ".lock.old";
std::string derived(const std::string& name, const char* suffix) {
  if (name.size() + std::strlen(suffix) <= os::name_max) return name + suffix;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return name.substr(0, os::name_max - std::strlen(suffix) - 17) + "~" + hex + suffix;
}

// What the writer says of locks and renames, once each (a front adds what its options offer:
// vexdram's --wait and --force).
namespace words {
std::string held(long holder, const std::string& target) {
  return holder > 0
             ? "another vexdram run (process " + std::to_string(holder) + ") is writing " + target
             : "another run holds the lock on " + target + " (which process is not known here)";
}
std::string not_a_lock(const std::string& target) {
  return "not a regular file, so no lock of vexdram's: it is left as it is (remove it to write " +
         target + ")";
}
std::string too_many(std::size_t allowed) {
  return "too many targets at once: on this file system each lock needs a descriptor of its own, "
         "and " +
         std::to_string(allowed) + " are allowed (ulimit -n); nothing written";
}
constexpr const char* cannot_make = "cannot make the lock file ";
constexpr const char* cannot_open = "cannot open the lock file to see whether a run holds it: ";
constexpr const char* cannot_try = "cannot try the lock: ";
constexpr const char* cannot_sweep = "cannot remove this lock, which no run holds: ";
constexpr const char* out_of_room = "too many files at once, or out of memory";
constexpr const char* cannot_rename = "cannot rename the new file into place: ";
constexpr const char* exists = "exists";
constexpr const char* all_back = "; nothing written";
constexpr const char* not_back = " could not be put back (its old file is kept as ";
constexpr const char* replaced = " is already replaced";
// What the renames before a failed one left: "; nothing written", or each target not put back.
std::string outcome(const std::vector<vexdram::not_put_back>& left) {
  if (left.empty()) return all_back;
  std::string out;
  for (const vexdram::not_put_back& t : left)
    out += "; " + t.target + (t.kept_at.empty() ? replaced : not_back + t.kept_at + ")");
  return out;
}
}  // namespace words

// Descriptors a run needs besides what the writer holds: the standard streams, an input, a new
// file and its read-back.
constexpr std::size_t reserve = 16;
// A run that sweeps a lock left by a killed run holds that lock's file for a moment, and every
// lock of that run is a name of that one file: a lock found held is taken for a live run's only
// once it has stayed held this long.
constexpr auto brief = std::chrono::milliseconds(200);

struct closer {
  os::native_file f;
  ~closer() { os::close_file(f); }
};

}  // namespace

// A library leaves its host's signals alone: vexdram catches its own (platform.h).
writer::writer() = default;

writer::~writer() {
  {
    const os::interrupts_held quiet;
    for (const output& o : outputs_)
      if (o.ticket != os::no_ticket) {
        os::remove_in(folders_[o.folder].at, o.temp_name);
        os::forget_on_interrupt(o.ticket);
      }
    release_locks();
  }
  for (const folder& f : folders_) os::close_file(f.at.held);
}

void writer::release_locks() {
  // Every name first, then the files: a name is this run's for as long as its file is locked.
  const os::interrupts_held quiet;
  for (const auto& [target, l] : locks_) {
    os::remove_in(folders_[l.folder].at, l.name);
    os::forget_on_interrupt(l.ticket);
  }
  for (const auto& [target, l] : locks_) os::close_file(l.own);
  locks_.clear();
  for (const token& t : tokens_) os::close_file(t.f);
  tokens_.clear();
}

bool writer::spare_descriptor() {
  if (allowed_ == 0) allowed_ = os::descriptors_allowed(false);
  if (descriptors_ + reserve < allowed_) return true;
  if (!raised_) {
    raised_ = true;
    allowed_ = os::descriptors_allowed(true);
  }
  return descriptors_ + reserve < allowed_;
}

void writer::need_descriptor(const std::string& target) {
  if (!spare_descriptor())
    throw trouble{words::too_many(allowed_), target, errc::write_failed, EMFILE};
}

std::size_t writer::folder_of(const std::string& dir) {
  if (const auto it = folder_index_.find(dir); it != folder_index_.end()) return it->second;
  // Held by a descriptor while one is to spare; else reached by its path.
  folder f{{dir, os::no_file}};
  if (spare_descriptor()) f.at.held = os::hold_folder(dir);
  if (f.at.held != os::no_file) ++descriptors_;
  const auto st = f.at.held != os::no_file ? os::status_of(f.at.held) : os::status_of(dir);
  if (!st) {
    os::close_file(f.at.held);
    throw trouble{"cannot open the directory: " + os_error(), dir, errc::write_failed, errno};
  }
  f.volume = st->id.volume;
  folders_.push_back(f);
  return folder_index_[dir] = folders_.size() - 1;
}

void writer::hold_lock(const std::string& target, std::size_t folder, const std::string& name,
                       os::native_file own) {
  const os::interrupt_ticket ticket = os::remove_if_interrupted(folders_[folder].at, name);
  locks_[target] = {folder, name, own, ticket};
  if (ticket == os::no_ticket)  // removed as the rest
    throw trouble{words::out_of_room, target, errc::out_of_memory};
}

// Makes the lock at name, already locked: true when this run holds it now, false when a file is
// there. Called with the interrupts held: a lock made is registered before any handler runs.
bool writer::take(const std::string& target, std::size_t folder, const std::string& name,
                  const std::string& path) {
  const os::folder_at& d = folders_[folder].at;
  const std::uint64_t volume = folders_[folder].volume;
  auto failed = [&]() {
    return trouble{words::cannot_make + path + ": " + os_error(), target, errc::write_failed, errno};
  };
  auto no_hard_links = [] { return errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP; };
  if (!no_links_.count(volume)) {
    // A hard link to a token of this file system.
    for (std::size_t i = 0; i < tokens_.size(); ++i) {
      token& t = tokens_[i];
      if (t.volume != volume || !t.linkable || other_mount_.count({i, folder})) continue;
      if (os::link_token(t.f, folders_[t.folder].at, t.name, d, name)) {
        hold_lock(target, folder, name, os::no_file);
        return true;
      }
      if (errno == EEXIST) return false;
      if (errno == EXDEV) other_mount_.insert({i, folder});
      else if (errno == EMLINK) t.linkable = false;
      else if (no_hard_links()) {
        no_links_.insert(volume);
        break;
      } else throw failed();
    }
  }
  if (!no_links_.count(volume) && !no_tokens_.count(volume)) {
    // A token of its own for this folder.
    need_descriptor(target);
    if (const os::native_file t = os::make_token(d); t != os::no_file) {
      tokens_.push_back({t, folder, "", volume});
      ++descriptors_;
      if (os::link_token(t, d, "", d, name)) {
        hold_lock(target, folder, name, os::no_file);
        return true;
      }
      if (errno == EEXIST) return false;
      if (!no_hard_links()) throw failed();
      no_links_.insert(volume);
    } else {
      no_tokens_.insert(volume);
    }
  }
  // A lock file of its own, made, locked, then found still at its name (a run that took it for a
  // lock left behind may have removed it meanwhile). Where there are hard links it is the token
  // of this folder too.
  need_descriptor(target);
  const os::native_file f = os::create_lock(d, name);
  if (f == os::no_file) {
    if (errno == EEXIST) return false;
    throw failed();
  }
  if (!os::same_node(f, d, name)) {
    os::close_file(f);
    return false;
  }
  ++descriptors_;
  if (no_links_.count(volume)) {
    hold_lock(target, folder, name, f);
  } else {
    tokens_.push_back({f, folder, name, volume});
    hold_lock(target, folder, name, os::no_file);
  }
  return true;
}

void writer::lock(const std::string& target, double wait_seconds) {
  if (locks_.count(target)) return;
  const std::string canonical = os::canonical_name(target);
  const std::size_t folder = folder_of(dir_of(canonical));
  const os::folder_at& d = folders_[folder].at;
  const std::string name = derived(name_of(canonical), lock_suffix);
  const std::string path = beside(canonical, name);
  const auto deadline = clock::now() + std::chrono::duration<double>(wait_seconds);
  bool swept = false;  // a lock left behind was removed: what its run left beside it goes too
  clock::time_point held_since{};
  bool held = false;  // since held_since
  for (;;) {
    {
      const os::interrupts_held quiet;
      if (take(target, folder, name, path)) break;
    }
    // A file is there: a lock a run holds, or one nobody holds, or no lock at all.
    const os::native_file f = os::open_lock(d, name);
    if (f == os::no_file) {
      if (errno == ENOENT) continue;  // gone meanwhile
      if (errno == ELOOP) throw trouble{words::not_a_lock(target), path, errc::not_a_lock};
      throw trouble{words::cannot_open + os_error(), path, errc::write_failed, errno};
    }
    const closer opened{f};
    const auto st = os::status_of(f);
    if (!st || st->kind != os::file_status::type::regular)
      throw trouble{words::not_a_lock(target), path, errc::not_a_lock};
    const os::lock_try tried = os::try_lock(f);
    if (tried == os::lock_try::failed)
      throw trouble{words::cannot_try + os_error(), path, errc::write_failed, errno};
    if (tried == os::lock_try::taken) {
      // Nobody holds it: left by a run that ended without removing it (SIGKILL). Removed only
      // while it is the file locked here: a run that removed it first may have made its own.
      if (os::same_node(f, d, name)) {
        if (!os::remove_lock(f, d, name) && errno != ENOENT)
          throw trouble{words::cannot_sweep + os_error(), path, errc::write_failed, errno};
        swept = true;
      }
      held = false;
      continue;
    }
    const auto now = clock::now();
    if (!held) held_since = now, held = true;
    if (now >= deadline && now - held_since >= brief) {
      const long holder = os::lock_holder(f);
      throw trouble{words::held(holder, target), path, errc::busy, 0, holder};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(now - held_since < brief ? 2 : 10));
  }
  // What a killed holder left beside it goes: those names are the holder's. (A new file left
  // without its lock is removed when it is made again.)
  if (swept) {
    os::remove_in(d, derived(name_of(canonical), new_suffix));
    os::remove_in(d, derived(name_of(canonical), kept_suffix));
  }
}

void writer::add(const std::string& target, const os::file_status* like, bool keep_owner,
                 const filler& fill, const os::file_status* read_as, bool replace) {
  if (!locks_.count(target)) lock(target);
  const std::string canonical = os::canonical_name(target);
  const std::string name = name_of(canonical);
  output o;
  o.target = target;
  o.folder = locks_.at(target).folder;
  o.name = name;
  o.temp_name = derived(name, new_suffix);
  o.kept_name = derived(name, kept_suffix);
  const os::folder_at& d = folders_[o.folder].at;
  o.temp = beside(canonical, o.temp_name);
  o.replace = replace;
  o.was_read = read_as != nullptr;
  if (read_as) o.read_as = read_as->id;
  os::native_file f;
  {
    const os::interrupts_held quiet;
    f = os::create_in(d, o.temp_name);
    if (f == os::no_file && errno == EEXIST && os::remove_in(d, o.temp_name))
      f = os::create_in(d, o.temp_name);  // a killed run's: the name is this lock holder's
    if (f == os::no_file)
      throw trouble{"cannot make the new file " + o.temp + ": " + os_error(), target,
                    errc::write_failed, errno};
    o.ticket = os::remove_if_interrupted(d, o.temp_name);
    if (o.ticket == os::no_ticket) {
      os::close_file(f);
      os::remove_in(d, o.temp_name);
      throw trouble{words::out_of_room, target, errc::out_of_memory};
    }
    outputs_.push_back(o);
  }
  // Closed as soon as it is written: a thousand outputs must not hold a thousand descriptors.
  const closer closed{f};
  if (const auto st = os::status_of(f)) outputs_.back().node = st->id.node;
  // The new file is the caller's; in place it keeps the input's owner where the caller may give it.
  if (like && !os::give_mode(f, *like, keep_owner))
    throw trouble{"cannot set the new file's mode: " + os_error(), target, errc::write_failed,
                  errno};
  outputs_.back().check = fill(f, outputs_.back().temp);
}

// Puts back every target renamed before outputs_[failed]: none when every one is as it was, else
// each that could not be.
std::vector<vexdram::not_put_back> writer::put_back(std::size_t failed) {
  std::vector<vexdram::not_put_back> left;
  for (std::size_t i = failed; i-- > 0;) {
    output& o = outputs_[i];
    const os::folder_at& d = folders_[o.folder].at;
    bool back = false;
    switch (*o.kept) {
      case os::kept_as::from:  // the old file is at the new file's name: renamed back
        back = os::rename_in(d, o.temp_name, o.name, replace_patience_seconds);
        if (back) {
          os::forget_on_interrupt(o.ticket);
          o.ticket = os::no_ticket;
        }
        break;
      case os::kept_as::kept: back = os::rename_in(d, o.kept_name, o.name, replace_patience_seconds); break;
      case os::kept_as::nothing: {  // a new target: removed while it is the file put there
        const auto now = os::identity_in(d, o.name);
        back = now && now->node == o.node && os::remove_in(d, o.name);
        break;
      }
      case os::kept_as::gone: break;
    }
    if (back) continue;
    const bool kept = *o.kept == os::kept_as::from || *o.kept == os::kept_as::kept;
    const std::string& at = *o.kept == os::kept_as::from ? o.temp_name : o.kept_name;
    left.push_back({o.target, kept ? beside(os::canonical_name(o.target), at) : std::string()});
    if (*o.kept == os::kept_as::from) {
      os::forget_on_interrupt(o.ticket);  // the old file: never removed
      o.ticket = os::no_ticket;
    }
  }
  return left;
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
  // Every step but the renames is done. Another program may have written a target since it was
  // read: its bytes are not lost.
  for (const output& o : outputs_)
    if (o.was_read && os::identity_in(folders_[o.folder].at, o.name) != o.read_as)
      throw trouble{"changed while it was being edited; nothing written", o.target,
                    errc::changed};
  // The renames, and putting back what they replaced should one fail, are done whole: an
  // interrupt waits for them.
  const os::interrupts_held quiet;
  std::set<std::size_t> dirs;
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    output& o = outputs_[i];
    const os::folder_at& d = folders_[o.folder].at;
    // The last has no rename after it that could fail: what it replaces is not kept.
    const bool last = i + 1 == outputs_.size();
    if (o.replace && last) {
      if (os::rename_in(d, o.temp_name, o.name, replace_patience_seconds)) o.kept = os::kept_as::gone;
    } else if (o.replace) {
      o.kept = os::replace_keeping(d, o.temp_name, o.name, o.kept_name, replace_patience_seconds);
    } else if (os::publish_in(d, o.temp_name, o.name)) {
      o.kept = os::kept_as::nothing;
    }
    if (!o.kept) {
      const int error = errno;
      const bool exists = !o.replace && error == EEXIST;
      trouble t{exists ? std::string(words::exists) : words::cannot_rename + os_error(error),
                o.target, exists ? errc::exists : errc::write_failed, error};
      t.not_put_back = put_back(i);
      t.outcome = words::outcome(t.not_put_back);
      throw t;
    }
    if (*o.kept != os::kept_as::from) {  // the new file's name is free
      os::forget_on_interrupt(o.ticket);
      o.ticket = os::no_ticket;
    }
    dirs.insert(o.folder);
  }
  // Every target is in place: what they replaced goes, and then the locks.
  for (output& o : outputs_) {
    const os::folder_at& d = folders_[o.folder].at;
    if (*o.kept == os::kept_as::from) {
      os::remove_in(d, o.temp_name);
      os::forget_on_interrupt(o.ticket);
      o.ticket = os::no_ticket;
    } else if (*o.kept == os::kept_as::kept) {
      os::remove_in(d, o.kept_name);
    }
  }
  release_locks();
  for (std::size_t f : dirs)
    if (!os::sync_folder(folders_[f].at))
      throw trouble{"written, but its directory could not be synced: " + os_error(),
                    folders_[f].at.path, errc::not_synced, errno};
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
