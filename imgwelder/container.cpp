#include "imgwelder/container.h"

#include "imgwelder/messages.h"
#include "imgwelder/text.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace imgwelder {

std::uint32_t get_le(const std::uint8_t* p, std::size_t width) {
  std::uint32_t v = 0;
  for (std::size_t i = width; i-- > 0;) v = (v << 8) | p[i];
  return v;
}

namespace {

void put_le(std::uint8_t* p, std::size_t width, std::uint32_t v) {
  for (std::size_t i = 0; i < width; ++i, v >>= 8) p[i] = static_cast<std::uint8_t>(v & 0xffu);
}

constexpr std::array<std::uint32_t, 256> crc_table = [] {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xedb88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}();

// A half-open byte range of the file that one part of the container claims.
struct region {
  std::uint64_t begin;
  std::uint64_t end;
};

bool regions_disjoint(std::vector<region> regions) {
  std::sort(regions.begin(), regions.end(),
            [](const region& a, const region& b) { return a.begin < b.begin; });
  for (std::size_t i = 1; i < regions.size(); ++i)
    if (regions[i].begin < regions[i - 1].end) return false;
  return true;
}

std::string lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

// Two names that differ only in case would land on one file on some file systems.
bool names_unique(const container& c, std::string& duplicate) {
  std::vector<std::string> names;
  for (const auto& table : c.tables)
    for (const auto& img : table) names.push_back(lower(img.name));
  std::sort(names.begin(), names.end());
  const auto it = std::adjacent_find(names.begin(), names.end());
  if (it == names.end()) return true;
  duplicate = *it;
  return false;
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t c = 0xffffffffu;
  for (std::size_t i = 0; i < size; ++i) c = crc_table[(c ^ data[i]) & 0xffu] ^ (c >> 8);
  return c ^ 0xffffffffu;
}

bool is_safe_image_name(const std::string& name) {
  if (name.empty() || name.size() > ent::name_length) return false;
  if (name.front() == '.' || name.front() == '-') return false;
  if (name.find("..") != std::string::npos) return false;
  // the word that tells callers the tool failed must not appear in a successful listing
  if (name.find("Error") != std::string::npos) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char ch) { return is_alnum(ch) || ch == '.' || ch == '_' || ch == '-'; });
}

std::array<std::uint8_t, 7> make_release_time(unsigned year, unsigned month, unsigned day,
                                              unsigned hour, unsigned minute, unsigned second) {
  std::array<std::uint8_t, 7> t{};
  put_le(t.data(), 2, year);
  t[2] = static_cast<std::uint8_t>(month);
  t[3] = static_cast<std::uint8_t>(day);
  t[4] = static_cast<std::uint8_t>(hour);
  t[5] = static_cast<std::uint8_t>(minute);
  t[6] = static_cast<std::uint8_t>(second);
  return t;
}

