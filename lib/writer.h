// All-or-nothing writes. Each output is written whole to a new file in its target's directory,
// synced, read back and checked; only when every output of the command has passed, and every
// target edited in place is still the file that was read, are they renamed over their targets,
// and each directory is synced. Should a rename fail, the targets already replaced are put back
// (each replaced file but the last's, which no rename follows, is kept under a name of the lock's
// holder until every target is done): on any failure every target is as it was and every new
// file is removed. Two limits of the system stay: a file system that can neither exchange two
// names nor give a file a second name (FAT on an older kernel) keeps nothing to put back, and the
// message names what stays replaced; a run killed with SIGKILL during its renames leaves each
// target either as it was or whole with its new values.
//
// Runs of vexdram on one target are serialised from the read to the rename by the target's lock,
// "NAME.lock", taken before the input is read. It is a name of a file that the kernel keeps locked
// (flock; LockFileEx on Windows) for as long as the run lives: one file per file system of the
// run, the run's token, of which every lock is a hard link, so that a run over a thousand
// targets holds one descriptor; a lock file of its own per target where the file system has no
// hard links. A run that finds a lock tries the kernel's lock on it: held, another run is writing
// (named when the system says which process), and it fails at once or waits as long as it was
// told; not held, the lock was left by a run that ended without removing it (SIGKILL), and it is
// removed, only while it is still the file tried, and taken. The new file is "NAME.lock.new", the
// replaced target is kept as "NAME.lock.new" or "NAME.lock.old": names only the holder uses, so
// that the next run that takes the lock removes what a killed run left. Interrupts are held back
// while a name is made and registered for removal, or removed and let go, and while the targets
// are renamed. What the system is asked goes through its seam (platform.h).
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <vexdram/error.h>

#include "platform/platform.h"

namespace vexdram::engine {

class writer {
 public:
  // Writes the new content into f (a new, empty file at temp) and returns its check: "" when the
  // file, read back from the disk, holds what it should.
  using filler =
      std::function<std::function<std::string()>(platform::native_file f, const std::string& temp)>;

  writer();
  ~writer();  // removes every new file not renamed, and every lock
  writer(const writer&) = delete;
  writer& operator=(const writer&) = delete;

  // Takes target's lock for as long as this writer lives, waiting up to wait_seconds while
  // another run holds it. Throws trouble naming the lock when another run still holds it, when
  // what is there is no lock, or when the descriptors allowed do not suffice.
  void lock(const std::string& target, double wait_seconds = 0);
  // The new file beside target (its lock taken now unless held), with the mode (and, when
  // keep_owner, the owner) of `like` (none: a new file's), filled by fill. read_as: in place, the status of the target
  // when it was read, checked again just before the renames. replace: false publishes without
  // replacing anything. Throws trouble naming target (or what fill threw).
  void add(const std::string& target, const platform::file_status* like, bool keep_owner,
           const filler& fill, const platform::file_status* read_as = nullptr, bool replace = true);
  // Sync, check, rename every output (putting back what was replaced when one fails), sync the
  // directories. Throws trouble naming the output that failed; when a rename failed, its
  // outcome and not_put_back say what the renames before it left.
  void commit();

 private:
  struct folder {
    platform::folder_at at;
    std::uint64_t volume = 0;
  };
  struct token {
    platform::native_file f;
    std::size_t folder;
    std::string name;  // "" for a token without a name
    std::uint64_t volume;
    bool linkable = true;  // false once it has as many links as the file system allows
  };
  struct held_lock {
    std::size_t folder;
    std::string name;
    platform::native_file own;  // a lock of its own (no hard links there); no_file for a link
    platform::interrupt_ticket ticket;
  };
  struct output {
    std::string target;
    std::size_t folder;
    std::string name, temp_name, kept_name;  // in the folder: the target, the new file, the kept
    std::string temp;                        // the new file's path
    platform::interrupt_ticket ticket = platform::no_ticket;
    std::function<std::string()> check;
    bool replace = true;    // false: an existing target is refused, never replaced
    bool was_read = false;  // in place: the target must still be the file read, as `read_as`
    platform::file_identity read_as{};
    std::uint64_t node = 0;                   // the new file's
    std::optional<platform::kept_as> kept{};  // once renamed: where the replaced file is
  };

  std::size_t folder_of(const std::string& dir);
  bool take(const std::string& target, std::size_t folder, const std::string& name,
            const std::string& path);
  void hold_lock(const std::string& target, std::size_t folder, const std::string& name,
                 platform::native_file own);
  bool spare_descriptor();
  void need_descriptor(const std::string& target);
  std::vector<vexdram::not_put_back> put_back(std::size_t failed);
  void release_locks();

  std::vector<folder> folders_;
  std::map<std::string, std::size_t> folder_index_;
  std::vector<token> tokens_;
  std::set<std::pair<std::size_t, std::size_t>> other_mount_;  // (token, folder): EXDEV
  std::set<std::uint64_t> no_links_, no_tokens_;               // volumes without either
  std::map<std::string, held_lock> locks_;                     // target -> its lock
  std::vector<output> outputs_;
  std::size_t descriptors_ = 0, allowed_ = 0;
  bool raised_ = false;
};

// Where an output named by the user is written: the file a symlink leads to, when it leads to
// one, else the path itself. Throws trouble when its directory does not exist or it names a
// directory.
std::string output_target(const std::string& path);
// True when the two paths name the same file.
bool same_file(const std::string& a, const std::string& b);

}  // namespace vexdram::engine
