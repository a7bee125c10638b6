// A whole tool run, report or modify mode, on an in-memory DDR binary (input layout: harness.h).
#include <cstdio>
#include <cstdlib>

#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string fault = vexdram::fuzz::check_tool_run(data, size);
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_tool_run: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
