// The loader container: layout, in-memory form, reader, writer and listing.
// The layout is described in docs/imgwelder_container_format.md; the offsets below are that table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace imgwelder {

// Header fields, byte offsets. The first 47 bytes are what loader readers decode
// ("<4sH4BI7s4sBIBBIBBIBBBBB"); the rest up to header_length is ours.
namespace hdr {
constexpr std::size_t tag = 0;             // 4 bytes, "BOOT" or "LDR "
constexpr std::size_t size = 4;            // u16, the header length
constexpr std::size_t version = 6;         // 4 bytes: minor, major, 0, 0
constexpr std::size_t merge_version = 10;  // u32
constexpr std::size_t release_time = 14;   // u16 year, u8 month, day, hour, minute, second
constexpr std::size_t chip = 21;           // 4 bytes, the chip code reversed
constexpr std::size_t tables = 25;         // 3 x (u8 count, u32 offset, u8 entry size)
constexpr std::size_t table_stride = 6;
constexpr std::size_t sign_flag = 43;
constexpr std::size_t rc4_flag = 44;
constexpr std::size_t rc4_off_471 = 45;
constexpr std::size_t crc_off = 46;
constexpr std::size_t chip_family = 47;  // 'Q' or 'N'
constexpr std::size_t alignment = 48;    // u32, image data alignment in bytes
// 52..101 reserved, zero. Byte 53 must stay zero: an empty table has offset 0, and a reader
// that takes byte 53 at a table offset as the entry's delay then reads 0.
constexpr std::size_t length = 0x66;
// The two tags a container begins with.
constexpr char boot_tag[] = "BOOT";
constexpr char ldr_tag[] = "LDR ";
constexpr std::size_t tag_length = 4;
// A file whose first bytes are a tag and the header's length (its low byte, 0x66) is a container:
// what every front asks before it reads one.
constexpr std::size_t magic_length = tag_length + 1;
constexpr bool is_magic(const std::uint8_t* head, std::size_t n) {
  auto is = [head](const char* t) {
    for (std::size_t i = 0; i < tag_length; ++i)
      if (head[i] != static_cast<std::uint8_t>(t[i])) return false;
    return true;
  };
  return n >= magic_length && (is(boot_tag) || is(ldr_tag)) && head[tag_length] == length;
}
}  // namespace hdr

// The host's unpack result (dramforge's loader_unpack; vexdram reads a container as it does):
// the twelve entries every one starts with, in their order, each "null" until it is known.
constexpr const char* unpack_keys[] = {
    "imgweld_tool_path",     "pack_params",           "loader_471",
    "loader_472",            "loader_473_0",          "loader_473_1",
    "loader_473_2",          "loader_473_3",          "loader_FlashBoost_path",
    "loader_FlashData_path", "loader_FlashBoot_path", "loader_file_path",
};
// Each value naming a Flash* image is stored under that kind's key as well.
struct flash_kind {
  const char* marker;
  const char* key;
};
constexpr flash_kind flash_kinds[] = {
    {"FlashBoost", "loader_FlashBoost_path"},
    {"FlashData", "loader_FlashData_path"},
    {"FlashBoot", "loader_FlashBoot_path"},
};

// Entry record, byte offsets within one record.
namespace ent {
constexpr std::size_t record_size = 0;  // u8, ent::length
constexpr std::size_t type = 1;         // u32, table_type[]
constexpr std::size_t name = 5;         // 40 bytes, ASCII, NUL padded
constexpr std::size_t name_length = 40;
constexpr std::size_t data_offset = 45;  // u32, from the start of the file
constexpr std::size_t data_size = 49;    // u32
constexpr std::size_t data_delay = 53;   // u32; byte 53 is what loader readers take as the delay
constexpr std::size_t length = 57;
}  // namespace ent

