// The chip a run of vexdram edits for.
#pragma once

#include <optional>
#include <string>

namespace vexdram::engine {

// A chip name vexdram_tool accepts: --chip in either case, else the chip the file's name gives.
// Throws trouble when there is none.
std::string resolve_chip(const std::string& option, const std::string& path);
// The chip a file's name gives: the longest chip name that its last part (base_name: after the
// last '/' or '\' on every system) contains, in either case
// (the first in vexdram_tool's order among equals); none when it contains none. The studio's page
// guesses by the same rule: tests/chip_name_rules.json holds the cases.
std::optional<std::string> chip_in_name(const std::string& path);

}  // namespace vexdram::engine
