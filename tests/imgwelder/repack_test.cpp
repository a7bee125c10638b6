// The repack plan against the module: for every container of tests/repack_plans.json, the options
// imgwelder's library derives are the text the module's unpack gives (its "pack_params", checked
// against the module itself by tests/module), word for word what the module passes to pack.
#include "imgwelder/container.h"
#include "imgwelder/pack.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <sstream>

using namespace imgwelder;

namespace {

const nlohmann::json plans = [] {
  std::ifstream in(REPACK_PLANS);
  return nlohmann::json::parse(in)["cases"];
}();

// The words of a text split at blanks, as the module splits its option text.
std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

class RepackPlan : public testing::TestWithParam<std::size_t> {};

TEST_P(RepackPlan, IsTheModulesPackParams) {
  const nlohmann::json& row = plans[GetParam()];
  std::vector<std::string> args = words(row["pack"]);
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& img : row["images"]) {
    std::vector<std::uint8_t> data(img[3].get<std::size_t>(), img[2].get<std::uint8_t>());
    if (img.size() > 4)
      for (std::size_t i = 0; i < loader_param_length; ++i)
        data[loader_param_offsets[i / 8] + i % 8] = img[4][i].get<std::uint8_t>();
    files[img[1]] = data;
    args.push_back(img[0]);
    args.push_back(img[1]);
  }
  args.insert(args.end(), {"-o", "c.bin"});
  const file_reader read = [&](const std::string& path, std::vector<std::uint8_t>& out,
                               std::string&) {
    out = files.at(path);
    return true;
  };
  container c;
  std::string out, error;
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(build_pack(args, read, c, out, error) && write_container(c, bytes, error)) << error;
  ASSERT_TRUE(read_container(bytes.data(), bytes.size(), c));

  repack_plan plan;
  ASSERT_EQ(plan_repack(bytes.data(), bytes.size(), c, row["chip"], plan), repack_refusal::none);
  const std::string param_file = "output/loader_param.bin";
  EXPECT_EQ(pack_params_text(plan, param_file), row["pack_params"].get<std::string>());
  EXPECT_EQ(pack_arguments(plan, param_file), words(row["pack_params"]));
  EXPECT_EQ(plan.recorded_alignment, row.value("recorded_alignment", 1u));
}

INSTANTIATE_TEST_SUITE_P(Table, RepackPlan, testing::Range<std::size_t>(0, plans.size()));

// What a host could not unpack, or would read as nonsense, is refused with its reason.
TEST(RepackPlan, RefusesWhatTheModuleCannotRead) {
  container c;
  c.tables[0].push_back({"ddr.bin", 0, std::vector<std::uint8_t>(300, 1)});
  c.tables[1].push_back({"usb.bin", 0, std::vector<std::uint8_t>(300, 2)});
  c.tables[2].push_back({"FlashBoost.bin", 0, std::vector<std::uint8_t>(223, 3)});
  c.tables[2].push_back({"FlashData.bin", 0, std::vector<std::uint8_t>(10, 4)});
  c.tables[2].push_back({"FlashBoot.bin", 0, std::vector<std::uint8_t>(10, 5)});
  std::vector<std::uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(write_container(c, bytes, error)) << error;
  repack_plan plan;
  EXPECT_EQ(plan_repack(bytes.data(), bytes.size(), c, "TQ", plan),
            repack_refusal::first_loader_short);
  c.tables[2].front().data.resize(224);
  EXPECT_EQ(plan_repack(bytes.data(), bytes.size(), c, "TQ", plan), repack_refusal::none);
  c.chip_code[1] = ';';
  EXPECT_EQ(plan_repack(bytes.data(), bytes.size(), c, "TQ", plan), repack_refusal::chip_code);
  c.chip_code[1] = '0';
  bytes[hdr::tables + hdr::table_stride + 4] = 0xF0;  // the 472 table's offset, far past the end
  EXPECT_EQ(plan_repack(bytes.data(), bytes.size(), c, "TQ", plan), repack_refusal::table_past_end);
}

}  // namespace
