// imgwelder's command line as data: the commands, the options each accepts and the exit statuses.
// The parser accepts exactly the options listed here and asks for the required ones; the usage
// text and the manual page are written from the same rows, so none of them can disagree.
#pragma once

#include <cstring>
#include <string>

namespace imgwelder {

struct command_desc {
  const char* name;
  const char* meaning;
};

inline constexpr command_desc commands[] = {
    {"unpack",
     "checks the container CONTAINER whole, writes each of its images to DIR under its "
     "stored name (DIR is created when missing, one level) and prints the listing"},
    {"pack",
     "builds a container from the IMAGE files and writes it to OUT, through a temporary "
     "file in OUT's directory, so a failure leaves OUT as it was"},
    {"help", "prints the usage text (also -h and --help)"},
};

// How often an option may or must be given.
enum class use { optional, required, repeatable };

struct option_desc {
  const char* command;
  const char* name;
  const char* value;  // what follows the option as its value; nullptr for a flag
  use times;          // optional and required options are given at most once
  const char* meaning;
};

inline constexpr option_desc options[] = {
    {"unpack", "-i", "CONTAINER", use::required, "the container to take apart"},
    {"unpack", "-o", "DIR", use::required, "the directory the images are written to"},
    {"pack", "-c", "-T{Q|N}CODE", use::required,
     "the chip: family Q or N and a code of exactly 4 letters or digits"},
    {"pack", "-v", "MAJOR.MINOR", use::optional,
     "the container version, each part 0 to 255 (default 1.0)"},
    {"pack", "-n", nullptr, use::optional, "tags the container \"LDR \" instead of \"BOOT\""},
    {"pack", "-d", "N", use::optional, "the data delay of every 471 entry, 0 to 255 (default 0)"},
    {"pack", "-s", "N", use::optional, "the data delay of every 472 entry, 0 to 255 (default 0)"},
    {"pack", "-r", "N", use::optional,
     "0 to 7: bit 0 the RC4 flag, bit 1 the 471 RC4-off flag, bit 2 the CRC-off flag (recorded, "
     "not applied; without the CRC-off flag the container ends in a CRC-32 of all bytes before it)"},
    {"pack", "-a", "N", use::optional,
     "aligns each image's data to N bytes, a power of two from 1 to 4096 (default 1)"},
    {"pack", "-l", "PARAMFILE", use::optional,
     "a file of exactly 16 bytes: its first 8 bytes replace bytes 124 to 131, its last 8 bytes "
     "bytes 212 to 219 of the first loader image inside the container (the image file is not changed)"},
    {"pack", "-1", "IMAGE", use::repeatable, "adds IMAGE to the 471 table"},
    {"pack", "-2", "IMAGE", use::repeatable, "adds IMAGE to the 472 table"},
    {"pack", "-3", "IMAGE", use::repeatable,
     "adds IMAGE to the loader table; an image's name in the container is the last part of its path"},
    {"pack", "-o", "OUT", use::required, "the container to write"},
};

// The row of an option of a command, or nullptr when the command has no such option.
inline const option_desc* find_option(const char* command, const char* name) {
  for (const option_desc& o : options)
    if (std::strcmp(o.command, command) == 0 && std::strcmp(o.name, name) == 0) return &o;
  return nullptr;
}

// The usage text, from the rows above: each command with its options, an optional one in
// brackets, a repeatable one followed by "...".
inline std::string usage() {
  std::string text;
  for (const command_desc& c : commands) {
    std::string line = std::string(text.empty() ? "usage: " : "       ") + "imgwelder " + c.name;
    const std::size_t indent = line.size();
    for (const option_desc& o : options) {
      if (std::strcmp(o.command, c.name) != 0) continue;
      std::string word = std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
      if (o.times != use::required) word = "[" + word + "]";
      if (o.times == use::repeatable) word += "...";
      if (line.size() + 1 + word.size() > 92) {
        text += line + "\n";
        line = std::string(indent, ' ');
      }
      line += " " + word;
    }
    text += line + "\n";
  }
  return text;
}

struct status_desc {
  int status;
  const char* meaning;
};

inline constexpr status_desc exit_statuses[] = {
    {0, "the command did what was asked (help included); nothing printed contains \"Error\""},
    {1, "a failure: one line starting \"Error:\" says what failed"},
};
inline constexpr int status_ok = 0;
inline constexpr int status_failed = 1;

}  // namespace imgwelder
