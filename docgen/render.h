// What every generated document is made of: wrapped text, bit ranges, name lists, and the roff of
// the manual pages. Each document (one file each beside this one) renders its program's own texts
// with these.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace vexdram::docgen {

// A text without the line feeds at its ends (a message row as the program prints it).
std::string trim_nl(const char* s);

// `text` filled into lines of at most `width` characters; the first starts with `first`, the
// others with `rest`. A quoted text (a message) is never broken.
std::string wrap(const std::string& text, std::size_t width, const std::string& first,
                 const std::string& rest);

// "bit 3 (1 bit)", "bits 0-11 (12 bits)".
std::string bits(unsigned lo, unsigned width);

// The older family's names, as a sentence lists them: "a, b or c".
std::string older_names();

// The supported chip names, separated by spaces.
std::string chip_list();

// Manual pages (man(7) macros). Text as roff reads it literally: backslashes and minus signs
// escaped, and a line that would start with a control character guarded.
std::string roff(const std::string& text);
std::string bold(const std::string& text);
std::string italic(const std::string& text);

void man_header(std::FILE* f, const char* title, const char* name, const char* summary);
void man_tagged(std::FILE* f, const std::string& tag, const std::string& body);

// The messages of a program: one tagged paragraph per "when", tagged with all its texts.
template <typename Row>
void man_messages(std::FILE* f, const Row* rows, std::size_t count) {
  bool grouped = false;
  for (std::size_t i = 0; i < count; ++i) {
    std::fprintf(f, "%s\n%s\n", grouped ? ".TQ" : ".TP", bold(trim_nl(rows[i].text)).c_str());
    grouped = !*rows[i].when;
    if (!grouped) std::fprintf(f, "%s\n", roff(rows[i].when).c_str());
  }
}

}  // namespace vexdram::docgen
