// The text report of report mode: "start tag=0x12345678", one key=value line for each parameter
// 1 to 483, "end". How a value is written is decided by its key's text alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tool/catalogue.h"

namespace vexdram {

// Hexadecimal ("0x%x") in the report: the start tag, keys with "_map", "pstore" or "_mask", and
// skew keys other than the skew frequencies. All others: signed 32-bit decimal ("%d"). The one
// answer to "which keys are written in hex", for the report, the documents and the hosts.
bool report_in_hex(std::size_t n);
// Hexadecimal in the merge echo of modify mode: keys with "_skew" (the skew frequencies too).
bool echo_in_hex(std::size_t n);

// A value as the report writes it: "0x" and lower-case hexadecimal for the keys report_in_hex
// names, signed 32-bit decimal for the others. Returns buf.
const char* report_value(std::size_t n, std::uint32_t value, char (&buf)[16]);

// The report's text, built in memory (about 12 KB): no temporary file is needed to hold it.
std::string report_text(const base_info& info_from_bin);
// Writes the report from the start of the file. Returns 0, or -1 when the report could not be
// written whole (a full disk, say).
int gen_info_from_bin(std::FILE* report, const base_info& info_from_bin);

// The blank parameter file: "start tag=0x12345678", every other key with a blank value, "end".
std::string blank_template();
void write_template(std::FILE* out);

}  // namespace vexdram
