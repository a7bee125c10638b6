// Scan throughput: a 64 MiB file of random bytes whose parameter block lies at the very end, read
// through the tool's own file layer, against a plain read of the same file in cat-sized reads.
//   scan_bench [--benchmark_* options]   (VEXDRAM_BENCH_FILE names the file; default /tmp)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tool/ddr_file.h"
#include "tool/layout.h"

namespace {

constexpr std::size_t file_size = 64u << 20;

const std::string& bench_file() {
  static const std::string path = [] {
    const char* env = std::getenv("VEXDRAM_BENCH_FILE");
    std::string p = env ? env : "/tmp/vexdram_scan_bench.bin";
    std::vector<std::uint8_t> bytes(file_size);
    std::mt19937 rng(7);
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
      std::uint32_t v = rng();
      if (v == vexdram::start_tag_value) v = 0;
      vexdram::store_le32(bytes.data() + i, v);
    }
    // The block: tag and version 2 in the last 64 bytes.
    vexdram::store_le32(bytes.data() + file_size - 64, vexdram::start_tag_value);
    vexdram::store_le32(bytes.data() + file_size - 60, 2);
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
    return p;
  }();
  return path;
}

void BM_scan(benchmark::State& state) {
  const std::string& path = bench_file();
  for (auto _ : state) {
    vexdram::posix_ddr_file f(path.c_str(), false);
    auto pos = vexdram::find_start_tag(f, vexdram::start_tag_value);
    if (!pos || *pos != file_size - 64) state.SkipWithError("tag not found at the end");
    benchmark::DoNotOptimize(pos);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * file_size);
}

// What cat does: 128 KiB reads, nothing looked at.
void BM_plain_read(benchmark::State& state) {
  const std::string& path = bench_file();
  std::vector<char> buf(128 << 10);
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::size_t total = 0;
    ssize_t r;
    while ((r = ::read(fd, buf.data(), buf.size())) > 0) total += static_cast<std::size_t>(r);
    ::close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * file_size);
}

BENCHMARK(BM_scan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_read)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
