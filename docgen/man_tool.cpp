// The manual page vexdram_tool(1), from the tool's own texts (tool/command_text.h).
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "docgen/documents.h"
#include "docgen/render.h"
#include "tool/command_text.h"

namespace vexdram::docgen {

void write_man_tool(std::FILE* f) {
  man_header(f, "VEXDRAM_TOOL", "vexdram_tool",
             "report and edit the parameter block of a DDR binary");
  std::fputs(".SH SYNOPSIS\n", f);
  for (const text::invocation& i : text::invocations) {
    std::fputs(&i == text::invocations ? "\\fBvexdram_tool\\fR" : ".br\n\\fBvexdram_tool\\fR", f);
    std::string args = i.args;
    for (std::size_t p = 0; p < args.size();) {
      const std::size_t end = std::min(args.find(' ', p), args.size());
      const std::string word = args.substr(p, end - p);
      std::fprintf(f, " %s", (word[0] == '-' ? bold(word) : italic(word)).c_str());
      p = end + 1;
    }
    std::fputs("\n", f);
  }
  std::fputs(".SH DESCRIPTION\n", f);
  std::fputs(roff(text::summary).c_str(), f);
  std::fputs("\n.PP\n", f);
  std::fputs(roff(text::description).c_str(), f);
  std::fputs("\n.PP\n", f);
  std::fputs(roff("CHIP is one of these names, exactly as written: " + chip_list() + ". " +
                  text::chip_role_head + older_names() + text::chip_role_tail)
                 .c_str(),
             f);
  std::fputs("\n.SH OPTIONS\n", f);
  for (const text::option_text& o : text::options)
    man_tagged(f, bold(o.name) + (o.value ? " " + italic(o.value) : ""), o.meaning);
  std::fputs(".SH \"PARAMETER FILE\"\n", f);
  std::fprintf(f, "%s\n", roff(text::param_file_intro).c_str());
  for (const char* rule : text::param_rules)
    std::fprintf(f, ".IP \\(bu 2\n%s\n", roff(rule).c_str());
  std::fprintf(f, ".PP\n%s\n", roff(text::report_as_param_file).c_str());
  std::fprintf(f, ".SH REPORT\n%s\n", roff(text::report_format).c_str());
  std::fputs(".SH \"EXIT STATUS\"\nEverything is printed on standard output.\n", f);
  for (const text::status_text& s : text::statuses)
    man_tagged(f, bold(std::to_string(s.status)), s.when);
  std::fputs(".SH DIAGNOSTICS\n", f);
  man_messages(f, text::messages, std::size(text::messages));
  std::fputs(".SH EXAMPLES\n.nf\n", f);
  std::fputs(roff(text::examples).c_str(), f);
  std::fputs(".fi\n.SH \"SEE ALSO\"\n\\fBimgwelder\\fR(1); ", f);
  std::fputs(roff("the user guide docs/vexdram_tool_user_guide.txt and the parameter template "
                  "examples/vexdram_param.txt in the install directory (/opt/vexdram with the "
                  "package), with a reference of every parameter's bits.\n")
                 .c_str(),
             f);
}

}  // namespace vexdram::docgen
