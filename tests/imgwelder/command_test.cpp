// The program as its caller drives it: command lines run through the shell from a working
// directory holding "output", standard output read whole.
#include "tests/imgwelder/support.h"

#include "imgwelder/command_line.h"
#include "imgwelder/messages.h"
#include "imgwelder/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using iwtest::bytes;

namespace {

// one shell word, so a build directory whose path holds a space still runs it
const std::string program = iwtest::quoted(IMGWELDER_PROGRAM);

class Command : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(iwtest::run("mkdir " + iwtest::quoted(dir / "output")).status, 0);
    std::uint8_t seed = 1;
    for (const char* name : {"a.bin", "b.bin", "FlashBoost.bin", "FlashData.bin", "FlashBoot.bin"})
      images[name] = iwtest::pattern(300 + 50 * seed, seed), ++seed;
    for (const auto& [name, data] : images) iwtest::write_bytes(dir / "output/" + name, data);
  }

  iwtest::run_result in_dir(const std::string& args) {
    return iwtest::run("cd " + iwtest::quoted(dir.path()) + " && " + program + " " + args);
  }

  // The pack call of the loader packing step, images from "output".
  iwtest::run_result pack(const std::string& options, const std::string& images_args,
                          const std::string& out) {
    return in_dir("pack " + options + images_args + " -o \"" + out + "\"");
  }

  iwtest::run_result unpack(const std::string& container) {
    return in_dir("unpack -i \"" + container + "\" -o output");
  }

  iwtest::scratch_dir dir;
  std::map<std::string, bytes> images;
};

const std::string four_images =
    " -1 output/a.bin -2 output/b.bin -3 output/FlashData.bin -3 output/FlashBoot.bin";

std::string file_at(const std::vector<std::string>& lines, std::size_t i) {
  const auto p = lines.at(i).find("file=");
  return p == std::string::npos ? "" : lines[i].substr(p + 5);
}

TEST_F(Command, PackOptionsReachTheHeaderAndUnpackGivesTheImagesBack) {
  struct row {
    std::string options, tag, version, chip;
    unsigned delay471, delay472, rc4_params;
  };
  const row rows[] = {
      {"-c -TQ1234 -v 2.1 -r 0", "BOOT", "2.1", "1234", 0, 0, 0},
      {"-c -TN6947 -v 1.16 -n  -d 5 -s 7 -r 5 -a 8 ", "LDR ", "1.16", "6947", 5, 7, 5},
      {"-c -TQabC9 -v 0.0 -d 255 -r 2", "BOOT", "0.0", "abC9", 255, 0, 2},
      {"-c -TQ0001 -v 255.255 -s 1 -r 7", "BOOT", "255.255", "0001", 0, 1, 7},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.options);
    const auto packed = pack(r.options, four_images, "fw/new.bin");
    ASSERT_EQ(iwtest::run("mkdir -p " + iwtest::quoted(dir / "fw")).status, 0);
    const auto packed_again = pack(r.options, four_images, "fw/new.bin");
    EXPECT_EQ(packed_again.status, 0) << packed_again.output;
    EXPECT_EQ(packed_again.output.find("Error"), std::string::npos);

    const bytes file = iwtest::read_bytes(dir / "fw/new.bin");
    const auto h =
        iwtest::struct_unpack("<4sH4BI7s4sBIBBIBBIBBBBB", bytes(file.begin(), file.begin() + 47));
    EXPECT_EQ(iwtest::str(h[0]), r.tag);
    EXPECT_EQ(iwtest::num(h[1]) & 0xff, 0x66u);
    EXPECT_EQ(std::to_string(iwtest::num(h[3])) + "." + std::to_string(iwtest::num(h[2])),
              r.version);
    const std::string chip = iwtest::str(h[8]);
    EXPECT_EQ(std::string({chip[3], chip[2], chip[1], chip[0]}), r.chip);
    EXPECT_EQ(iwtest::num(h[21]) << 2 | iwtest::num(h[20]) << 1 | iwtest::num(h[19]), r.rc4_params);
    EXPECT_EQ(file[iwtest::num(h[10]) + 53], r.delay471);
    EXPECT_EQ(file[iwtest::num(h[13]) + 53], r.delay472);

    for (const auto& [name, data] : images) std::remove((dir / "output/" + name).c_str());
    const auto unpacked = unpack("fw/new.bin");
    EXPECT_EQ(unpacked.status, 0);
    EXPECT_EQ(unpacked.output.find("Error"), std::string::npos) << unpacked.output;
    const auto lines = iwtest::split_lines(unpacked.output);
    ASSERT_EQ(lines.size(), 8u) << unpacked.output;
    EXPECT_EQ(file_at(lines, 3), "a.bin");
    EXPECT_EQ(file_at(lines, 4), "b.bin");
    EXPECT_EQ(file_at(lines, 5), "FlashData.bin");
    EXPECT_EQ(file_at(lines, 6), "FlashBoot.bin");
    for (const char* name : {"a.bin", "b.bin", "FlashData.bin", "FlashBoot.bin"})
      EXPECT_EQ(iwtest::read_bytes(dir / "output/" + name), images[name]) << name;
    iwtest::write_bytes(dir / "output/FlashBoost.bin", images["FlashBoost.bin"]);
  }
}

