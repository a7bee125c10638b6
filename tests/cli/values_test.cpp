// The shared table of value rules (tests/value_rules.json), which the studio's server and page
// run too, through the library as `set` and the Python package use it: the value rule, then the
// image's check, on a binary that stores a parameter of each width the table names.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <vexdram/vexdram.h>

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
  image img = image::open(sample.path);
  std::map<unsigned, std::size_t> of_width;  // the first parameter stored with that width
  for (std::size_t n = 1; n < parameter_count; ++n)
    if (img.where(n).stored()) of_width.emplace(img.where(n).width, n);

  for (const auto& c : table["cases"]) {
    const std::string text = c["text"];
    const unsigned width = c["width"];
    ASSERT_EQ(of_width.count(width), 1u) << "no parameter of " << width << " bits";
    const std::size_t n = of_width[width];
    const parsed_value v = parse_value(text);
    const auto refused = v.value ? img.check(n, *v.value) : std::nullopt;
    const std::string reason = !v.value ? v.reason : refused ? refused->text : "";
    if (c.contains("value")) {
      EXPECT_EQ(reason, "") << text;
      ASSERT_TRUE(v.value) << text;
      EXPECT_EQ(*v.value, c["value"].get<std::uint32_t>()) << text;
      img.set(n, *v.value);
      EXPECT_EQ(img.value(n), *v.value) << text;
    } else {
      EXPECT_EQ(reason, c["reason"].get<std::string>()) << text;
    }
  }
}

}  // namespace