bool read_container(const std::uint8_t* data, std::size_t size, container& out,
                    std::string& error) {
  out = container{};
  if (size < hdr::length) {
    error = msg::short_file;
    return false;
  }
  const std::string tag(reinterpret_cast<const char*>(data + hdr::tag), hdr::tag_length);
  if (tag != hdr::boot_tag && tag != hdr::ldr_tag) {
    error = msg::bad_tag;
    return false;
  }
  if (get_le(data + hdr::size, 2) != hdr::length) {
    error = msg::bad_header_size;
    return false;
  }
  out.ldr_tag = tag == hdr::ldr_tag;
  std::copy_n(data + hdr::version, 4, out.version.begin());
  out.merge_version = get_le(data + hdr::merge_version, 4);
  std::copy_n(data + hdr::release_time, 7, out.release_time.begin());
  for (std::size_t i = 0; i < 4; ++i) out.chip_code[i] = static_cast<char>(data[hdr::chip + 3 - i]);
  out.chip_family = static_cast<char>(data[hdr::chip_family]);
  out.sign_flag = data[hdr::sign_flag];
  out.rc4_flag = data[hdr::rc4_flag];
  out.rc4_off_471 = data[hdr::rc4_off_471];
  out.crc_off = data[hdr::crc_off];
  out.alignment = get_le(data + hdr::alignment, 4);

  // Everything the tables point at must lie before the CRC, when there is one.
  std::uint64_t end = size;
  if (out.crc_off == 0) {
    if (size < hdr::length + crc_length ||
        crc32(data, size - crc_length) != get_le(data + size - crc_length, 4)) {
      error = msg::bad_crc;
      return false;
    }
    end -= crc_length;
  }

  std::vector<region> regions{{0, hdr::length}};
  std::array<std::vector<region>, table_count> spans;  // image data, per entry
  for (std::size_t t = 0; t < table_count; ++t) {
    const std::uint8_t* field = data + hdr::tables + t * hdr::table_stride;
    const std::uint32_t count = field[0];
    const std::uint64_t offset = get_le(field + 1, 4);
    if (count == 0) continue;  // offset and entry size of an empty table mean nothing
    if (field[5] != ent::length) {
      error = format(msg::bad_entry_size, table_label[t]);
      return false;
    }
    const std::uint64_t table_end = offset + std::uint64_t{count} * ent::length;
    if (table_end > end) {
      error = format(msg::table_outside, table_label[t]);
      return false;
    }
    regions.push_back({offset, table_end});

    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t* rec = data + offset + std::uint64_t{i} * ent::length;
      const char* name_field = reinterpret_cast<const char*>(rec + ent::name);
      const std::size_t name_len =
          std::find(name_field, name_field + ent::name_length, '\0') - name_field;
      const bool padding_clean = std::all_of(name_field + name_len, name_field + ent::name_length,
                                             [](char ch) { return ch == '\0'; });
      if (rec[ent::record_size] != ent::length || get_le(rec + ent::type, 4) != table_type[t] ||
          !padding_clean) {
        error = format(msg::bad_entry, i, table_label[t]);
        return false;
      }
      image img;
      img.name.assign(name_field, name_len);
      if (!is_safe_image_name(img.name)) {
        error = format(msg::unsafe_name, table_label[t], i);
        return false;
      }
      const std::uint64_t data_offset = get_le(rec + ent::data_offset, 4);
      const std::uint64_t data_end = data_offset + get_le(rec + ent::data_size, 4);
      if (data_end > end) {
        error = format(msg::data_outside, table_label[t], i);
        return false;
      }
      if (data_end > data_offset) regions.push_back({data_offset, data_end});
      img.delay = get_le(rec + ent::data_delay, 4);
      out.tables[t].push_back(std::move(img));
      spans[t].push_back({data_offset, data_end});
    }
  }
  if (!regions_disjoint(std::move(regions))) {
    error = msg::overlap;
    return false;
  }
  std::string duplicate;
  if (!names_unique(out, duplicate)) {
    error = format(msg::duplicate_name, duplicate.c_str());
    return false;
  }
  // Copied only now: disjoint regions keep the total copied within the file size.
  for (std::size_t t = 0; t < table_count; ++t)
    for (std::size_t i = 0; i < spans[t].size(); ++i)
      out.tables[t][i].data.assign(data + spans[t][i].begin, data + spans[t][i].end);
  return true;
}

