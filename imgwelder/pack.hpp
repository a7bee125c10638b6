// What `imgwelder pack` builds, as a function: the container laid out from its options, before
// it is written. The program runs it on files; a caller that holds its images in memory gives its
// own reader.
#pragma once

#include "container.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace imgwelder {

using file_reader =
    std::function<bool(const std::string& path, std::vector<std::uint8_t>& out, std::string& error)>;

// args: the words after "pack". Reads every image and the -l file through `read`; on success `c`
// is the container to write and `out` the -o path. On failure `error` holds the one line the
// command prints.
bool build_pack(const std::vector<std::string>& args, const file_reader& read, container& c,
                std::string& out, std::string& error);

// The release time a pack records: now, or SOURCE_DATE_EPOCH when it is set (reproducible builds).
std::array<std::uint8_t, 7> release_time_now();

} // namespace imgwelder
