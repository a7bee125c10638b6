// Replays every file under tests/regressions/<fuzz target>/ through that target's checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/harness.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

std::vector<fs::path> inputs(const std::string& target) {
  std::vector<fs::path> out;
  const fs::path dir = fs::path(VEXDRAM_REGRESSIONS_DIR) / target;
  if (fs::is_directory(dir))
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

bytes contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename Check>
void replay(const std::string& target, Check check) {
  const auto files = inputs(target);
  EXPECT_FALSE(files.empty()) << "no inputs for " << target;
  for (const fs::path& f : files) {
    const bytes data = contents(f);
    EXPECT_EQ(check(data.data(), data.size()), "") << target << ": " << f.filename();
  }
}

TEST(Regressions, ToolRun) { replay("fuzz_tool_run", vexdram::fuzz::check_tool_run); }

TEST(Regressions, ParamText) { replay("fuzz_param_text", vexdram::fuzz::check_param_text); }

// The targets that write files get a scratch directory of their own.
template <typename Check>
void replay_in_scratch(const std::string& target, Check check) {
  const std::string parent = vexdram::fuzz::make_scratch_parent();
  ASSERT_FALSE(parent.empty());
  replay(target, [&](const std::uint8_t* d, std::size_t n) { return check(d, n, parent); });
  vexdram::fuzz::remove_tree(parent);
}

TEST(Regressions, ImgwelderUnpack) {
  replay_in_scratch("fuzz_imgwelder_unpack", vexdram::fuzz::check_imgwelder_unpack);
}

TEST(Regressions, CliEquivalence) {
  replay_in_scratch("fuzz_cli_equivalence", vexdram::fuzz::check_cli_equivalence);
}

}  // namespace