bool write_container(const container& c, std::vector<std::uint8_t>& out, std::string& error) {
  if (c.alignment == 0 || c.alignment > max_alignment || (c.alignment & (c.alignment - 1)) != 0) {
    error = msg::bad_alignment;
    return false;
  }
  for (std::size_t t = 0; t < table_count; ++t) {
    if (c.tables[t].size() > max_entries) {
      error = format(msg::too_many, table_label[t]);
      return false;
    }
    for (std::size_t i = 0; i < c.tables[t].size(); ++i)
      if (!is_safe_image_name(c.tables[t][i].name)) {
        error = format(msg::unsafe_name, table_label[t], static_cast<unsigned>(i));
        return false;
      }
  }
  std::string duplicate;
  if (!names_unique(c, duplicate)) {
    error = format(msg::duplicate_name, duplicate.c_str());
    return false;
  }

  // Layout: header, the three tables back to back, then the images in table order.
  std::uint64_t pos = hdr::length;
  std::array<std::uint64_t, table_count> table_offset{};
  for (std::size_t t = 0; t < table_count; ++t) {
    if (!c.tables[t].empty()) table_offset[t] = pos;
    pos += c.tables[t].size() * ent::length;
  }
  std::array<std::vector<std::uint64_t>, table_count> data_offset;
  for (std::size_t t = 0; t < table_count; ++t)
    for (const auto& img : c.tables[t]) {
      pos = (pos + c.alignment - 1) / c.alignment * c.alignment;
      data_offset[t].push_back(pos);
      pos += img.data.size();
    }
  const std::uint64_t total = pos + (c.crc_off == 0 ? crc_length : 0);
  if (total > 0xffffffffu) {
    error = msg::too_large;
    return false;
  }

  out.assign(static_cast<std::size_t>(total), 0);
  std::uint8_t* h = out.data();
  std::copy_n(c.ldr_tag ? hdr::ldr_tag : hdr::boot_tag, hdr::tag_length, h + hdr::tag);
  put_le(h + hdr::size, 2, hdr::length);
  std::copy(c.version.begin(), c.version.end(), h + hdr::version);
  put_le(h + hdr::merge_version, 4, c.merge_version);
  std::copy(c.release_time.begin(), c.release_time.end(), h + hdr::release_time);
  // stored reversed: readers turn the four characters around
  for (std::size_t i = 0; i < 4; ++i)
    h[hdr::chip + 3 - i] = static_cast<std::uint8_t>(c.chip_code[i]);
  h[hdr::chip_family] = static_cast<std::uint8_t>(c.chip_family);
  h[hdr::sign_flag] = c.sign_flag;
  h[hdr::rc4_flag] = c.rc4_flag;
  h[hdr::rc4_off_471] = c.rc4_off_471;
  h[hdr::crc_off] = c.crc_off;
  put_le(h + hdr::alignment, 4, c.alignment);
  for (std::size_t t = 0; t < table_count; ++t) {
    std::uint8_t* field = h + hdr::tables + t * hdr::table_stride;
    field[0] = static_cast<std::uint8_t>(c.tables[t].size());
    put_le(field + 1, 4, static_cast<std::uint32_t>(table_offset[t]));
    field[5] = ent::length;
    for (std::size_t i = 0; i < c.tables[t].size(); ++i) {
      const image& img = c.tables[t][i];
      std::uint8_t* rec = h + table_offset[t] + i * ent::length;
      rec[ent::record_size] = ent::length;
      put_le(rec + ent::type, 4, table_type[t]);
      std::copy(img.name.begin(), img.name.end(), rec + ent::name);
      put_le(rec + ent::data_offset, 4, static_cast<std::uint32_t>(data_offset[t][i]));
      put_le(rec + ent::data_size, 4, static_cast<std::uint32_t>(img.data.size()));
      put_le(rec + ent::data_delay, 4, img.delay);
      std::copy(img.data.begin(), img.data.end(), h + data_offset[t][i]);
    }
  }
  if (c.crc_off == 0) put_le(h + total - crc_length, 4, crc32(h, total - crc_length));
  return true;
}

bool put_loader_params(container& c, const std::array<std::uint8_t, loader_param_length>& params,
                       std::string& error) {
  auto& loaders = c.tables[2];
  if (loaders.empty()) {
    error = msg::no_loader_image;
    return false;
  }
  auto& data = loaders.front().data;
  if (data.size() < loader_param_offsets[1] + loader_param_length / 2) {
    error = msg::loader_image_short;
    return false;
  }
  std::copy_n(params.begin(), 8, data.begin() + loader_param_offsets[0]);
  std::copy_n(params.begin() + 8, 8, data.begin() + loader_param_offsets[1]);
  return true;
}

}  // namespace imgwelder
