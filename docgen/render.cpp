#include "docgen/render.h"

#include "tool/run.h"
#include "tool/text_util.h"

namespace vexdram::docgen {

std::string trim_nl(const char* s) { return std::string(trim(s, "\n")); }

std::string wrap(const std::string& text, std::size_t width, const std::string& first,
                 const std::string& rest) {
  std::string out, line = first;
  bool empty = true;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = i;
    for (bool quoted = false; end < text.size() && (quoted || text[end] != ' '); ++end)
      if (text[end] == '"') quoted = !quoted;
    const std::string word = text.substr(i, end - i);
    i = end + 1;
    if (word.empty()) continue;
    if (!empty && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line = rest;
      empty = true;
    }
    line += (empty ? "" : " ") + word;
    empty = false;
  }
  return out + line + "\n";
}

std::string bits(unsigned lo, unsigned width) {
  const std::string w = " (" + std::to_string(width) + (width == 1 ? " bit)" : " bits)");
  if (width == 1) return "bit " + std::to_string(lo) + w;
  return "bits " + std::to_string(lo) + "-" + std::to_string(lo + width - 1) + w;
}

std::string older_names() {
  std::string older;
  for (std::size_t i = 0; i < older_family_names.size(); ++i)
    older += std::string(i == 0                               ? ""
                         : i + 1 == older_family_names.size() ? " or "
                                                              : ", ") +
             older_family_names[i];
  return older;
}

std::string chip_list() {
  std::string chips;
  for (const char* c : chip_names) chips += std::string(chips.empty() ? "" : " ") + c;
  return chips;
}

std::string roff(const std::string& text) {
  std::string out;
  bool line_start = true;
  for (const char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
    line_start = c == '\n';
  }
  return out;
}
std::string bold(const std::string& text) { return "\\fB" + roff(text) + "\\fR"; }
std::string italic(const std::string& text) { return "\\fI" + roff(text) + "\\fR"; }

void man_header(std::FILE* f, const char* title, const char* name, const char* summary) {
  std::fprintf(
      f, ".\\\" Written by gen_docs from the program's own tables; regenerate, do not edit.\n");
  std::fprintf(f, ".TH %s 1 \"\" \"vexdram %s\" \"User Commands\"\n", title, VEXDRAM_VERSION);
  std::fputs(".nh\n.ad l\n", f);  // paths and key names read badly hyphenated
  std::fprintf(f, ".SH NAME\n%s \\- %s\n", name, roff(summary).c_str());
}

void man_tagged(std::FILE* f, const std::string& tag, const std::string& body) {
  std::fprintf(f, ".TP\n%s\n%s\n", tag.c_str(), roff(body).c_str());
}

}  // namespace vexdram::docgen
