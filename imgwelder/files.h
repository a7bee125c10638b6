// The edges of imgwelder that touch the file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imgwelder/container.h"

namespace imgwelder {

// imgwelder's words for why a container cannot be read (messages.h): one line with "Error", as
// the hosts that read its output expect.
std::string reader_message(const read_outcome& r);

bool read_file(const std::string& path, std::vector<std::uint8_t>& out, std::string& error);

// Writes through a temporary file beside `path` and renames it into place, so `path` is either
// untouched or complete.
bool write_file_atomic(const std::string& path, const std::vector<std::uint8_t>& bytes,
                       std::string& error);

// Checks the whole container, then writes every image into `dir` (created if missing, one
// level) under its own name, each through a temporary file. On failure no image is written
// and `error` holds the message; on success `lines` is the listing.
bool unpack_to_directory(const std::uint8_t* data, std::size_t size, const std::string& dir,
                         std::vector<std::string>& lines, std::string& error);

}  // namespace imgwelder
