#include "run.h"

#include <cstring>
#include <vector>

#include "messages.h"
#include "report.h"
#include "warnings.h"

namespace vexdram {

const std::array<const char*, 35> chip_names = {
    "tq615y", "tq6152", "tw4uf", "tq6154", "tq637y", "tq6154g", "tq6371m", "tq6371n", "tq6373",
    "tq6805", "tw2", "tq637yg", "tq6371g", "tq6471", "tq6490", "tw41", "tq6490u", "tw41u",
    "tq6912", "tq6730", "tq5203", "tn2470", "tn2463", "tq6420", "tn2462", "tq6583", "tq6585",
    "tq658y", "tq6934", "tq6947", "tn2460", "tn2457", "tq6951", "tq6574", "tq5041",
};
const std::array<const char*, 3> older_family_names = {"tq637yg", "tq6471", "tq6470"};

namespace {

void say(const run_context& ctx, const char* text) {
  if (ctx.out) std::fputs(text, ctx.out);
}

block_outcome failed(outcome what, std::optional<step> in = std::nullopt) { return {what, in}; }

bool v1_layout(std::uint32_t version) { return version <= 1; }
bool has_index(std::uint32_t version) { return version >= 2 && version <= 5; }

// File position of a section: offsets count in words from the version word, which is offset 1.
std::uint64_t section_pos(std::uint64_t bin_skew_offset, std::uint8_t offset) {
  return bin_skew_offset + (static_cast<std::uint64_t>(offset) - 1u) * 4u;
}

std::uint32_t* record(block_image& img, const section_desc& d, std::uint32_t version) {
  return img.data() + section_image_pos(d, version);
}
const std::uint32_t* record(const block_image& img, const section_desc& d, std::uint32_t version) {
  return img.data() + section_image_pos(d, version);
}

std::size_t skew_words(const sdram_head_info_index_v2& index) {
  const std::size_t size = index[skew_index].size;
  return size < tq6951_skew_words ? size : tq6951_skew_words;
}

// One line for each value given in the text that does not fit its field and reaches the file.
void warn_unfit(const run_context& ctx, field_span fields, std::size_t first, std::size_t end,
                const base_info& info) {
  for_each_field_in(fields, first, end, [&](const field& f) {
    warn_if_truncated(ctx.out, f.parameter, info[f.parameter], f.width);
  });
}

bool read_section(const run_context& ctx, ddr_file& bin, const sdram_head_info_index_v2& index,
                  block_image& read_out, std::uint64_t bin_skew_offset, const section_desc& d) {
  const std::uint8_t words = section_words(d, index, ctx.version);
  // A size of 0 is a read that delivers nothing: it fails like a short one.
  return words != 0 && read_words(bin, section_pos(bin_skew_offset, index[d.entry].offset),
                                  record(read_out, d, ctx.version), words);
}

block_outcome read_skew(run_context& ctx, ddr_file& bin, const sdram_head_info_index_v2& index,
                        std::uint64_t bin_skew_offset) {
  const std::uint64_t pos = section_pos(bin_skew_offset, index[skew_index].offset);
  std::uint32_t first = 0;
  if (!read_words(bin, pos, &first, 1)) return failed(outcome::skew_version_cut, step::skew);
  if (!ctx.is_tq6951()) return {};
  if ((first & 0xFFu) != 1) {
    ctx.skew_state = skew_found::other_sub_version;
    return {};
  }
  const std::size_t words = skew_words(index);
  if (words == 0 || !read_words(bin, pos, ctx.skew.w.data(), words))
    return failed(outcome::skew_cut, step::skew);
  ctx.skew_state = skew_found::sub_version_1;
  return {};
}

// The lines of the sections not written whole, in the order of writing; with "not support ddr5"
// at its place when the index has a DDR5 entry.
void say_unwritten(const run_context& ctx, const block_outcome& o, bool ddr5_entry) {
  if (o.what == outcome::unwritten && !o.in) say(ctx, msg::write_bin_fail);  // the version-1 record
  for (step s : write_order) {
    if (s == step::ddr5 && ddr5_entry) say(ctx, msg::not_support_ddr5);
    if (!(o.unwritten & (1u << static_cast<unsigned>(s)))) continue;
    say(ctx, s == step::skew ? msg::write_skew_fail : section_info(step_section(s)).write_fail);
  }
}

}  // namespace

block_outcome locate_block(run_context& ctx, ddr_file& bin, std::uint32_t pattern, block_location& at) {
  const std::optional<std::uint64_t> tag = find_start_tag(bin, pattern);
  std::uint32_t version = 0;
  if (!tag || !read_words(bin, *tag + 4, &version, 1)) return failed(outcome::no_block);
  at.bin_skew_offset = *tag + 4;
  ctx.version = version;
  if (ctx.out) std::fprintf(ctx.out, msg::version_fmt, static_cast<int>(version));
  if (v1_layout(version)) return {};
  if (!has_index(version)) return failed(outcome::unsupported_version);
  std::uint8_t raw[index_bytes];
  if (bin.read_at(at.bin_skew_offset + 4, raw, index_bytes) != index_bytes) return failed(outcome::index_cut);
  for (std::size_t e = 0; e < index_entry_count; ++e) at.index.entry[e] = {raw[2 * e], raw[2 * e + 1]};
  return {};
}

block_outcome read_block(run_context& ctx, ddr_file& bin, std::uint32_t pattern, block_location& at,
                         base_info& info) {
  block_outcome o = locate_block(ctx, bin, pattern, at);
  if (!o.ok()) return o;
  block_image read_out{};
  o = bin_data_readout(ctx, bin, at.index, read_out, at.bin_skew_offset);
  if (!o.ok()) return o;
  bin_data_2_info(ctx, info, read_out, at.index);
  return o;
}

const char* tool_message(const block_outcome& o) {
  switch (o.what) {
    case outcome::no_block: return msg::get_version_fail;
    case outcome::unsupported_version: return msg::version_not_support;
    case outcome::index_cut: return msg::readout_index_fail;
    case outcome::record_cut: return msg::read_bin_fail;
    case outcome::section_cut: return section_info(step_section(*o.in)).read_fail;
    case outcome::skew_version_cut: return msg::read_skew_version_fail;
    case outcome::skew_cut: return msg::read_tq6951_skew_fail;
    case outcome::ddr5_present: return msg::not_support_ddr5;
    case outcome::done:
    case outcome::unwritten: break;
  }
  return nullptr;
}

std::array<stored_field, base_info_tag_size> stored_fields(const run_context& ctx,
                                                            const block_location& at) {
  std::array<stored_field, base_info_tag_size> where{};
  if (v1_layout(ctx.version)) {
    // The short form writes record words 3 to 9 only.
    const std::size_t first = ctx.tq637y_en ? 3 : 0;
    for (const field& f : v1_fields())
      where[f.parameter] = {!f.decoded ? storage::reads_as_zero
                            : f.word < first ? storage::short_form
                                             : storage::stored,
                            f.width};
    return where;
  }
  if (!has_index(ctx.version)) return where;
  for (std::size_t s = 0; s < section_count; ++s) {
    const section_desc& d = section_info(static_cast<section>(s));
    const std::uint8_t words = section_words(d, at.index, ctx.version);
    for (const field& f : d.fields) {
      const storage why = f.word >= section_room(d, ctx.version) ? storage::version_lacks
                          : !section_present(d, at.index)         ? storage::no_section
                          : f.word >= words                       ? storage::section_short
                                                                  : storage::stored;
      where[f.parameter] = {why, f.width, &d};
    }
  }
  // The skew record is encoded and written only when it was read: chip tq6951, sub-version 1.
  const bool skew_read = ctx.skew_state == skew_found::sub_version_1;
  const std::size_t written = skew_words(at.index);
  auto skew = [&](param prm, std::size_t word, unsigned width, bool zero_keeps) {
    where[prm] = {!skew_read ? storage::skew_not_read
                  : word < written ? storage::stored
                                   : storage::section_short,
                  static_cast<std::uint8_t>(width), nullptr, zero_keeps};
  };
  for (const skew_type& t : skew_types()) {
    skew(t.freq, t.record_word, skew_freq_bits, false);
    for (std::size_t r = 0; r < t.row_count; ++r)
      skew(static_cast<param>(t.first_ca + t.rows[r].param_offset), lane_word(t, t.rows[r].lane), 8, true);
  }
  return where;
}

std::string overlapping_sections(const run_context& ctx, const block_location& at) {
  if (!has_index(ctx.version)) return "";
  struct span {
    const char* name;
    std::uint32_t from, to;  // block words
  };
  // The start tag, the version word and the index come first: block words 0 to 8.
  std::vector<span> spans{{"index", 0, 9}};
  for (std::size_t s = 0; s < section_count; ++s) {
    const section_desc& d = section_info(static_cast<section>(s));
    if (section_present(d, at.index)) {
      const std::uint32_t from = at.index[d.entry].offset;
      spans.push_back({d.name, from, from + section_words(d, at.index, ctx.version)});
    }
  }
  // The skew section of chip tq6951 is written back when it is of sub-version 1. Of another
  // sub-version it is not, but its first word still decides how it reads: a section written over
  // that word could make it sub-version 1, and its parameters read otherwise than before.
  const std::uint32_t skew_from = at.index[skew_index].offset;
  if (ctx.skew_state == skew_found::sub_version_1)
    spans.push_back({"skew", skew_from, static_cast<std::uint32_t>(skew_from + skew_words(at.index))});
  else if (ctx.skew_state == skew_found::other_sub_version)
    spans.push_back({"skew", skew_from, skew_from + 1});
  for (std::size_t i = 0; i < spans.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (spans[i].from < spans[j].to && spans[j].from < spans[i].to)
        return std::string(spans[j].name) + " and " + spans[i].name;
  return "";
}

bool chip_supported(const char* name) {
  for (const char* c : chip_names)
    if (std::strcmp(c, name) == 0) return true;
  return false;
}

bool path_names_older_family(const char* path) {
  for (const char* c : older_family_names)
    if (std::strstr(path, c)) return true;
  return false;
}

block_outcome bin_data_readout(run_context& ctx, ddr_file& filebin,
                               const sdram_head_info_index_v2& index, block_image& read_out,
                               std::uint64_t bin_skew_offset) {
  ctx.skew_state = skew_found::not_read;
  if (v1_layout(ctx.version)) {
    if (!read_words(filebin, bin_skew_offset + 8, read_out.data(), v1_decoded_words))
      return failed(outcome::record_cut);
    return {};
  }
  if (!has_index(ctx.version)) return {};
  for (step s : read_order) {
    if (s == step::ddr5) {
      if (index[ddr5_index].offset != 0) return failed(outcome::ddr5_present, s);
    } else if (s == step::skew) {
      if (index[skew_index].offset == 0) continue;
      const block_outcome o = read_skew(ctx, filebin, index, bin_skew_offset);
      if (!o.ok()) return o;
    } else {
      const section_desc& d = section_info(step_section(s));
      if (section_present(d, index) &&
          !read_section(ctx, filebin, index, read_out, bin_skew_offset, d))
        return failed(outcome::section_cut, s);
    }
  }
  return {};
}

int bin_data_2_info(run_context& ctx, base_info& info, const block_image& in,
                    const sdram_head_info_index_v2& index) {
  if (v1_layout(ctx.version)) {
    decode_v1(in.data(), info);
    return 0;
  }
  if (!has_index(ctx.version)) return 0;
  for (step s : decode_order) {
    if (s == step::skew) {
      if (index[skew_index].offset == 0 || !ctx.is_tq6951()) continue;
      decode_skew_freqs(ctx.skew, info, ctx.reserved);
      if (tq6951_ca_skew_read_out(info, ctx.skew, ctx.out) != 0) say(ctx, msg::skew_read_out_error);
      continue;
    }
    const section_desc& d = section_info(step_section(s));
    if (!section_present(d, index)) continue;
    decode_section(d, record(in, d, ctx.version), section_room(d, ctx.version), info,
                   ctx.reserved.section[static_cast<std::size_t>(d.id)]);
  }
  return 0;
}

int txt_data_2_bin_data(run_context& ctx, base_info& info, const base_info& in_info,
                        const sdram_head_info_index_v2& index, block_image& out) {
  say(ctx, msg::new_config);
  for (std::size_t n = 1; n < base_info_tag_size; ++n) {
    if (info[n] == blank_value && ctx.updata_availd[n] == state_keep) {
      info[n] = in_info[n];
      continue;
    }
    if (ctx.out)
      std::fprintf(ctx.out, echo_in_hex(n) ? msg::echo_hex_fmt : msg::echo_dec_fmt,
                   base_info_tag[n].data(), info[n]);
  }
  return modefy_2_bin_data(ctx, info, out, index);
}

int modefy_2_bin_data(run_context& ctx, const base_info& info, block_image& out,
                      const sdram_head_info_index_v2& index) {
  if (v1_layout(ctx.version)) {
    encode_v1(info, out.data());
    // The short form leaves the three frequency words of the file alone.
    warn_unfit(ctx, v1_fields(), ctx.tq637y_en ? 3 : 0, v1_decoded_words, info);
    return 0;
  }
  if (!has_index(ctx.version)) return 0;
  for (step s : decode_order) {
    if (s == step::skew) {
      if (index[skew_index].offset == 0 || !ctx.is_tq6951() || ctx.skew.sub_version() != 1)
        continue;
      const std::size_t written = skew_words(index);
      for (const skew_type& t : skew_types())
        if (t.record_word < written) warn_if_truncated(ctx.out, t.freq, info[t.freq], skew_freq_bits);
      encode_skew_freqs(info, ctx.reserved, ctx.skew);
      tq6951_mdf_ca_skew(info, ctx.skew, written, ctx.out);
      continue;
    }
    const section_desc& d = section_info(step_section(s));
    if (!section_present(d, index)) continue;
    const std::uint8_t room = section_room(d, ctx.version);
    encode_section(d, info, ctx.reserved.section[static_cast<std::size_t>(d.id)],
                   record(out, d, ctx.version), room);
    warn_unfit(ctx, d.fields, 0, section_words(d, index, ctx.version), info);
  }
  return 0;
}

block_outcome write_sections(run_context& ctx, ddr_file& filebin, std::uint64_t bin_skew_offset,
                             const block_image& write_in, const sdram_head_info_index_v2& index) {
  block_outcome o;
  auto unwritten = [&](step s) {
    if (!o.in) o = {outcome::unwritten, s};
    o.unwritten |= static_cast<std::uint16_t>(1u << static_cast<unsigned>(s));
  };
  for (step s : write_order) {
    if (s == step::ddr5) continue;
    if (s == step::skew) {
      if (index[skew_index].offset == 0 || !ctx.is_tq6951() || ctx.skew.sub_version() != 1)
        continue;
      const std::size_t words = skew_words(index);
      if (write_words(filebin, section_pos(bin_skew_offset, index[skew_index].offset),
                      ctx.skew.w.data(), words) != words * 4) {
        unwritten(s);
        return o;
      }
      continue;
    }
    const section_desc& d = section_info(step_section(s));
    if (!section_present(d, index)) continue;
    const std::uint8_t words = section_words(d, index, ctx.version);
    const std::size_t wrote = write_words(
        filebin, section_pos(bin_skew_offset, index[d.entry].offset), record(write_in, d, ctx.version), words);
    if (words == 0 || wrote != std::size_t{words} * 4) {
      unwritten(s);
      // A DQ map that cannot be written does not stop the others.
      if (d.id != section::dq_map) return o;
    }
  }
  return o;
}

int write_in_bin_data_v2(run_context& ctx, ddr_file& filebin, std::uint64_t bin_skew_offset,
                         const block_image& write_in, const sdram_head_info_index_v2& index) {
  const block_outcome o = write_sections(ctx, filebin, bin_skew_offset, write_in, index);
  say_unwritten(ctx, o, index[ddr5_index].offset != 0);
  // Only a DQ map left unwritten lets the writing go on to the end.
  const auto dq_map_bit = static_cast<std::uint16_t>(1u << static_cast<unsigned>(step::dq_map));
  return (o.unwritten & ~dq_map_bit) != 0 ? -1 : 0;
}

void run_report(run_context& ctx, ddr_file& bin, std::FILE* report) {
  ctx.gen_txt_from_bin = true;
  ctx.updata_availd.fill(state_keep);
  block_location at;
  base_info info_from_bin;
  if (const block_outcome o = read_block(ctx, bin, start_tag_value, at, info_from_bin); !o.ok()) {
    say(ctx, tool_message(o));
    return;
  }
  say(ctx, gen_info_from_bin(report, info_from_bin) == 0 ? msg::generate_ok : msg::generate_fail);
}

void run_modify(run_context& ctx, text_source& params, ddr_file& bin) {
  ctx.updata_availd.fill(state_keep);
  base_info info_from_txt;
  if (read_param_text(params, info_from_txt, ctx.updata_availd, ctx.out) == 0) {
    say(ctx, msg::read_param_fail);
    return;
  }
  // Without a start tag the scan would look for whatever the blank value is and write the
  // block over the first match.
  if (ctx.updata_availd[p::start_tag] != state_given) {
    say(ctx, msg::no_start_tag);
    return;
  }
  const block_outcome o = modify_block(ctx, info_from_txt, bin);
  if (const char* ended = tool_message(o)) {
    say(ctx, ended);
    return;
  }
  say_unwritten(ctx, o, false);  // (a DDR5 entry ends the run at reading)
  // Users flash the image right after: "modify end" means the data is on the disk.
  say(ctx, o.synced ? msg::modify_end : msg::write_bin_fail);
}

block_outcome modify_block(run_context& ctx, base_info& info_from_txt, ddr_file& bin) {
  block_location at;
  base_info info_from_bin;
  block_outcome o = read_block(ctx, bin, info_from_txt[p::start_tag], at, info_from_bin);
  if (!o.ok()) return o;
  block_image write_in{};
  txt_data_2_bin_data(ctx, info_from_txt, info_from_bin, at.index, write_in);
  if (v1_layout(ctx.version)) {
    // Full form: record words 0-9 at the record's start (P + 12); short form: words 3-9 at
    // P + 24. Never past the end of the file.
    const std::size_t first = ctx.tq637y_en ? 3 : 0;
    const std::uint64_t pos = at.bin_skew_offset + 8 + 4 * first;
    const std::size_t words = v1_record_words - first;
    const std::uint64_t room = pos < bin.size() ? bin.size() - pos : 0;
    const std::size_t expect = static_cast<std::size_t>(room < words * 4 ? room : words * 4);
    if (write_words(bin, pos, write_in.data() + first, words) != expect) o.what = outcome::unwritten;
  } else {
    o = write_sections(ctx, bin, at.bin_skew_offset, write_in, at.index);
  }
  o.synced = bin.sync();
  return o;
}

}  // namespace vexdram
