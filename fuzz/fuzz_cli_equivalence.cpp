// vexdram's edit against vexdram_tool's on random binaries and edits (input layout: harness.h).
#include <cstdio>
#include <cstdlib>

#include "fuzz/harness.h"

namespace {
std::string scratch;
void clean() { vexdram::fuzz::remove_tree(scratch); }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scratch = vexdram::fuzz::make_scratch_parent();
  if (scratch.empty()) {
    std::fprintf(stderr, "fuzz_cli_equivalence: cannot make a scratch directory\n");
    std::abort();
  }
  std::atexit(clean);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string fault = vexdram::fuzz::check_cli_equivalence(data, size, scratch);
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_cli_equivalence: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
