// What can go wrong, typed. A call that cannot do what it was asked throws vexdram::error: its
// code says what happened (a front chooses its words and statuses from it), what() says it in
// vexdram's words, file() names the file it concerns, and sys() is the system's errno when the
// system refused. Questions ("may this value be set?", "is this parameter stored?") are answered
// with values, never with exceptions: see image.h.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <vexdram/export.h>

namespace vexdram {

enum class errc : std::uint8_t {
  // Reading a file.
  cannot_open,         // the system refused to open it (sys)
  cannot_read,         // reading it failed (sys)
  is_directory,        // a directory where a file was named
  not_a_file,          // neither a regular file nor a block device (a pipe, a socket, a device);
                       // as a target: not a regular file
  device_name,         // a target named as Windows names its devices (CON, NUL, COM1, ...)
  changed_while_read,  // it grew or shrank while it was read
  // What a file holds.
  bad_block,      // no parameter block, or one that cannot be read or written whole
  bad_container,  // a loader container that cannot be read, holds no DDR image, or cannot be
                  // packed again as the module packs it
  bad_params,     // a parameter file that is too large
  // What was asked.
  unknown_chip,  // a chip name vexdram_tool does not accept
  no_chip,       // no chip given, and the file's name gives none
  unknown_key,   // no parameter of that key
  bad_value,     // a text that is no value (the value rule)
  refused,       // an edit that cannot be made in this image (see refusal)
  // Writing.
  busy,             // another run holds the target's lock (holder: which, when the system says)
  not_a_lock,       // what stands at the lock's name is no lock (a directory, a FIFO, a link)
  changed,          // the file read was changed by another program before it was replaced
  exists,           // the output exists and replacing it was not asked for
  read_only,        // in place: the file has no write bit, and replacing it was not asked for
  output_is_input,  // the output named is the input itself
  no_directory,     // the output's directory does not exist, or is no directory
  write_failed,     // making, filling, syncing or renaming the new file failed (sys); a failed
                    // rename says what it left (outcome, not_put_back)
  check_failed,     // the new file does not read back as it should; nothing was written
  not_synced,       // written and renamed, but its directory could not be synced (sys)
  out_of_memory,
};

// Why an edit cannot be made.
struct refusal {
  enum class reason : std::uint8_t {
    unwritable,  // no edit of this image can be written (overlapping sections, the release time)
    fixed,       // the start tag
    not_stored,  // a value other than the binary's own, for a parameter it does not store
    too_wide,    // a value that does not fit its field
    zero_keeps,  // 0 for a tq6951 skew lane that holds another value: 0 keeps a lane
  };
  reason why;
  std::string text;  // vexdram's words
};

// A target that a write over several had already replaced when a later rename failed, and that
// could not be put back: where its old file is kept, or "" when none could be kept.
struct not_put_back {
  std::string target, kept_at;
};

// What some failures say besides their words.
struct error_details {
  long holder = 0;  // busy: the process holding the lock, when the system says which
  // A failed rename (exists, write_failed): what the renames before it left, in words and typed.
  std::string outcome;
  std::vector<not_put_back> left;
  // refused, for one edit (image::set): the refusal's reason.
  std::optional<refusal::reason> why;
};

class VEXDRAM_API error : public std::runtime_error {
 public:
  error(errc code, const std::string& text, std::string file = {}, int sys = 0,
        error_details more = {});
  errc code() const noexcept { return code_; }
  const std::string& file() const noexcept { return file_; }
  int sys() const noexcept { return sys_; }
  // The failure in vexdram's words without its outcome; what() is text() + outcome().
  const std::string& text() const noexcept { return text_; }
  // After a failed rename: "; nothing written" when every target is as it was, else each one
  // that is not ("; T could not be put back (its old file is kept as K)", "; T is already
  // replaced"). "" for every other failure.
  const std::string& outcome() const noexcept { return more_.outcome; }
  // The same, typed: empty when every target is as it was (or for another failure).
  const std::vector<vexdram::not_put_back>& not_put_back() const noexcept { return more_.left; }
  // busy: the process that holds the lock when the system says which (on Linux, one this PID
  // namespace sees); 0 when it is not known here.
  long holder() const noexcept { return more_.holder; }
  // refused by image::set: why that edit was (the reason image::check gives); none for a
  // refusal of several (apply, a parameter file) and for every other failure.
  std::optional<refusal::reason> why() const noexcept { return more_.why; }

 private:
  errc code_;
  std::string file_, text_;
  int sys_;
  error_details more_;
};

// The code's name, as written above ("busy", "check_failed"): for logs and bindings.
VEXDRAM_API const char* name_of(errc code);
// The reason's name, as written above ("too_wide", "zero_keeps").
VEXDRAM_API const char* name_of(refusal::reason why);

}  // namespace vexdram
