// Writes the bundled sample DDR binaries: synthetic blocks from the builder, with plausible
// values merged in by the tool's own modify step.
//   make_samples OUT_DIR
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/support/ddr_builder.h"
#include "tool/run.h"

namespace {

using namespace vexdram;

const std::map<std::string, std::string> plausible = {
    {"ddr2_freq", "533"},
    {"lp2_freq", "533"},
    {"ddr3_freq", "1056"},
    {"lp3_freq", "933"},
    {"ddr4_freq", "1560"},
    {"lp4_freq", "1560"},
    {"lp4x_freq", "1560"},
    {"lp5_freq", "2112"},
    {"uart id", "2"},
    {"uart iomux", "0"},
    {"uart baudrate", "1500000"},
    {"sr_idle", "93"},
    {"pd_idle", "13"},
    {"standby_idle", "8000"},
    {"first scan channel", "0"},
    {"channel mask", "3"},
    {"stride type", "0"},
    {"ddr3_odt_ohm", "120"},
    {"phy_ddr3_odt_ohm", "240"},
    {"ddr3_odten_freq_mhz", "333"},
    {"phy_ddr3_odten_freq_mhz", "333"},
    {"lp4_odt_ohm", "60"},
    {"phy_lp4_odt_ohm", "60"},
    {"ddr3_skew_freq_mhz", "1056"},
    {"pstore_base_addr", "0x400"},
    {"pstore_buf_size", "0x4"},
};

// A parameter file that sets the plausible values and keeps everything else.
std::string param_text() {
  std::string t = "start tag=0x12345678\n";
  for (std::size_t n = 1; n < base_info_tag_size; ++n) {
    const std::string key(base_info_tag[n]);
    auto it = plausible.find(key);
    t += key + "=" + (it == plausible.end() ? "" : it->second) + "\n";
  }
  return t + "end\n";
}

bool write_sample(const std::string& path, const char* chip, std::vector<std::uint8_t> bytes,
                  bool older_family = false) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  run_context ctx;
  ctx.out = sink;
  ctx.chip_info = chip;
  ctx.tq637y_en = older_family;
  const std::string text = param_text();
  memory_text_source src(text.data(), text.size());
  memory_ddr_file bin(bytes);
  run_modify(ctx, src, bin);
  std::fclose(sink);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples OUT_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];

  synth::ddr_spec v5 = synth::plan(5, synth::all_sections(), 5);
  v5.lead = 0x400;  // code before the block
  v5.tail = 0x800;
  v5.skew_sub_version = 1;

  synth::ddr_spec v2 =
      synth::plan(2, {global_index, ddr3_index, lp4_index, dq_map_index, hash_index}, 2);
  v2.lead = 0x200;
  v2.tail = 0x300;

  synth::ddr_spec v1;
  v1.version = 1;
  v1.seed = 1;
  v1.lead = 0x100;
  v1.tail = 0x100;

  const bool ok = write_sample(dir + "/tq6951_ddr_v5.bin", "tq6951", synth::build(v5)) &&
                  write_sample(dir + "/tq6583_ddr_v2.bin", "tq6583", synth::build(v2)) &&
                  write_sample(dir + "/tq6420_ddr_v1.bin", "tq6420", synth::build(v1));
  if (!ok) std::fprintf(stderr, "make_samples: cannot write to %s\n", dir.c_str());
  return ok ? 0 : 1;
}
