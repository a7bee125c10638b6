// Writes the user guide, the parameter template, the JSON catalogue and the manual pages from the
// catalogue, the layout tables, the skew maps and the texts each program keeps beside its main,
// so that the documents cannot drift from the programs. What the guide and a manual page both say
// (ways to run, options, parameter-file rules, messages, exit statuses) stands once, in the
// program's own texts, and is rendered for each.
//   gen_docs WHAT PATH [WHAT PATH ...]    (WHAT: one of the names in `documents` below)
#include <cstdio>
#include <string>

#include "docgen/documents.h"
#include "tool/places.h"
#include "tool/report.h"

namespace {

using namespace vexdram;
using namespace vexdram::docgen;

// Every document gen_docs writes, by the name given on its command line.
struct document {
  const char* what;
  void (*write)(std::FILE*);
};
const document documents[] = {
    {"guide", write_guide},
    {"template", write_template},
    {"catalogue", [](std::FILE* f) { std::fputs(catalogue_json().c_str(), f); }},
    {"man-tool", write_man_tool},
    {"man-imgwelder", write_man_imgwelder},
    {"man-vexdram", write_man_vexdram},
};

}  // namespace

int main(int argc, char** argv) {
  auto usage = [] {
    std::fputs("usage: gen_docs WHAT PATH [WHAT PATH ...]\n  WHAT:", stderr);
    for (const document& d : documents) std::fprintf(stderr, " %s", d.what);
    std::fputs("\n", stderr);
    return 2;
  };
  if (argc < 3 || argc % 2 == 0) return usage();
  for (int i = 1; i < argc; i += 2) {
    const document* doc = nullptr;
    for (const document& d : documents)
      if (std::string(argv[i]) == d.what) doc = &d;
    if (!doc) return usage();
    std::FILE* f = std::fopen(argv[i + 1], "w");
    if (!f) {
      std::fprintf(stderr, "gen_docs: cannot write %s\n", argv[i + 1]);
      return 1;
    }
    doc->write(f);
    if (std::fclose(f) != 0) {
      std::fprintf(stderr, "gen_docs: cannot write %s\n", argv[i + 1]);
      return 1;
    }
  }
  return 0;
}
