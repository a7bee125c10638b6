// The shared table of value rules (tests/value_rules.json), which the studio's server and page
// run too, through what `set` runs: check_assignments on a binary that stores a parameter of
// each width the table names.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/binary.h"
#include "tests/support/ddr_builder.h"

namespace {

using namespace vexdram;

// Every section of a version-5 block, for a chip without a skew section: every width of the
// layouts is stored somewhere, and no value is refused for where it lives.
struct sample_binary {
  std::string dir, path;
  sample_binary() {
    char tmpl[] = "/tmp/vxvalues.XXXXXX";
    dir = ::mkdtemp(tmpl);
    path = dir + "/tq6583_values.bin";
    const std::vector<std::uint8_t> b = synth::build(synth::plan(5, synth::all_sections(), 3));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
  }
  ~sample_binary() {
    ::unlink(path.c_str());
    ::rmdir(dir.c_str());
  }
};

TEST(ValueRules, EveryCaseOfTheSharedTableThroughSet) {
  std::ifstream in(VEXDRAM_VALUE_RULES);
  ASSERT_TRUE(in) << VEXDRAM_VALUE_RULES;
  const nlohmann::json table = nlohmann::json::parse(in);
  ASSERT_GT(table["cases"].size(), 20u);

  const sample_binary sample;
  const cli::binary b(sample.path, "");
  std::map<unsigned, std::string> key_of_width;  // the first parameter stored with that width
  for (std::size_t n = 1; n < base_info_tag_size; ++n)
    if (b.where(static_cast<param>(n)).why == storage::stored)
      key_of_width.emplace(b.where(static_cast<param>(n)).width, std::string(base_info_tag[n]));

  for (const auto& c : table["cases"]) {
    const std::string text = c["text"];
    const unsigned width = c["width"];
    ASSERT_EQ(key_of_width.count(width), 1u) << "no parameter of " << width << " bits";
    const std::string kv = key_of_width[width] + "=" + text;
    const cli::assignments got = cli::check_assignments(b, {kv});
    if (c.contains("value")) {
      EXPECT_TRUE(got.problems.empty()) << kv << ": " << got.problems.front();
      ASSERT_EQ(got.edits.size(), 1u) << kv;
      EXPECT_EQ(got.edits[0].value, c["value"].get<std::uint32_t>()) << kv;
    } else {
      EXPECT_TRUE(got.edits.empty()) << kv;
      EXPECT_EQ(got.problems, std::vector<std::string>{kv + ": " + c["reason"].get<std::string>()});
    }
  }
}

}  // namespace
