// Helpers shared by the imgwelder tests: scratch directories, files, and a decoder for
// little-endian struct formats such as "<4sH4BI7s4sBIBBIBBIBBBBB".
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace iwtest {

using bytes = std::vector<std::uint8_t>;
using item = std::variant<std::uint64_t, std::string>;

// Decodes `data` by a format of '<' and counted 's', 'B', 'H', 'I' codes; throws when the
// sizes differ, as the format needs exactly its own length.
std::vector<item> struct_unpack(const std::string& fmt, const bytes& data);
std::uint64_t num(const item& i);
std::string str(const item& i);

// A fresh directory under the system's temporary directory, removed with its content at the end.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Names in a directory (without "." and ".."), sorted; empty when it does not exist.
std::vector<std::string> entries(const std::string& dir);
void write_bytes(const std::string& path, const bytes& data);
bytes read_bytes(const std::string& path);
bool exists(const std::string& path);
bytes pattern(std::size_t size, std::uint8_t seed);

struct run_result {
  std::string output;
  int status;
};
// Runs a command line through the shell and reads its standard output.
run_result run(const std::string& command_line);
// A path as one shell word, whatever it holds (spaces, quotes).
std::string quoted(const std::string& path);

std::vector<std::string> split_lines(const std::string& text);

}  // namespace iwtest
