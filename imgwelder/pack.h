// What `imgwelder pack` builds, as a function: the container laid out from its options, before
// it is written. The program runs it on files; a caller that holds its images in memory gives its
// own reader.
#pragma once

#include "imgwelder/container.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace imgwelder {

using file_reader = std::function<bool(const std::string& path, std::vector<std::uint8_t>& out,
                                       std::string& error)>;

// args: the words after "pack". Reads every image and the -l file through `read`; on success `c`
// is the container to write and `out` the -o path. On failure `error` holds the one line the
// command prints.
bool build_pack(const std::vector<std::string>& args, const file_reader& read, container& c,
                std::string& out, std::string& error);

// The release time a pack records: now, or SOURCE_DATE_EPOCH when it is set (reproducible builds).
std::array<std::uint8_t, 7> release_time_now();

// The options a loader host (the dramforge module) gives `imgwelder pack` to build a container
// again after it edited an image: its "pack_params", typed. The host reads the header as loader
// readers decode its first 47 bytes, so some options are taken as those readers take them, not as
// the container records them; what the container records beside them is kept here too, for a
// caller that would rather keep the container as it was.
struct repack_plan {
  std::string family;  // -c: "TQ" or "TN", the host's chip name's first two letters; else "TQ"
  std::array<char, 4> chip_code{};    // -c: the code, as on the command line
  std::uint8_t major = 0, minor = 0;  // -v
  bool ldr_tag = false;               // -n
  std::uint8_t delay_471 = 0;  // -d when not 0: byte ent::data_delay at the 471 table's offset
  std::uint8_t delay_472 =
      0;  // -s likewise (the first entry's delay; header byte 53 for an empty table)
  std::uint32_t rc4_params =
      0;  // -r: crc_off << 2 | rc4_off_471 << 1 | rc4_flag, each flag byte whole
  std::uint32_t alignment = 0;  // -a as hosts give it: 8 for the chip code 6947, else 0 (not given)
  std::optional<std::array<std::uint8_t, loader_param_length>>
      loader_params;  // -l, when programmed
  // Recorded by the container, not given by hosts:
  char recorded_family = 'Q';
  std::uint32_t recorded_alignment = 1;
};

// Why a host could not derive the plan (it fails to unpack such a container, or reads nonsense).
enum class repack_refusal {
  none,
  chip_code,           // the chip code is not 4 letters or digits
  table_past_end,      // an entry table's offset lies past the end of the file
  first_loader_short,  // the first loader image of a long listing is missing or under 224 bytes
};

// The plan for this container: its bytes, what read_container made of them, and the chip name the
// host passes. On a refusal `plan` is incomplete.
repack_refusal plan_repack(const std::uint8_t* data, std::size_t size, const container& c,
                           const std::string& chip_name, repack_plan& plan);

// The words after "pack" that the plan stands for (without images and -o); with loader parameters,
// `param_file` names the file that holds them.
std::vector<std::string> pack_arguments(const repack_plan& plan, const std::string& param_file);
// The same options in the host's own text ("pack_params"), spacing included.
std::string pack_params_text(const repack_plan& plan, const std::string& param_file);

}  // namespace imgwelder
