// The chip a run of vexdram edits for: --chip, or the chip the file's name gives.
#include "lib/chip.h"

#include <cstring>

#include "lib/errors.h"
#include "tool/run.h"
#include "tool/text_util.h"

namespace vexdram::engine {

std::string resolve_chip(const std::string& option, const std::string& path) {
  if (!option.empty()) {
    const std::string chip = lower(option);
    if (!chip_supported(chip.c_str()))
      throw trouble{"unknown chip '" + option + "'", {}, errc::unknown_chip};
    return chip;
  }
  const std::optional<std::string> named = chip_in_name(path);
  if (!named) throw trouble{"no chip name in the file's name", path, errc::no_chip};
  return *named;
}

std::optional<std::string> chip_in_name(const std::string& path) {
  const std::string name = lower(base_name(path));
  std::string best;
  for (const char* c : chip_names)
    if (name.find(c) != std::string::npos && std::strlen(c) > best.size()) best = c;
  if (best.empty()) return std::nullopt;
  return best;
}

}  // namespace vexdram::engine
