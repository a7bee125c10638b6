// imgwelder's container reader and unpack on arbitrary bytes, in a scratch directory made once.
#include <cstdio>
#include <cstdlib>

#include "fuzz/harness.h"

namespace {

std::string parent;

void cleanup() {
  if (!parent.empty()) vexdram::fuzz::remove_tree(parent);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  parent = vexdram::fuzz::make_scratch_parent();
  if (parent.empty()) {
    std::fprintf(stderr, "fuzz_imgwelder_unpack: cannot make a scratch directory\n");
    std::exit(1);
  }
  std::atexit(cleanup);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string fault = vexdram::fuzz::check_imgwelder_unpack(data, size, parent);
  if (!fault.empty()) {
    std::fprintf(stderr, "fuzz_imgwelder_unpack: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