TEST_F(Command, BoostLoaderGivesTheLongListing) {
  ASSERT_EQ(pack("-c -TQ1234 -v 1.0",
                 " -1 output/a.bin -2 output/b.bin -3 output/FlashBoost.bin -3 output/FlashData.bin"
                 " -3 output/FlashBoot.bin",
                 "new.bin")
                .status,
            0);
  const auto unpacked = unpack("new.bin");
  EXPECT_EQ(unpacked.output.find("Error"), std::string::npos) << unpacked.output;
  const auto lines = iwtest::split_lines(unpacked.output);
  ASSERT_EQ(lines.size(), 10u) << unpacked.output;
  const char* files[] = {"a.bin",          "a.bin",         "b.bin",
                         "FlashBoost.bin", "FlashData.bin", "FlashBoot.bin"};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(file_at(lines, 3 + i), files[i]) << i;
}

TEST_F(Command, LoaderParameterFileRoundTrips) {
  // the parameters as the unpacking step reads them from the first loader image
  const bytes& first = images["FlashBoost.bin"];
  bytes params(16);
  std::copy_n(first.begin() + 124, 8, params.begin());
  std::copy_n(first.begin() + 212, 8, params.begin() + 8);
  iwtest::write_bytes(dir / "output/loader_param.bin", params);
  const std::string loaders =
      " -1 output/a.bin -2 output/b.bin -3 output/FlashBoost.bin -3 output/FlashData.bin";
  ASSERT_EQ(pack("-c -TQ1234 -v 1.0 -l output/loader_param.bin", loaders, "same.bin").status, 0);
  ASSERT_EQ(unpack("same.bin").status, 0);
  EXPECT_EQ(iwtest::read_bytes(dir / "output/FlashBoost.bin"), first);

  const bytes fresh = iwtest::pattern(16, 99);
  iwtest::write_bytes(dir / "output/loader_param.bin", fresh);
  ASSERT_EQ(pack("-c -TQ1234 -v 1.0 -l output/loader_param.bin", loaders, "changed.bin").status, 0);
  iwtest::scratch_dir out;
  ASSERT_EQ(in_dir("unpack -i changed.bin -o " + iwtest::quoted(out.path())).status, 0);
  bytes expected = first;
  std::copy_n(fresh.begin(), 8, expected.begin() + 124);
  std::copy_n(fresh.begin() + 8, 8, expected.begin() + 212);
  EXPECT_EQ(iwtest::read_bytes(out / "FlashBoost.bin"), expected);
  EXPECT_EQ(iwtest::read_bytes(out / "FlashData.bin"), images["FlashData.bin"]);
}

TEST_F(Command, PackFailuresSayErrorAndLeaveTheOutputAlone) {
  iwtest::write_bytes(dir / "output/Error.bin", {1, 2, 3});
  iwtest::write_bytes(dir / "output/fifteen.bin", bytes(15, 0));
  iwtest::write_bytes(dir / "output/sixteen.bin", bytes(16, 0));
  iwtest::write_bytes(dir / "output/short.bin", bytes(219, 0));  // ends before byte 220
  iwtest::write_bytes(dir / "old.bin", {'o', 'l', 'd'});
  const std::pair<std::string, std::string> rows[] = {
      // options, images
      {"-c -TQ1234 -v 1.0", " -1 output/missing.bin"},
      {"-c -TQ1234 -v 1.0 -x", four_images},
      {"-c -TX1234", four_images},
      {"-c -TQ123", four_images},
      {"-c -TQ12.4", four_images},
      {"-v 1.0", four_images},
      {"-c -TQ1234 -v 2", four_images},
      {"-c -TQ1234 -v 2.256", four_images},
      {"-c -TQ1234 -v 1.0 -v 1.0", four_images},
      {"-c -TQ1234 -d 256", four_images},
      {"-c -TQ1234 -s -1", four_images},
      {"-c -TQ1234 -r 8", four_images},
      {"-c -TQ1234 -a 3", four_images},
      {"-c -TQ1234 -a 0", four_images},
      {"-c -TQ1234 -l output/fifteen.bin", four_images},
      {"-c -TQ1234 -l output/sixteen.bin", " -1 output/a.bin -2 output/b.bin"},
      {"-c -TQ1234 -l output/sixteen.bin", " -3 output/short.bin -3 output/FlashData.bin"},
      {"-c -TQ1234 -l output/missing.bin", four_images},
      {"-c -TQ1234", " -1 output/Error.bin"},
      {"-c -TQ1234", " -1 output/a.bin -3 output/a.bin"},
      {"-c -TQ1234", four_images + " -3"},
  };
  const auto before = iwtest::entries(dir.path());
  for (const auto& [options, images_args] : rows) {
    SCOPED_TRACE(options + images_args);
    const auto r = pack(options, images_args, "old.bin");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("Error"), std::string::npos) << r.output;
    EXPECT_EQ(iwtest::read_bytes(dir / "old.bin"), (bytes{'o', 'l', 'd'}));
    EXPECT_EQ(iwtest::entries(dir.path()), before);
  }
  const auto r = pack("-c -TQ1234", four_images, "missing/new.bin");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("Error"), std::string::npos);
  EXPECT_EQ(iwtest::entries(dir.path()), before);
}

