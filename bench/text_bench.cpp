// The parameter text reader on the two files it meets most: the template (every key, all values
// blank) and a full report (every key with a value), both read from memory.
//   text_bench [--benchmark_* options]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "tool/param_text.h"
#include "tool/report.h"

namespace {

std::string template_text() {
  std::string t = "start tag=0x12345678\n";
  for (std::size_t n = 1; n < vexdram::base_info_tag_size; ++n)
    t += std::string(vexdram::base_info_tag[n]) + "=\n";
  return t + "end\n";
}

std::string report_text() {
  vexdram::base_info info;
  for (std::size_t n = 0; n < vexdram::base_info_tag_size; ++n)
    info[n] = static_cast<std::uint32_t>(n * 2654435761u);
  std::FILE* f = std::tmpfile();
  if (!f || vexdram::gen_info_from_bin(f, info) != 0) std::abort();
  std::string text(1 << 16, '\0');
  std::rewind(f);
  text.resize(std::fread(text.data(), 1, text.size(), f));
  std::fclose(f);
  return text;
}

void read_all(benchmark::State& state, const std::string& text) {
  vexdram::base_info info;
  vexdram::state_table states{};
  for (auto _ : state) {
    vexdram::memory_text_source src(text.data(), text.size());
    if (vexdram::read_param_text(src, info, states, nullptr) != vexdram::base_info_tag_size)
      state.SkipWithError("not every line was accepted");
    benchmark::DoNotOptimize(info);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_read_template(benchmark::State& state) { read_all(state, template_text()); }
void BM_read_report(benchmark::State& state) { read_all(state, report_text()); }

BENCHMARK(BM_read_template)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_read_report)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
