// All-or-nothing writes. Each output is written whole to a new file in its target's directory,
// synced, read back and checked; only when every output of the command has passed are they
// renamed over their targets, and each directory is synced. On any failure every new file is
// removed and every target is as it was.
//
// The new file is also the target's lock, as git's "index.lock" is: "NAME.lock", made with O_EXCL
// before the input is read and renamed over the target at the end, so runs of vexdram on one
// target are serialised from the read to the rename. A run that finds it held fails at once,
// naming it, or waits as long as it was told to. While it is a lock it records its process (an
// extended attribute, an NTFS stream on Windows), so that a lock left by a run killed with SIGKILL
// is removed by the next run that writes into that directory. What the system is asked goes
// through its seam (platform.h).
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vexdram::engine {

class writer {
 public:
  // Writes the new content into f (a new, empty file at temp) and returns its check: "" when the
  // file, read back from the disk, holds what it should.
  using filler =
      std::function<std::function<std::string()>(platform::native_file f, const std::string& temp)>;
  struct output {
    std::string target;  // what the new file is renamed over
    std::string temp;    // the new file: the target's lock
    std::function<std::string()> check;
    bool replace = true;    // false: an existing target is refused, never replaced
    bool was_read = false;  // in place: the target must still be the file read, as `read_as`
    platform::file_identity read_as{};
    std::string place;  // the target's canonical name (platform::canonical_name): renamed there
  };

  writer();
  ~writer();  // removes every lock (new file) that was not renamed
  writer(const writer&) = delete;
  writer& operator=(const writer&) = delete;

  // Takes target's lock for as long as this writer lives, waiting up to wait_seconds while
  // another run holds it. Throws trouble naming the lock when another run still holds it.
  void lock(const std::string& target, double wait_seconds = 0);
  // The new file beside target (its lock, taken now unless held), with the mode (and, when
  // keep_owner, the owner) of `like` (none: a new file's), filled by fill. read_as: in place, the
  // status of the target when it was read, checked again just before the rename. replace: false
  // publishes without replacing anything. Throws trouble naming target (or what fill threw).
  void add(const std::string& target, const platform::file_status* like, bool keep_owner,
           const filler& fill, const platform::file_status* read_as = nullptr, bool replace = true);
  // Sync, check, rename, sync the directories. Throws trouble naming the output that failed.
  void commit();

 private:
  std::vector<output> outputs_;
  std::map<std::string, std::string> locks_;  // target -> its lock, until renamed
  std::set<std::string> swept_;               // directories whose leftovers were removed
};

// Where an output named by the user is written: the file a symlink leads to, when it leads to
// one, else the path itself. Throws trouble when its directory does not exist or it names a
// directory.
std::string output_target(const std::string& path);
// True when the two paths name the same file.
bool same_file(const std::string& a, const std::string& b);

}  // namespace vexdram::engine
