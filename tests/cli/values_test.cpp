// The shared table of value rules (tests/value_rules.json), which the studio's server and page
// run too, through the command line's own rule.
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "values.h"

namespace {

TEST(ValueRules, EveryCaseOfTheSharedTable) {
  std::ifstream in(VEXDRAM_VALUE_RULES);
  ASSERT_TRUE(in) << VEXDRAM_VALUE_RULES;
  const nlohmann::json table = nlohmann::json::parse(in);
  ASSERT_GT(table["cases"].size(), 20u);
  for (const auto& c : table["cases"]) {
    const std::string text = c["text"];
    const vexdram::cli::typed got = vexdram::cli::check_value(text, c["width"].get<unsigned>());
    if (c.contains("value")) {
      EXPECT_EQ(got.value, std::optional<std::uint32_t>(c["value"].get<std::uint32_t>())) << text << ": " << got.reason;
    } else {
      EXPECT_EQ(got.value, std::nullopt) << text;
      EXPECT_EQ(got.reason, c["reason"].get<std::string>()) << text;
    }
  }
}

}  // namespace
