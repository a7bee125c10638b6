// Every text imgwelder prints. Callers of the tool judge failure by the word "Error" on standard
// output, so each failure text carries it and no success text may.
#pragma once

namespace imgwelder::msg {

// container reader
constexpr const char* short_file = "Error: file is shorter than a container header";
constexpr const char* bad_tag = "Error: not a loader container (bad tag)";
constexpr const char* bad_header_size = "Error: unsupported container header size";
constexpr const char* bad_crc = "Error: container CRC mismatch";
constexpr const char* bad_entry_size = "Error: unsupported entry size in the %s table";
constexpr const char* table_outside = "Error: %s entry table lies outside the file";
constexpr const char* bad_entry = "Error: malformed entry %u in the %s table";
constexpr const char* data_outside = "Error: image data of %s entry %u lies outside the file";
constexpr const char* overlap = "Error: container regions overlap";
constexpr const char* unsafe_name = "Error: unsafe image name in %s entry %u";
constexpr const char* duplicate_name = "Error: duplicate image name %s";

// container writer
constexpr const char* too_many = "Error: more than 255 images in the %s table";
constexpr const char* bad_alignment = "Error: alignment must be a power of two from 1 to 4096";
constexpr const char* too_large = "Error: container would exceed 4 GiB";
constexpr const char* no_loader_image = "Error: loader parameters need a loader image";
constexpr const char* loader_image_short = "Error: first loader image is too short for loader parameters";

// files
constexpr const char* cannot_read = "Error: cannot read %s";
constexpr const char* cannot_write = "Error: cannot write %s";
constexpr const char* cannot_create_dir = "Error: cannot create directory %s";
constexpr const char* out_of_memory = "Error: out of memory";

// command line
constexpr const char* usage =
    "usage: imgwelder unpack -i CONTAINER -o DIR\n"
    "       imgwelder pack -c -T{Q|N}CODE [-v MAJOR.MINOR] [-n] [-d N] [-s N] [-r N] [-a N]\n"
    "                      [-l PARAMFILE] {-1|-2|-3 IMAGE}... -o OUT\n";
constexpr const char* no_command = "Error: no command given";
constexpr const char* unknown_command = "Error: unknown command %s";
constexpr const char* unknown_option = "Error: unknown option %s";
constexpr const char* missing_value = "Error: option %s needs a value";
constexpr const char* repeated_option = "Error: option %s given twice";
constexpr const char* missing_option = "Error: option %s is required";
constexpr const char* bad_chip = "Error: chip code must be -TQ or -TN followed by 4 letters or digits";
constexpr const char* bad_version = "Error: version must be MAJOR.MINOR, each 0 to 255";
constexpr const char* bad_number = "Error: option %s needs a number from 0 to %u";
constexpr const char* bad_loader_param_file = "Error: loader parameter file must hold exactly 16 bytes";
constexpr const char* unsafe_image_file = "Error: image file name not usable in a container: %s";

// success
constexpr const char* packed = "packed %u images, %u bytes";

} // namespace imgwelder::msg
