// FILE as vexdram edits it: a DDR binary, or a loader container (its DDR image, 471, edited as
// the module would edit it). Decoding, checking edits and making the edited
// bytes all run the same core steps as vexdram_tool, on the file or on an image in memory.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <vexdram/image.h>

#include "lib/container.h"
#include "lib/errors.h"
#include "lib/files.h"
#include "platform/platform.h"
#include "tool/catalogue.h"
#include "tool/ddr_file.h"
#include "tool/run.h"

namespace vexdram::engine {

// One value to write: from the command line (line 0) or a line of a parameter file.
struct edit {
  param n;
  std::uint32_t value;
  std::size_t line = 0;
};

// Where an edited file's bytes go, and how to check them once they are on the disk.
struct made {
  std::function<std::string()> check;  // "" when the written file holds what it should
};

class binary {
 public:
  // Reads and decodes path. chip_option: --chip as given, "" when not. Throws trouble.
  binary(const std::string& path, const std::string& chip_option);
  // The same from bytes in memory: name stands for the file's path.
  binary(std::vector<std::uint8_t> bytes, const std::string& name, const std::string& chip_option);
  ~binary();
  binary(const binary&) = delete;
  binary& operator=(const binary&) = delete;

  const std::string& path() const { return path_; }
  kind what() const { return kind_; }
  const std::string& chip() const { return chip_; }
  std::uint32_t version() const { return version_; }
  const base_info& values() const { return values_; }
  const stored_field& where(param n) const { return stored_[n]; }
  const platform::file_status& status() const { return st_; }
  // Warnings about what was read (a skew section of another sub-version), for standard error.
  const std::vector<std::string>& notes() const { return notes_; }

  // Why no edit of this file can be written, or "" when edits can.
  std::string unwritable() const;
  // Why this binary does not store the parameter, or "" when it does.
  std::string not_stored(param n) const;
  // Why a 0 cannot be set for the parameter: a tq6951 skew lane that holds another value (0 keeps
  // a lane as it is); "" for every other parameter.
  std::string zero_refused(param n) const;
  // Why this edit cannot be made here, or none when it can.
  std::optional<vexdram::refusal> refused(const edit& e) const;
  // The values after the edits.
  base_info edited(const std::vector<edit>& edits) const;
  // Writes the edited file into fd (a new, empty temporary file at temp_path): the bytes of this
  // file with the edits made by the core, as vexdram_tool would make them. Throws trouble.
  made write_edited(platform::native_file fd, const std::string& temp_path,
                    const std::vector<edit>& edits) const;
  // The same bytes in memory, checked as a written file is. Throws trouble.
  std::vector<std::uint8_t> edited_bytes(const std::vector<edit>& edits) const;

 private:
  struct in_memory {
    std::shared_ptr<std::vector<std::uint8_t>> bytes;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> written;  // in the DDR image
  };
  void take(const std::uint8_t* head, std::size_t got);
  void annotate(trouble& t) const;
  const std::vector<std::uint8_t>& image_before() const;
  in_memory edit_in_memory(const std::vector<std::uint8_t>& before,
                           const std::vector<edit>& edits) const;
  std::string check_edited(const std::vector<std::uint8_t>& before, std::vector<std::uint8_t>& back,
                           const in_memory& made_here, const base_info& want) const;

  std::string path_;
  kind kind_ = kind::ddr;
  std::string chip_;
  platform::file_status st_;
  std::uint32_t version_ = 0;
  base_info values_;
  std::array<stored_field, base_info_tag_size> stored_{};
  std::vector<std::string> notes_;
  std::string overlap_;                   // two sections that share words, when any do
  std::unique_ptr<posix_ddr_file> file_;  // a DDR binary, kept open from decoding to writing
  std::vector<std::uint8_t> bytes_;       // a container's bytes
  std::unique_ptr<module_unpack> unpacked_;
};

}  // namespace vexdram::engine
