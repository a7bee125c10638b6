// The shared tables of rules that the studio runs too: how a parameter file is read strictly,
// which chip a file name gives, and what kind of file a file is.
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "lib/binary.h"
#include "lib/chip.h"
#include "lib/errors.h"
#include "lib/param_file.h"

namespace {

using namespace vexdram;
using nlohmann::json;

json table(const char* name) {
  std::ifstream in(std::string(VEXDRAM_TESTS) + "/" + name);
  EXPECT_TRUE(in) << name;
  return json::parse(in);
}

// A case's text: a text, or a list of pieces (a text, or a text and how many times it repeats).
std::string text_of(const json& t) {
  if (t.is_string()) return t.get<std::string>();
  std::string out;
  for (const json& piece : t) {
    if (piece.is_string()) out += piece.get<std::string>();
    else
      for (int i = 0; i < piece[1].get<int>(); ++i) out += piece[0].get<std::string>();
  }
  return out;
}

// Characters U+0000 to U+00FF (as JSON gives them, in UTF-8) as one byte each.
std::string bytes_of(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    out += static_cast<char>(
        b < 0x80 ? b : ((b & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
  }
  return out;
}

TEST(ParamFileRules, EveryCaseOfTheSharedTable) {
  const json rules = table("param_file_rules.json");
  ASSERT_GT(rules["cases"].size(), 20u);
  for (const json& c : rules["cases"]) {
    const engine::param_file got = engine::read_param_file(text_of(c["text"]));
    json values = json::array(), problems = json::array();
    for (const auto& v : got.values) values.push_back({v.line, base_info_tag[v.n], v.number});
    for (const auto& p : got.problems) problems.push_back({p.line, p.reason});
    EXPECT_EQ(values, c["values"]) << c["name"];
    EXPECT_EQ(problems, c["problems"]) << c["name"];
  }
}

// The bound on a whole file: exactly the limit is read, one byte more is refused, and so is a
// source that never ends, read in bounded memory.
TEST(ParamFileRules, AFileIsBounded) {
  const json rules = table("param_file_rules.json");
  ASSERT_EQ(rules["file_limit"].get<std::size_t>(), engine::param_file_limit);
  char name[] = "/tmp/vexdram-params-XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(engine::param_file_limit)), 0);
  EXPECT_EQ(engine::read_whole(name).size(), engine::param_file_limit);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(engine::param_file_limit + 1)), 0);
  ::close(fd);
  for (const std::string& path : {std::string(name), std::string("/dev/zero")}) {
    try {
      engine::read_whole(path);
      ADD_FAILURE() << path << " was read";
    } catch (const engine::trouble& t) {
      EXPECT_EQ(t.text, rules["file_too_large"].get<std::string>());
      EXPECT_EQ(t.file, path);
    }
  }
  ::unlink(name);
}

TEST(ChipNameRules, EveryCaseOfTheSharedTable) {
  const json rules = table("chip_name_rules.json");
  ASSERT_GT(rules["cases"].size(), 10u);
  for (const json& c : rules["cases"]) {
    const std::string name = c["name"];
    const auto got = engine::chip_in_name(name);
    EXPECT_EQ(got ? json(*got) : json(nullptr), c["chip"]) << name;
    if (got) {
      EXPECT_EQ(engine::resolve_chip("", name), *got);
    }
  }
}

// Each case written to a file: is_loader on its first bytes, looks_like_text on the file.
TEST(FileKindRules, EveryCaseOfTheSharedTable) {
  const json rules = table("file_kind_rules.json");
  ASSERT_GT(rules["cases"].size(), 10u);
  char name[] = "/tmp/vexdram-kind-XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  for (const json& c : rules["cases"]) {
    const std::string bytes = bytes_of(text_of(c["bytes"]));
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    if (c.contains("size")) {
      ASSERT_EQ(::ftruncate(fd, c["size"].get<off_t>()), 0);
    }
    const std::string kind = c["kind"];
    const auto* head = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_EQ(engine::is_loader(head, bytes.size()), kind == "loader") << c["name"];
    EXPECT_EQ(engine::looks_like_text(name), kind == "text") << c["name"];
  }
  ::close(fd);
  ::unlink(name);
}

}  // namespace
