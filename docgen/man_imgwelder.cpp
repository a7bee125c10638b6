// The manual page imgwelder(1), from imgwelder's own tables and texts beside its main.
#include <cstdio>
#include <iterator>
#include <string>

#include "docgen/documents.h"
#include "docgen/render.h"
#include "imgwelder/command_line.h"
#include "imgwelder/command_text.h"
#include "imgwelder/messages.h"

namespace vexdram::docgen {

void write_man_imgwelder(std::FILE* f) {
  namespace iw = imgwelder;
  man_header(f, "IMGWELDER", "imgwelder", iw::text::summary);
  std::fputs(".SH SYNOPSIS\n.nf\n", f);
  // the usage text less its "usage: " column
  const std::string usage = iw::usage();
  const std::size_t column = usage.find("imgwelder");
  for (std::size_t p = 0; p < usage.size();) {
    const std::size_t end = usage.find('\n', p);
    std::fprintf(f, "%s\n", roff(usage.substr(p + column, end - p - column)).c_str());
    p = end + 1;
  }
  std::fputs(".fi\n.SH DESCRIPTION\n", f);
  std::fputs(roff(iw::text::description).c_str(), f);
  std::fputs("\n", f);
  for (const iw::command_desc& c : iw::commands) man_tagged(f, bold(c.name), c.meaning);
  std::fputs(".SH OPTIONS\n", f);
  std::fputs(roff(iw::text::options_intro).c_str(), f);
  std::fputs("\n", f);
  const char* command = "";
  for (const iw::option_desc& o : iw::options) {
    if (std::string(command) != o.command) {
      command = o.command;
      std::fprintf(f, ".SS %s\n", command);
    }
    man_tagged(f, bold(o.name) + (o.value ? " " + italic(o.value) : ""),
               std::string(o.meaning) + (o.times == iw::use::required ? " (required)."
                                         : o.times == iw::use::repeatable
                                             ? "; may be given more than once."
                                             : "."));
  }
  std::fputs(".SH OUTPUT\n", f);
  std::fputs(roff(iw::text::output).c_str(), f);
  std::fputs("\n.SH \"EXIT STATUS\"\n", f);
  for (const iw::status_desc& s : iw::exit_statuses)
    man_tagged(f, bold(std::to_string(s.status)), s.meaning);
  std::fputs(".SH DIAGNOSTICS\n", f);
  man_messages(f, iw::msg::messages, std::size(iw::msg::messages));
  std::fputs(".SH ENVIRONMENT\n.TP\n.B SOURCE_DATE_EPOCH\n", f);
  std::fputs(roff(iw::text::source_date_epoch).c_str(), f);
  std::fputs("\n.SH \"SEE ALSO\"\n\\fBvexdram_tool\\fR(1)\n", f);
}

}  // namespace vexdram::docgen
