#include "tool/codec.h"

namespace vexdram {

void decode_section(const section_desc& d, const std::uint32_t* words, std::size_t room,
                    base_info& info, word_masks& reserved) {
  for_each_field_in(d.fields, 0, room,
                    [&](const field& f) { info[f.parameter] = field_get(f, words[f.word]); });
  for (std::size_t w = 0; w < room; ++w) reserved[w] = words[w] & reserved_mask(d, w);
}

void encode_section(const section_desc& d, const base_info& info, const word_masks& reserved,
                    std::uint32_t* words, std::size_t room) {
  for (std::size_t w = 0; w < room; ++w) words[w] = reserved[w] & reserved_mask(d, w);
  for_each_field_in(d.fields, 0, room,
                    [&](const field& f) { words[f.word] |= field_prep(f, info[f.parameter]); });
}

void decode_v1(const std::uint32_t* words, base_info& info) {
  for_each_field_in(v1_fields(), 0, v1_decoded_words, [&](const field& f) {
    if (f.decoded) info[f.parameter] = field_get(f, words[f.word]);
  });
  for (param prm : {p::res_space_remap_portion, p::dis_train_print, p::rd_vref_scan_en,
                    p::wr_vref_scan_en, p::eye_2d_scan_en, p::link_ecc_en, p::per_bank_ref_en,
                    p::auto_precharge_en, p::res_space_remap_all})
    info[prm] = 0;
}

void encode_v1(const base_info& info, std::uint32_t* words) {
  for (std::size_t w = 0; w < v1_record_words; ++w) words[w] = 0;
  for_each_field_in(v1_fields(), 0, v1_decoded_words,
                    [&](const field& f) { words[f.word] |= field_prep(f, info[f.parameter]); });
}

void decode_skew_freqs(const tq6951_skew_info& rec, base_info& info, reserved_store& reserved) {
  for (std::size_t t = 0; t < skew_type_count; ++t) {
    const skew_type& st = skew_types()[t];
    const std::uint32_t word = rec.w[st.record_word];
    info[st.freq] = word & skew_freq_mask;
    reserved.skew_freq[t] = word & ~skew_freq_mask;
  }
}

void encode_skew_freqs(const base_info& info, const reserved_store& reserved,
                       tq6951_skew_info& rec) {
  for (std::size_t t = 0; t < skew_type_count; ++t) {
    const skew_type& st = skew_types()[t];
    rec.w[st.record_word] =
        (info[st.freq] & skew_freq_mask) | (reserved.skew_freq[t] & ~skew_freq_mask);
  }
}

}  // namespace vexdram
