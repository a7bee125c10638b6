// The manual page vexdram(1), from the rows vexdram's help is made of (cli/command_text.h).
#include <cstdio>
#include <string>

#include "cli/command_text.h"
#include "docgen/documents.h"
#include "docgen/render.h"

namespace vexdram::docgen {

void write_man_vexdram(std::FILE* f) {
  namespace t = vexdram::cli::text;
  man_header(f, "VEXDRAM", "vexdram", t::summary);
  std::fputs(".SH SYNOPSIS\n.nf\n", f);
  for (const t::command& c : t::commands)
    std::fprintf(f, "\\fBvexdram %s\\fR %s\n", c.name, roff(c.synopsis).c_str());
  std::fputs("\\fBvexdram\\fR [\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR]\n.fi\n", f);
  std::fprintf(f, ".SH DESCRIPTION\n%s\n", roff(t::description).c_str());
  std::fprintf(f, ".PP\n%s\n", roff(t::file_head + older_names() + t::file_tail).c_str());
  std::fputs(".SH COMMANDS\n", f);
  for (const t::command& c : t::commands) man_tagged(f, bold(c.name), c.details);
  std::fputs(".SH OPTIONS\n", f);
  for (const t::option& o : t::options) {
    std::string names = o.names;
    for (std::size_t comma = names.find(','); comma != std::string::npos;
         comma = names.find(',', comma + 2))
      names.replace(comma, 1, ", ");
    man_tagged(f, bold(names) + (o.value ? " " + italic(o.value) : ""),
               std::string(o.help) + " (" + o.commands + ").");
  }
  man_tagged(f, bold("--help"), t::help_option);
  man_tagged(f, bold("--version"), t::version_option);
  std::fprintf(f, ".SH VALUES\n%s\n", roff(t::value_rule).c_str());
  std::fprintf(f, ".SH WRITING\n%s\n", roff(t::writing).c_str());
  std::fputs(".SH \"EXIT STATUS\"\n", f);
  for (const t::status& st : t::statuses) man_tagged(f, bold(std::to_string(st.code)), st.meaning);
  std::fputs(".SH EXAMPLES\n.nf\n", f);
  for (const char* e : t::examples) std::fprintf(f, "%s\n", roff(e).c_str());
  std::fputs(".fi\n.SH ENVIRONMENT\n.TP\n.B SOURCE_DATE_EPOCH\n", f);
  std::fputs(roff(t::source_date_epoch).c_str(), f);
  std::fputs("\n.SH \"SEE ALSO\"\n\\fBvexdram_tool\\fR(1), \\fBimgwelder\\fR(1)\n", f);
}

}  // namespace vexdram::docgen
