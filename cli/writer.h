// All-or-nothing writes. Each output is written whole to a temporary file in its target's
// directory, synced, read back and checked; only when every output of the command has passed
// are they renamed over their targets, and each directory is synced. On any failure every
// temporary file is removed and every target is as it was.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

namespace vexdram::cli {

class writer {
 public:
  // Writes the new content into fd (a new, empty file at temp) and returns its check: "" when the
  // file, read back from the disk, holds what it should.
  using filler = std::function<std::function<std::string()>(int fd, const std::string& temp)>;
  struct output {
    std::string target;  // what the temporary file is renamed over
    std::string temp;
    std::function<std::string()> check;
  };

  writer();
  ~writer();  // removes every temporary file that was not renamed
  writer(const writer&) = delete;
  writer& operator=(const writer&) = delete;

  // A temporary file beside target, with the mode (and, when keep_owner, the owner) of `like`,
  // filled by fill. Throws trouble naming target (or what fill threw).
  void add(const std::string& target, const struct stat& like, bool keep_owner, const filler& fill);
  // Sync, check, rename, sync the directories. Throws trouble naming the output that failed.
  void commit();

 private:
  std::vector<output> outputs_;
};

// Where an output named by the user is written: the file a symlink leads to, when it leads to
// one, else the path itself. Throws trouble when its directory does not exist or it names a
// directory.
std::string output_target(const std::string& path);
// True when the two paths name the same file.
bool same_file(const std::string& a, const std::string& b);

}  // namespace vexdram::cli
