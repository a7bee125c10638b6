// The parameter text reader on arbitrary bytes.
#include <cstdio>
#include <cstdlib>

#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string fault = vexdram::fuzz::check_param_text(data, size);
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_param_text: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