constexpr std::size_t table_count = 3;  // 471, 472, loader, in this order everywhere
constexpr std::array<std::uint32_t, table_count> table_type{0x01, 0x02, 0x04};
constexpr std::array<const char*, table_count> table_label{"471", "472", "loader"};
constexpr std::size_t max_entries = 255;  // the count is one byte
constexpr std::uint32_t max_alignment = 4096;
constexpr std::size_t crc_length = 4;

// Loader parameter bytes inside the first loader image: 8 at each of these offsets.
constexpr std::array<std::size_t, 2> loader_param_offsets{124, 212};
constexpr std::size_t loader_param_length = 16;

struct image {
  std::string name;
  std::uint32_t delay = 0;
  std::vector<std::uint8_t> data;
};

struct container {
  bool ldr_tag = false;                             // "LDR " instead of "BOOT"
  std::array<std::uint8_t, 4> version{0, 1, 0, 0};  // minor, major, 0, 0
  std::uint32_t merge_version = 0;
  std::array<std::uint8_t, 7> release_time{};
  std::array<char, 4> chip_code{'0', '0', '0', '0'};  // as written on the command line
  char chip_family = 'Q';
  std::uint8_t sign_flag = 0;
  std::uint8_t rc4_flag = 0;
  std::uint8_t rc4_off_471 = 0;
  std::uint8_t crc_off = 0;  // 0: the file ends in a CRC-32 of what precedes it
  std::uint32_t alignment = 1;
  std::array<std::vector<image>, table_count> tables;
};

// Why read_container refused a file: each program says it in its own words (imgwelder's are
// reader_message in files.h).
enum class read_refusal {
  none,
  short_file,       // shorter than the header
  bad_tag,          // not "BOOT" or "LDR "
  bad_header_size,  // the header's size field is not hdr::length
  bad_crc,          // the CRC-32 at the end does not match
  bad_entry_size,   // a table's entry size is not ent::length (table)
  table_outside,    // a table reaches past the end (table)
  bad_entry,        // an entry's record size, type or name padding is wrong (table, entry)
  unsafe_name,      // an entry's name breaks the name rule (table, entry)
  data_outside,     // an entry's image reaches past the end (table, entry)
  overlap,          // header, tables and images overlap
  duplicate_name,   // two names Windows would take for one file (name, letter case folded)
};
struct read_outcome {
  read_refusal why = read_refusal::none;
  std::size_t table = 0;    // an index of table_label
  std::uint32_t entry = 0;  // within that table
  std::string name;
  explicit operator bool() const { return why == read_refusal::none; }
};

// Parses and checks a whole container. Safe on arbitrary bytes.
read_outcome read_container(const std::uint8_t* data, std::size_t size, container& out);

// Lays the container out; fails on bad names, too many entries, a bad alignment or a file
// that would not fit 32-bit offsets.
bool write_container(const container& c, std::vector<std::uint8_t>& out, std::string& error);

// Stores the 16 loader parameter bytes in the first loader image.
bool put_loader_params(container& c, const std::array<std::uint8_t, loader_param_length>& params,
                       std::string& error);

// The unpack listing; see the format description for which line carries which image.
std::vector<std::string> listing(const container& c);

// Whether a loader host can read the container's unpack listing. A host turns every line it reads
// (lines 3 to 6 of the 8-line listing; lines 3 to 8 of any other, and 9 when it has more than 10)
// into the path of an extracted image, so none of those slots may be empty. When one is, `error`
// names the first. pack refuses such a container.
bool listing_readable(const container& c, std::string& error);

// A name that may become a file name in the output directory.
bool is_safe_image_name(const std::string& name);

std::uint32_t crc32(const std::uint8_t* data, std::size_t size);

// A little-endian number of `width` bytes (1 to 4), as every field of the container is stored.
std::uint32_t get_le(const std::uint8_t* p, std::size_t width);

// Release time record from a UTC calendar time.
std::array<std::uint8_t, 7> make_release_time(unsigned year, unsigned month, unsigned day,
                                              unsigned hour, unsigned minute, unsigned second);

}  // namespace imgwelder
