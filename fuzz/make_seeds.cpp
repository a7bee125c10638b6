// Writes the seed corpora of the fuzz targets, all synthesized here: DDR binaries of every
// version and section set from the sample builder, parameter texts (hand-made and the tool's own
// reports) and loader containers from imgwelder's writer; and the text targets' dictionary.
//   make_seeds OUT_DIR    (writes OUT_DIR/<target>/seed-NNNN and OUT_DIR/keys.dict)
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "imgwelder/container.h"
#include "tests/support/ddr_builder.h"
#include "tool/run.h"

namespace {

using namespace vexdram;
using bytes = std::vector<std::uint8_t>;

struct seed_dir {
  std::string path;
  int count = 0;
  bool ok = true;
  void add(const bytes& data) {
    char name[32];
    std::snprintf(name, sizeof name, "/seed-%04d", count++);
    std::FILE* f = std::fopen((path + name).c_str(), "wb");
    ok = f && std::fwrite(data.data(), 1, data.size(), f) == data.size() && ok;
    if (f) ok = std::fclose(f) == 0 && ok;
  }
  void add(const std::string& text) { add(bytes(text.begin(), text.end())); }
};

// The DDR binaries: small leads and tails keep the seeds short.
std::vector<bytes> binaries() {
  std::vector<bytes> out;
  auto add = [&](synth::ddr_spec s, std::size_t cut = 0) {
    s.lead = 16 + 4 * (s.seed % 3);
    s.tail = 8;
    bytes b = synth::build(s);
    b.resize(b.size() - std::min(cut, b.size()));
    out.push_back(std::move(b));
  };
  for (std::uint32_t v : {0u, 1u}) {
    synth::ddr_spec s;
    s.version = v;
    s.seed = v + 1;
    add(s);
    add(s, 8 + 30);  // the record runs past the end of the file
  }
  std::uint64_t seed = 10;
  for (std::uint32_t v = 2; v <= 6; ++v) {
    for (int sub : {1, 0}) {
      synth::ddr_spec s = synth::plan(v, synth::all_sections(), seed++);
      s.skew_sub_version = sub;
      add(s);
    }
    add(synth::plan(v, {global_index, ddr3_index, lp4_index, dq_map_index, hash_index}, seed++));
    for (index_entry e : synth::all_sections()) {
      synth::ddr_spec s = synth::plan(v, {global_index, e}, seed++);
      if (e == skew_index) s.skew_sub_version = 1;
      add(s);
    }
    // Sizes below and above the record's room, bounded entries over the bound, a DDR5 entry,
    // sections cut by the end of the file.
    synth::ddr_spec s = synth::plan(v, synth::all_sections(), seed++);
    s.index.entry[ddr3_index].size = 3;
    s.index.entry[lp4_index].size = 40;
    s.index.entry[skew_index].size = 5;
    s.skew_sub_version = 1;
    add(s);
    s = synth::plan(v, {global_index, lp4x_index, hash_index}, seed++);
    s.index.entry[lp4x_index].size = 227;
    s.index.entry[hash_index].size = 226;
    add(s);
    add(synth::plan(v, {global_index, ddr5_index, lp3_index}, seed++));
    synth::ddr_spec cut = synth::plan(v, {global_index, lp5_index, skew_index}, seed++);
    cut.skew_sub_version = 1;
    add(cut, 8 + 40);
  }
  return out;
}

std::string template_text(std::size_t step) {
  std::string t = "start tag=0x12345678\n";
  for (std::size_t n = 1; n < base_info_tag_size; n += step) {
    t += std::string(base_info_tag[n]) + "=";
    if (n % 3 == 1) t += std::to_string(n * 37);
    else if (n % 3 == 2) t += "0x" + std::to_string(n);
    t += "\n";
  }
  return t + "end\n";
}

std::vector<std::string> texts() {
  return {
      "",
      "start tag=0x12345678\n",
      "start tag=0x12345678\nddr3_freq=1056\nlp4_freq=\nuart id\n/* ddr4_freq=1 */\nsr_idle=99999999999\n",
      "start tag=305419896\nddr3_skew_freq_mhz=4095\nddr3_ca0_skew=0x1ff\nlp3_cs3_skew=7\nend\n",
      "start tag=0xdeadbeef\nglobal=1\n",
      template_text(7),
      template_text(1),
  };
}

std::string report_of(bytes bin, const char* chip) {
  std::FILE* report = std::tmpfile();
  std::FILE* sink = std::fopen("/dev/null", "w");
  if (!report || !sink) return {};
  run_context ctx;
  ctx.out = sink;
  ctx.chip_info = chip;
  memory_ddr_file f(bin);
  run_report(ctx, f, report);
  std::string text;
  std::rewind(report);
  for (int c; (c = std::fgetc(report)) != EOF;) text += static_cast<char>(c);
  std::fclose(report);
  std::fclose(sink);
  return text;
}

// Every step-th line of a report, from an offset, after its start tag: short modify texts that
// still reach every section.
std::string sampled(const std::string& report, std::size_t step, std::size_t from) {
  std::string out, line;
  std::size_t n = 0;
  for (char c : report) {
    line += c;
    if (c != '\n') continue;
    if (n == 0 || n % step == from % step) out += line;
    line.clear();
    ++n;
  }
  return out;
}

std::vector<bytes> containers() {
  using namespace imgwelder;
  auto img = [](const std::string& name, std::size_t size, std::uint8_t fill) {
    image i;
    i.name = name;
    i.delay = size % 7;
    for (std::size_t k = 0; k < size; ++k)
      i.data.push_back(static_cast<std::uint8_t>(fill + k * 13));
    return i;
  };
  std::vector<container> cs;
  container c;
  c.chip_code = {'6', '9', '5', '1'};
  c.release_time = make_release_time(2024, 5, 17, 12, 30, 1);
  c.tables[0] = {img("ddr.bin", 48, 1)};
  c.tables[1] = {img("usbplug.bin", 32, 2)};
  c.tables[2] = {img("flash_data.bin", 256, 3), img("flash_boot.bin", 40, 4)};
  cs.push_back(c);
  container params = c;
  std::array<std::uint8_t, loader_param_length> p{};
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(0xA0 + i);
  std::string error;
  put_loader_params(params, p, error);
  cs.push_back(params);
  c.crc_off = 1;
  c.ldr_tag = true;
  c.alignment = 16;
  c.chip_family = 'N';
  cs.push_back(c);
  container many;
  many.tables[0] = {img("a1.bin", 8, 5), img("a2.bin", 0, 6), img("a3.bin", 9, 7)};
  many.tables[1] = {img("b1.bin", 4, 8), img("b2.bin", 5, 9)};
  for (int i = 0; i < 5; ++i)
    many.tables[2].push_back(img("l" + std::to_string(i) + ".img", 6 + i, 10));
  cs.push_back(many);
  many.crc_off = 2;
  many.alignment = 8;
  cs.push_back(many);
  cs.push_back(container{});
  std::vector<bytes> out;
  for (const container& k : cs) {
    bytes b;
    if (write_container(k, b, error)) out.push_back(std::move(b));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds OUT_DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  ::mkdir(root.c_str(), 0777);
  seed_dir tool{root + "/fuzz_tool_run"}, text{root + "/fuzz_param_text"},
      unpack{root + "/fuzz_imgwelder_unpack"}, cli{root + "/fuzz_cli_equivalence"};
  for (seed_dir* d : {&tool, &text, &unpack, &cli}) ::mkdir(d->path.c_str(), 0777);

  const std::vector<std::string> hand = texts();
  for (const std::string& t : hand) text.add(t);
  std::size_t k = 0;
  for (const bytes& bin : binaries()) {
    const std::size_t chip = k % 4;
    const std::string report = report_of(bin, fuzz::tool_chips[chip]);
    if (k % 5 == 0) text.add(report);
    if (k % 16 == 0)
      tool.add(fuzz::tool_input(fuzz::flag_modify | fuzz::chip_flags(chip), report, bin));
    tool.add(fuzz::tool_input(fuzz::chip_flags(0), "", bin));
    tool.add(fuzz::tool_input(
        fuzz::flag_round_trip | fuzz::chip_flags(chip) | (k & 2 ? fuzz::flag_older_family : 0), "",
        bin));
    tool.add(
        fuzz::tool_input(fuzz::flag_modify | fuzz::chip_flags(chip), sampled(report, 12, k), bin));
    tool.add(fuzz::tool_input(
        fuzz::flag_modify | fuzz::chip_flags(0) | (k & 1 ? fuzz::flag_older_family : 0),
        hand[2 + k % 4], bin));
    // Edits across the catalogue, written in every form, some narrowed to fit.
    std::vector<fuzz::cli_edit> edits;
    for (std::size_t i = 0; i < 1 + k % 4; ++i)
      edits.push_back({static_cast<std::uint16_t>((k * 37 + i * 101) % base_info_tag_size),
                       static_cast<std::uint32_t>(k * 2654435761u + i),
                       static_cast<std::uint8_t>((k + i) % 32)});
    cli.add(fuzz::cli_input(fuzz::chip_flags(chip) | (k & 1 ? fuzz::flag_older_family : 0), edits,
                            bin));
    ++k;
  }
  for (const bytes& b : containers()) unpack.add(b);

  // The keys and the marks of the text format, for the mutations of the text targets: the key
  // match is a walk of a trie, whose comparisons tell the fuzzer little about whole keys.
  std::FILE* dict = std::fopen((root + "/keys.dict").c_str(), "w");
  bool dict_ok = dict != nullptr;
  for (std::size_t n = 0; dict && n < base_info_tag_size; ++n)
    dict_ok = std::fprintf(dict, "\"%s\"\n", base_info_tag[n].data()) > 0 && dict_ok;
  if (dict) {
    dict_ok = std::fputs("\"=\"\n\"/*\"\n\"0x\"\n\"\\x0d\\x0a\"\n", dict) >= 0 && dict_ok;
    dict_ok = std::fclose(dict) == 0 && dict_ok;
  }

  const bool ok = tool.ok && text.ok && unpack.ok && cli.ok && dict_ok;
  if (!ok) std::fprintf(stderr, "make_seeds: cannot write to %s\n", root.c_str());
  std::printf("make_seeds: %d tool runs, %d texts, %d containers, %d edits\n", tool.count,
              text.count, unpack.count, cli.count);
  return ok ? 0 : 1;
}
