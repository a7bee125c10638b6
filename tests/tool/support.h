// Helpers for the tool tests: the block format walked from the core's tables, in-memory runs of
// the core, and runs of the real program.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/support/ddr_builder.h"
#include "platform/platform.h"
#include "tool/run.h"

namespace tt {

using namespace vexdram;
using bytes = std::vector<std::uint8_t>;

// Parameter number of a key; fails the test (and returns 0) for a key not in the catalogue.
std::size_t num(const std::string& key);

// A field of the core's tables, with its key.
struct sfield {
  int word, lo, width;
  std::string key;
  bool decoded = true;
  std::uint32_t max() const { return width == 32 ? 0xFFFFFFFFu : (1u << width) - 1u; }
  std::uint32_t mask() const { return max() << lo; }
};
// The fields of a section for a version (version 0/1: the version-1 record, entry ignored).
std::vector<sfield> fields_of(index_entry e, std::uint32_t version);
// Reserved bits of each word of a section: what no field claims, less what is not carried (0/1:
// none).
std::vector<std::uint32_t> reserved_of(index_entry e, std::uint32_t version);
std::uint32_t room_of(index_entry e, std::uint32_t version);
// The sections that live in the block image.
const std::vector<index_entry>& image_sections();

// tq6951 skew map of a type (0 DDR3, 1 DDR4, 2 LPDDR3): key of each lane, "" for unused lanes.
std::vector<std::string> skew_lanes(int type);
inline const char* skew_type_token(int type) {
  return type == 0 ? "ddr3" : type == 1 ? "ddr4" : "lp3";
}

std::uint32_t word_at(const bytes& b, std::size_t pos);
void set_word(bytes& b, std::size_t pos, std::uint32_t v);

// Messages printed into memory: f while running, done() once at the end.
struct capture {
  platform::memory_stream mem;
  std::FILE* f = mem.file();
  std::string done() { return mem.text().value_or("(what was printed was lost)"); }
};

// Report mode in memory: the messages, the report, and the report parsed back into values.
struct reported {
  std::string out, report;
  base_info info;
};
reported report_of(const bytes& bin, const std::string& chip = "tq6583");
// Modify mode in memory; returns the messages.
std::string modify(bytes& bin, const std::string& text, const std::string& chip = "tq6583",
                   bool older = false);
std::string modify(ddr_file& bin, const std::string& text, const std::string& chip = "tq6583");

// "start tag=0x12345678", then every key: the given value, or blank when not given.
std::string template_with(const std::map<std::string, std::string>& values);
std::vector<std::string> lines(const std::string& text);

// A scratch directory, removed at the end.
struct scratch {
  scratch();
  ~scratch();
  std::string operator/(const std::string& name) const { return dir + "/" + name; }
  std::string dir;
};
void write_file(const std::string& path, const bytes& b);
bytes read_file(const std::string& path);
bool exists(const std::string& path);

struct result {
  std::string out;
  int status;
};
// uid >= 0: runs the tool under that user (when the tests run as root), from a copy in /tmp: the
// build tree may lie where only root can enter (a checkout inside a 0700 directory).
result run_tool(const std::vector<std::string>& args, int uid = -1);
// Why `uid` cannot run that copy, or "" when it can.
std::string tool_unreachable_by(int uid);

}  // namespace tt
