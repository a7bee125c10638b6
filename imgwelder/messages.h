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
constexpr const char* loader_image_short =
    "Error: first loader image is too short for loader parameters";
constexpr const char* empty_listing_slot =
    "Error: listing slot %s would have no image (471=%u 472=%u loader=%u), but hosts read it as one";

// files
constexpr const char* cannot_read = "Error: cannot read %s";
constexpr const char* cannot_write = "Error: cannot write %s";
constexpr const char* cannot_create_dir = "Error: cannot create directory %s";
constexpr const char* out_of_memory = "Error: out of memory";

// command line
constexpr const char* no_command = "Error: no command given";
constexpr const char* unknown_command = "Error: unknown command %s";
constexpr const char* unknown_option = "Error: unknown option %s";
constexpr const char* missing_value = "Error: option %s needs a value";
constexpr const char* repeated_option = "Error: option %s given twice";
constexpr const char* missing_option = "Error: option %s is required";
constexpr const char* bad_chip =
    "Error: chip code must be -TQ or -TN followed by 4 letters or digits";
constexpr const char* bad_version = "Error: version must be MAJOR.MINOR, each 0 to 255";
constexpr const char* bad_number = "Error: option %s needs a number from 0 to %u";
constexpr const char* bad_loader_param_file =
    "Error: loader parameter file must hold exactly 16 bytes";
constexpr const char* unsafe_image_file = "Error: image file name not usable in a container: %s";

// success
constexpr const char* packed = "packed %u images, %u bytes";

// Every text above with when it appears, for the manual page. A row without a "when" shares the
// one of the next row that has it.
struct message_desc {
  const char* text;
  const char* when;
};

inline constexpr message_desc messages[] = {
    {short_file, "unpack: the file is shorter than the 102-byte header"},
    {bad_tag, "unpack: the file does not begin with \"BOOT\" or \"LDR \""},
    {bad_header_size, "unpack: the header size is not 102"},
    {bad_crc, "unpack: the CRC-32 at the end does not match (containers without the CRC-off flag)"},
    {bad_entry_size, "unpack: an entry table's record size is not 57 (%s: 471, 472 or loader)"},
    {table_outside, "unpack: an entry table reaches past the end of the file"},
    {bad_entry, "unpack: an entry's record size, type or name padding is wrong"},
    {data_outside, "unpack: an image reaches past the end of the file"},
    {overlap, "unpack: header, tables and images overlap"},
    {unsafe_name,
     "unpack: a stored image name breaks the name rule (%s: the table, %u: the entry)"},
    {duplicate_name, "two image names of one container are the same but for letter case"},
    {too_many, "pack: more than 255 images for one table"},
    {bad_alignment, "pack: -a is not a power of two from 1 to 4096"},
    {too_large, "pack: the container would not fit 32-bit offsets"},
    {no_loader_image, "pack: -l without a -3 image"},
    {loader_image_short, "pack: -l with a first -3 image shorter than 220 bytes"},
    {empty_listing_slot,
     "pack: a slot of the unpack listing that hosts read would have no image (%s: the slot; the "
     "images of each table). Hosts need one 471, one 472 and two loader images, or one or more "
     "471, one or more 472 and three or more loader images: four or more when there are more "
     "than two 471 or more than one 472 images"},
    {cannot_read, "a container, image or parameter file cannot be read"},
    {cannot_write, "an image or the container cannot be written (nothing partial is left)"},
    {cannot_create_dir, "unpack: DIR cannot be created"},
    {out_of_memory, "the container does not fit in memory"},
    {no_command, "no command; the usage text follows"},
    {unknown_command, "the first word is not a command"},
    {unknown_option, "an option the command does not have"},
    {missing_value, "an option is the last word but needs a value"},
    {repeated_option, "an option other than -1, -2 and -3 is given twice"},
    {missing_option, "a required option is missing"},
    {bad_chip, "pack: a malformed -c value"},
    {bad_version, "pack: a malformed -v value"},
    {bad_number, "pack: a value of -d, -s, -r or -a that is not a decimal number in range"},
    {bad_loader_param_file, "pack: the -l file does not hold exactly 16 bytes"},
    {unsafe_image_file, "pack: an image file's name breaks the name rule"},
    {packed, "pack: the container is written"},
};

}  // namespace imgwelder::msg
