// The engine of vexdram as a library: open a DDR binary or a loader container, read its values
// and where they are stored, check and make edits, write the result safely or get its bytes.
//
//   vexdram::image img = vexdram::image::open("board_tq6583_ddr.bin");
//   img.set(*vexdram::parameter_of("ddr3_freq"), 933);
//   img.write("out/board_tq6583_ddr.bin");
//
// Failures throw vexdram::error (error.h); the answers to questions are values. Link
// vexdram::core (CMake: find_package(vexdram CONFIG REQUIRED)) or `pkg-config --libs vexdram`.
#pragma once

#include <vexdram/catalogue.h>
#include <vexdram/error.h>
#include <vexdram/image.h>
#include <vexdram/params.h>
#include <vexdram/version.h>
