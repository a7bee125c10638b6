// A loader container as the module sees it: what its unpack puts where in its output directory,
// and the container its pack writes after the DDR image (471) was edited there. Built in-process
// with imgwelder's own reader, listing, repack plan and pack, so that `vexdram` writes exactly
// what a host of the module writes for the same edit.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "imgwelder/container.h"
#include "imgwelder/pack.h"

namespace vexdram::engine {

// The module's word for a missing value.
inline constexpr const char* null_text = "null";

struct module_unpack {
  // The result dictionary, in the module's order: "loader_471" -> "output/NAME", ...
  std::vector<std::pair<std::string, std::string>> dict;
  // The output directory after the unpack: each image under its name, and the loader parameter
  // file when the unpack writes one.
  std::map<std::string, std::vector<std::uint8_t>> files;
  // What the module's pack is given ("pack_params"), as imgwelder's library derives it.
  imgwelder::repack_plan plan;
  const std::string& operator[](const std::string& key) const;
  // The file a value names in the output directory, or nullptr.
  std::vector<std::uint8_t>* file(const std::string& value);
  // The name of the DDR image (471) in the output directory.
  std::string ddr_image() const;
};

// Why imgwelder's reader refused a container, in vexdram's words ("the container's CRC-32 does
// not match").
std::string unreadable(const imgwelder::read_outcome& r);

// What the module's unpack of this container (its bytes, parsed) gives, for this chip (as a host
// passes it: the first two letters, upper case, choose the family of the repacked container).
// Throws trouble when the module could not read the container's listing or header.
module_unpack unpack_as_module(const std::vector<std::uint8_t>& bytes,
                               const imgwelder::container& c, const std::string& chip);

// The container the module's pack writes from this unpack after the DDR image was replaced by
// `ddr_image`: the FlashData image becomes a copy of it, then imgwelder's pack runs with the
// unpack's options. Throws trouble when the pack would fail. The release time is the pack's
// (SOURCE_DATE_EPOCH when set).
std::vector<std::uint8_t> pack_as_module(module_unpack unpacked,
                                         const std::vector<std::uint8_t>& ddr_image);

}  // namespace vexdram::engine
