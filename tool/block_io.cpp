// The block's steps: scan, version, index, reading and decoding; merging, encoding and writing
// back. They print only warnings and notes on ctx.out; what they come to is their outcome.
#include "tool/run.h"

#include <cstring>
#include <vector>

#include "tool/block_detail.h"
#include "tool/messages.h"
#include "tool/report.h"
#include "tool/warnings.h"

namespace vexdram {
using namespace block_detail;

namespace {

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

}  // namespace

block_outcome locate_block(run_context& ctx, ddr_file& bin, std::uint32_t pattern,
                           block_location& at) {
  const std::optional<std::uint64_t> tag = find_start_tag(bin, pattern);
  std::uint32_t version = 0;
  if (!tag || !read_words(bin, *tag + 4, &version, 1)) return failed(outcome::no_block);
  at.bin_skew_offset = *tag + 4;
  ctx.version = version;
  if (ctx.out) std::fprintf(ctx.out, msg::version_fmt, static_cast<int>(version));
  if (v1_layout(version)) return {};
  if (!has_index(version)) return failed(outcome::unsupported_version);
  std::uint8_t raw[index_bytes];
  if (bin.read_at(at.bin_skew_offset + 4, raw, index_bytes) != index_bytes)
    return failed(outcome::index_cut);
  for (std::size_t e = 0; e < index_entry_count; ++e)
    at.index.entry[e] = {raw[2 * e], raw[2 * e + 1]};
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

void bin_data_2_info(run_context& ctx, base_info& info, const block_image& in,
                     const sdram_head_info_index_v2& index) {
  if (v1_layout(ctx.version)) {
    decode_v1(in.data(), info);
    return;
  }
  if (!has_index(ctx.version)) return;
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
}

void txt_data_2_bin_data(run_context& ctx, base_info& info, const base_info& in_info,
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
  modefy_2_bin_data(ctx, info, out, index);
}

void modefy_2_bin_data(run_context& ctx, const base_info& info, block_image& out,
                       const sdram_head_info_index_v2& index) {
  if (v1_layout(ctx.version)) {
    encode_v1(info, out.data());
    // The short form leaves the three frequency words of the file alone.
    warn_unfit(ctx, v1_fields(), ctx.tq637y_en ? 3 : 0, v1_decoded_words, info);
    return;
  }
  if (!has_index(ctx.version)) return;
  for (step s : decode_order) {
    if (s == step::skew) {
      if (index[skew_index].offset == 0 || !ctx.is_tq6951() || ctx.skew.sub_version() != 1)
        continue;
      const std::size_t written = skew_words(index);
      for (const skew_type& t : skew_types())
        if (t.record_word < written)
          warn_if_truncated(ctx.out, t.freq, info[t.freq], skew_freq_bits);
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
    const std::size_t wrote =
        write_words(filebin, section_pos(bin_skew_offset, index[d.entry].offset),
                    record(write_in, d, ctx.version), words);
    if (words == 0 || wrote != std::size_t{words} * 4) {
      unwritten(s);
      // A DQ map that cannot be written does not stop the others.
      if (d.id != section::dq_map) return o;
    }
  }
  return o;
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
    if (write_words(bin, pos, write_in.data() + first, words) != expect)
      o.what = outcome::unwritten;
  } else {
    o = write_sections(ctx, bin, at.bin_skew_offset, write_in, at.index);
  }
  o.synced = bin.sync();
  return o;
}

}  // namespace vexdram
