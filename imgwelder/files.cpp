#include "imgwelder/files.h"

#include "imgwelder/container.h"
#include "imgwelder/messages.h"
#include "imgwelder/text.h"

#include "platform/platform.h"

#include <cstdio>
#include <optional>
#include <utility>

namespace imgwelder {
namespace {

namespace platform = vexdram::platform;

constexpr const char* temp_prefix = ".imgwelder-";
// A replaced file's second name while an unpack puts its images in place: its temporary's and this.
constexpr const char* kept_suffix = "-old";
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

std::string reader_message(const read_outcome& r) {
  const char* table = r.table < table_count ? table_label[r.table] : "";
  switch (r.why) {
    case read_refusal::none: break;
    case read_refusal::short_file: return msg::short_file;
    case read_refusal::bad_tag: return msg::bad_tag;
    case read_refusal::bad_header_size: return msg::bad_header_size;
    case read_refusal::bad_crc: return msg::bad_crc;
    case read_refusal::bad_entry_size: return format(msg::bad_entry_size, table);
    case read_refusal::table_outside: return format(msg::table_outside, table);
    case read_refusal::bad_entry: return format(msg::bad_entry, r.entry, table);
    case read_refusal::unsafe_name: return format(msg::unsafe_name, table, r.entry);
    case read_refusal::data_outside: return format(msg::data_outside, table, r.entry);
    case read_refusal::overlap: return msg::overlap;
    case read_refusal::duplicate_name: return format(msg::duplicate_name, r.name.c_str());
  }
  return "";
}

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
  if (const read_outcome read = read_container(data, size, c); !read) {
    error = reader_message(read);
    return false;
  }

  const platform::folder made = platform::make_folder(dir);
  if (made != platform::folder::exists && made != platform::folder::made) {
    error = format(msg::cannot_create_dir, dir.c_str());
    return false;
  }

  // All or nothing: every image goes to a temporary file first; only when every one is complete
  // are they put in place under their names (which the reader has checked to be plain base
  // names that every system can make), each keeping the file it replaces until all are placed.
  // Should one fail, the ones before it are taken back and the folder holds what it held.
  struct placing {
    std::string temp;  // the image's temporary name in dir; after an exchange, the replaced file
    std::string name;
    std::optional<platform::kept_as> kept;
  };
  const platform::folder_at d{dir};
  std::vector<placing> all;
  auto discard = [&all](std::size_t from) {
    for (std::size_t i = from; i < all.size(); ++i) platform::remove_file(all[i].temp);
  };
  for (const auto& table : c.tables)
    for (const auto& img : table) {
      std::string temp;
      if (!write_temp(dir, img.data.data(), img.data.size(), temp)) {
        discard(0);
        error = format(msg::cannot_write, (dir + "/" + img.name).c_str());
        return false;
      }
      all.push_back({std::move(temp), img.name, std::nullopt});
    }
  auto temp_name = [](const placing& p) {
    return p.temp.substr(platform::last_separator(p.temp) + 1);
  };
  auto kept_name = [&](const placing& p) { return temp_name(p) + kept_suffix; };
  const platform::interrupts_held quiet;  // the renames and their undoing are done whole
  for (std::size_t i = 0; i < all.size(); ++i) {
    placing& p = all[i];
    // (a folder there would be exchanged with the image, as a file is)
    const auto there = platform::link_status_of(platform::path_in(d, p.name));
    if (!there || there->kind != platform::file_status::type::folder)
      p.kept = platform::replace_keeping(d, temp_name(p), p.name, kept_name(p),
                                         replace_patience_seconds);
    if (p.kept) continue;
    for (std::size_t j = i; j-- > 0;) {
      const placing& q = all[j];
      switch (*q.kept) {
        case platform::kept_as::from: platform::rename_in(d, temp_name(q), q.name, replace_patience_seconds); break;
        case platform::kept_as::kept: platform::rename_in(d, kept_name(q), q.name, replace_patience_seconds); break;
        case platform::kept_as::nothing: platform::remove_in(d, q.name); break;
        case platform::kept_as::gone: break;  // no second name to be had: replaced for good
      }
      platform::forget_on_interrupt(q.temp);
    }
    discard(i);
    error = format(msg::cannot_write, (dir + "/" + p.name).c_str());
    return false;
  }
  for (const placing& p : all) {
    if (*p.kept == platform::kept_as::from) platform::remove_in(d, temp_name(p));
    if (*p.kept == platform::kept_as::kept) platform::remove_in(d, kept_name(p));
    platform::forget_on_interrupt(p.temp);
  }
  platform::sync_folder(dir);
  lines = listing(c);
  return true;
}

}  // namespace imgwelder
