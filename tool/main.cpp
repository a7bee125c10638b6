// vexdram_tool: reads the parameter block of a DDR binary into a report (-g), or merges a
// parameter file into it in place. This file owns the command line, the files and the exit
// status; the core library owns the format.
#include <cstdio>
#include <memory>

#include "tool/messages.h"
#include "tool/param_text.h"
#include "platform/platform.h"
#include "tool/run.h"

namespace {

using namespace vexdram;

struct file_closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

void print_help() { std::fputs(msg::help, stdout); }

int modify_mode(run_context& ctx, const char* param_path, const char* bin_path) {
  file_ptr params(platform::open_stream(param_path, "r"));
  if (!params) {
    std::printf(msg::open_failed_fmt, param_path);
    return 0;
  }
  disk_ddr_file bin(bin_path, /*writable=*/true);
  if (!bin.ok()) {
    std::printf(msg::open_failed_fmt, bin_path);
    return 0;
  }
  ctx.tq637y_en = path_names_older_family(bin_path);
  file_text_source src(params.get());
  run_modify(ctx, src, bin);
  return 0;
}

int report_mode(run_context& ctx, char** argv) {
  const char* bin_path = argv[4];
  // Report mode only reads: a write-protected binary can be reported.
  disk_ddr_file bin(bin_path, /*writable=*/false);
  if (!bin.ok()) {
    std::printf(msg::open_failed_fmt, bin_path);
    return 0;
  }
  platform::line_buffered_stdout();
  file_ptr report;
  platform::option_scan options;
  int opt;
  // Options stand between the chip and the binary: the binary is never read as an option, so a
  // binary named like "-gname.bin" cannot turn another file into the report.
  while ((opt = options.next(4, argv, "g:h")) != -1) {
    if (opt != 'g') {
      print_help();
      return 1;
    }
    // The report must never be the DDR binary itself: opening it with "w+" would empty the binary.
    if (bin.is(options.value)) {
      std::printf(msg::report_is_binary_fmt, options.value);
      return 0;
    }
    report.reset(platform::open_stream(options.value, "w+"));
    if (!report) {
      std::printf(msg::open_failed_fmt, options.value);
      return 0;
    }
    ctx.gen_txt_from_bin = true;
  }
  // Four arguments without -g name no report to write.
  if (!ctx.gen_txt_from_bin) {
    print_help();
    return 1;
  }
  run_report(ctx, bin, report.get());
  return 0;
}

}  // namespace

int main(int argc_given, char** argv_given) {
  // the count and the words from one place: on Windows both come from the system's command line
  platform::arguments args_utf8(argc_given, argv_given);
  char** const argv = args_utf8.argv();
  platform::binary_std_streams();
  std::fputs(msg::banner, stdout);
  const int args = args_utf8.argc() - 1;
  if (args == 0) {
    print_help();
    return 0;
  }
  run_context ctx;
  if (!chip_supported(argv[1])) {
    std::fputs(msg::chip_name_error, stdout);
    print_help();
    return 1;
  }
  ctx.chip_info = argv[1];
  std::printf(msg::chip_fmt, argv[1]);
  if (args == 3) return modify_mode(ctx, argv[2], argv[3]);
  if (args == 4) return report_mode(ctx, argv);
  print_help();
  return 0;
}
