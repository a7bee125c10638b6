// What can go wrong, typed. A call that cannot do what it was asked throws vexdram::error: its
// code says what happened (a front chooses its words and statuses from it), what() says it in
// vexdram's words, file() names the file it concerns, and sys() is the system's errno when the
// system refused. Questions ("may this value be set?", "is this parameter stored?") are answered
// with values, never with exceptions: see image.h.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

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
  busy,             // another run holds the target's lock
  lock_exists,      // the target's lock exists and names no process
  changed,          // the file read was changed by another program before it was replaced
  exists,           // the output exists and replacing it was not asked for
  read_only,        // in place: the file has no write bit, and replacing it was not asked for
  output_is_input,  // the output named is the input itself
  no_directory,     // the output's directory does not exist, or is no directory
  write_failed,     // making, filling, syncing or renaming the new file failed (sys)
  check_failed,     // the new file does not read back as it should; nothing was written
  not_synced,       // written and renamed, but its directory could not be synced (sys)
  out_of_memory,
};

class VEXDRAM_API error : public std::runtime_error {
 public:
  error(errc code, const std::string& text, std::string file = {}, int sys = 0);
  errc code() const noexcept { return code_; }
  const std::string& file() const noexcept { return file_; }
  int sys() const noexcept { return sys_; }

 private:
  errc code_;
  std::string file_;
  int sys_;
};

// The code's name, as written above ("busy", "check_failed"): for logs and bindings.
VEXDRAM_API const char* name_of(errc code);

}  // namespace vexdram