// A pack killed while it writes (here by the file size limit) leaves the old container whole:
// the new one is written beside it and renamed into place only once complete.
TEST_F(Command, InterruptedPackLeavesTheOldContainer) {
  iwtest::write_bytes(dir / "old.bin", {'o', 'l', 'd'});
  const auto r = iwtest::run("cd " + iwtest::quoted(dir.path()) + " && ulimit -f 1 && exec " +
                             program + " pack -c -TQ1234" + four_images + " -o \"old.bin\"");
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(iwtest::read_bytes(dir / "old.bin"), (bytes{'o', 'l', 'd'}));
}

// Ctrl+C (SIGINT, sent here by strace as a rename returns) between the temporary files and their
// renames: the temporaries go with the program, which ends as the interrupt ends it.
TEST_F(Command, InterruptedRunLeavesNoTemporary) {
  if (iwtest::run("command -v strace").status != 0) GTEST_SKIP() << "needs strace";
  ASSERT_EQ(pack("-c -TQ1234", four_images, "good.bin").status, 0);
  for (const char* when : {"1", "2"}) {
    SCOPED_TRACE(when);
    const auto r =
        iwtest::run("cd " + iwtest::quoted(dir.path()) +
                    " && strace -f -o /dev/null -e inject=rename,renameat2:signal=INT:when=" + when + " " +
                    program + " unpack -i good.bin -o unpacked");
    EXPECT_EQ(r.status, 128 + 2) << r.output;
    for (const std::string& name : iwtest::entries(dir / "unpacked"))
      EXPECT_EQ(name.find(".imgwelder-"), std::string::npos) << name;
    ASSERT_EQ(iwtest::run("rm -r " + iwtest::quoted(dir / "unpacked")).status, 0);
  }
}

TEST_F(Command, UnpackFailuresSayError) {
  iwtest::write_bytes(dir / "junk.bin", iwtest::pattern(500, 7));
  ASSERT_EQ(pack("-c -TQ1234", four_images, "good.bin").status, 0);
  const auto before = iwtest::entries(dir / "output");
  const std::string rows[] = {
      "",
      "frobnicate",
      "unpack -i \"missing.bin\" -o output",
      "unpack -i \"junk.bin\" -o output",
      "unpack -i \"good.bin\"",
      "unpack -o output",
      "unpack -i \"good.bin\" -o output -z",
      "unpack -i \"good.bin\" -o good.bin",
  };
  for (const std::string& args : rows) {
    SCOPED_TRACE(args);
    const auto r = in_dir(args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("Error"), std::string::npos) << r.output;
    EXPECT_EQ(iwtest::entries(dir / "output"), before);
  }
}

// The option table the manual page is written from is the one the program parses with: every row
// is known to its command and takes a value exactly when the row names one.
TEST_F(Command, EveryDocumentedOptionIsParsedAsDocumented) {
  for (const imgwelder::option_desc& o : imgwelder::options) {
    SCOPED_TRACE(std::string(o.command) + " " + o.name);
    const std::string out = in_dir(std::string(o.command) + " " + o.name).output;
    EXPECT_EQ(out.find("unknown option"), std::string::npos) << out;
    const std::string needs_value = imgwelder::format(imgwelder::msg::missing_value, o.name);
    EXPECT_EQ(out.find(needs_value) != std::string::npos, o.value != nullptr) << out;
  }
}

TEST_F(Command, SourceDateEpochMakesPackingReproducible) {
  for (const char* out : {"one.bin", "two.bin"})
    ASSERT_EQ(iwtest::run("cd " + iwtest::quoted(dir.path()) + " && SOURCE_DATE_EPOCH=86400 " +
                          program + " pack -c -TQ1234" + four_images + " -o " + out)
                  .status,
              0);
  const bytes one = iwtest::read_bytes(dir / "one.bin");
  EXPECT_EQ(one, iwtest::read_bytes(dir / "two.bin"));
  EXPECT_EQ(bytes(one.begin() + 14, one.begin() + 21), (bytes{0xb2, 0x07, 1, 2, 0, 0, 0}));
}

}  // namespace
