// How vexdram moves a file's bytes, and what kind of file a file is: a loader container, a
// parameter file or report, or else a DDR binary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <vexdram/catalogue.h>
#include <vexdram/params.h>

#include "platform/platform.h"

namespace vexdram::engine {

enum class kind { ddr, loader };
const char* kind_name(kind k);

// The first bytes of a loader container: "BOOT" or "LDR " and the header's length (0x66).
bool is_loader(const std::uint8_t* head, std::size_t size);

// A report is about 11 KB; anything past this is no parameter file.
using vexdram::param_file_limit;
inline constexpr const char* param_file_too_large = "larger than 16 MiB: not a parameter file";

// True when the file is text, read as a parameter file or report rather than a binary: no loader
// container, 1 byte to 16 MiB long, no NUL byte in its first 64 KiB. tests/file_kind_rules.json
// holds the cases, which the module's container check and the studio's listing run too.
inline constexpr std::size_t text_window = std::size_t{1} << 16;
bool looks_like_text(const std::string& path);
// Which of the three a file is; a file that cannot be read counts as a binary.
vexdram::file_kind kind_of(const std::string& path);

// The error of the last failed system call (errno), in words: the GNU C library's on every
// system, and vexdram's own beside them where those say too little.
std::string os_error();
std::string os_error(int error);
// Copies the whole of `from` into `to` (both at offset 0), in the kernel where it can. Throws
// trouble.
void copy_file(platform::native_file from, platform::native_file to, std::uint64_t size);
void write_all(platform::native_file f, const std::vector<std::uint8_t>& bytes);

}  // namespace vexdram::engine
