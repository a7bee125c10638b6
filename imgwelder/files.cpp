#include "imgwelder/files.h"

#include "imgwelder/container.h"
#include "imgwelder/messages.h"
#include "imgwelder/text.h"

#include "platform/platform.h"

#include <cstdio>
#include <utility>

namespace imgwelder {
namespace {

namespace platform = vexdram::platform;

constexpr const char* temp_prefix = ".imgwelder-";
// How long a file is waited for that another program has open without sharing (on Windows: a
// virus scanner looking at the container or image just written) before it cannot be written.
constexpr double replace_patience_seconds = 1.0;

// Creates a complete temporary file in `dir`; its name goes to `temp`. Nothing is left on failure.
bool write_temp(const std::string& dir, const std::uint8_t* p, std::size_t n, std::string& temp) {
  return platform::write_temporary(dir, temp_prefix, p, n, temp);
}

std::string parent_dir(const std::string& path) {
  const auto slash = platform::last_separator(path);
  if (slash == std::string::npos) return ".";
  // the root ("/", "C:\") stays itself, not the current folder of a drive ("C:")
  if (slash == 0 || path[slash - 1] == ':') return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

}  // namespace

bool read_file(const std::string& path, std::vector<std::uint8_t>& out, std::string& error) {
  out.clear();
  std::FILE* f = platform::open_stream(path.c_str(), "rb");
  if (!f) {
    error = format(msg::cannot_read, path.c_str());
    return false;
  }
  if (const auto size = platform::regular_size(f)) out.reserve(static_cast<std::size_t>(*size));
  std::uint8_t block[1 << 16];  // not zeroed: fread fills what is used
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) out.insert(out.end(), block, block + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) error = format(msg::cannot_read, path.c_str());
  return ok;
}

bool write_file_atomic(const std::string& path, const std::vector<std::uint8_t>& bytes,
                       std::string& error) {
  std::string temp;
  const std::string dir = parent_dir(path);
  if (!write_temp(dir, bytes.data(), bytes.size(), temp)) {
    error = format(msg::cannot_write, path.c_str());
    return false;
  }
  if (!platform::replace_file(temp, path, replace_patience_seconds)) {
    platform::remove_file(temp);
    error = format(msg::cannot_write, path.c_str());
    return false;
  }
  platform::sync_folder(dir);
  return true;
}

bool unpack_to_directory(const std::uint8_t* data, std::size_t size, const std::string& dir,
                         std::vector<std::string>& lines, std::string& error) {
  container c;
  if (!read_container(data, size, c, error)) return false;

  const platform::folder made = platform::make_folder(dir);
  if (made != platform::folder::exists && made != platform::folder::made) {
    error = format(msg::cannot_create_dir, dir.c_str());
    return false;
  }

  // All images go to temporary files first; only when every one is complete are they
  // renamed to their names, which the reader has checked to be plain base names.
  std::vector<std::pair<std::string, std::string>> pending;  // temporary, final
  auto discard = [&pending](std::size_t from) {
    for (std::size_t i = from; i < pending.size(); ++i) platform::remove_file(pending[i].first);
  };
  for (const auto& table : c.tables)
    for (const auto& img : table) {
      std::string temp;
      const std::string final_path = dir + "/" + img.name;
      if (!write_temp(dir, img.data.data(), img.data.size(), temp)) {
        discard(0);
        error = format(msg::cannot_write, final_path.c_str());
        return false;
      }
      pending.emplace_back(std::move(temp), final_path);
    }
  for (std::size_t i = 0; i < pending.size(); ++i)
    if (!platform::replace_file(pending[i].first, pending[i].second,
                                replace_patience_seconds)) {
      discard(i);
      error = format(msg::cannot_write, pending[i].second.c_str());
      return false;
    }
  platform::sync_folder(dir);
  lines = listing(c);
  return true;
}

}  // namespace imgwelder
