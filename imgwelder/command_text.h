// What the manual page imgwelder(1) says besides the rows of command_line.hpp and the messages:
// the program's own words, written out by gen_docs.
#pragma once

namespace imgwelder::text {

inline constexpr const char* summary = "take loader containers apart and build them";

inline constexpr const char* description =
    "imgwelder packs and unpacks boot-loader containers: a 102-byte header, three "
    "entry tables (471, 472 and loader) of 57-byte records, then the images. It is "
    "the packing tool that the dramforge module runs from resource/tools/. The "
    "container format is told in docs/imgwelder_container_format.md in the install "
    "directory. Everything, failures included, is printed on standard output.";

inline constexpr const char* options_intro =
    "Every option is a word of its own; its value is the next word, even when that "
    "begins with '-'.";

inline constexpr const char* output =
    "unpack prints a listing: \"imgwelder unpack\", a header line, a line counting "
    "the entries of each table, one line per image slot that ends in \"file=\" and "
    "the image's name (a slot without an image says \"(no image)\"), and the number "
    "of images unpacked. A container of one 471, one 472 and two loader images gives "
    "8 lines; every other container at least 10. Hosts read lines 3 to 6 of the "
    "8-line listing, lines 3 to 8 of any other (and 9 when it has more than 10 "
    "lines) as image paths, so pack refuses a container that would leave one of "
    "those slots without an image. An image name is 1 to 40 letters, "
    "digits, '.', '_' or '-', does not begin with '.' or '-', holds no \"..\" and not "
    "the word \"Error\", does not end in '.', and is no name Windows keeps for a device "
    "(CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, with any extension, in any case), on "
    "every system alike.";

inline constexpr const char* source_date_epoch =
    "seconds since 1970 (UTC) to record as the release time of a packed container "
    "instead of the clock's, for reproducible containers.";

}  // namespace imgwelder::text
