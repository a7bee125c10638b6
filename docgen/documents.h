// The documents gen_docs writes, one file each. The parameter template and the JSON catalogue are
// the core's own renderings (report.h, places.h).
#pragma once

#include <cstdio>

namespace vexdram::docgen {

void write_guide(std::FILE* f);
void write_man_tool(std::FILE* f);
void write_man_imgwelder(std::FILE* f);
void write_man_vexdram(std::FILE* f);

}  // namespace vexdram::docgen
