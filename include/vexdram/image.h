// An image: a DDR binary, or the DDR image (471) of a loader container, read and decoded into
// its 484 values, edited in memory, and written back whole. The bytes written are the bytes
// vexdram_tool writes for the same edit (for a container: the container the dramforge module
// packs after its DDR image was edited).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <vexdram/error.h>
#include <vexdram/export.h>
#include <vexdram/params.h>

namespace vexdram {

enum class image_kind : std::uint8_t { ddr, loader };

// Where this image stores a parameter, or why it does not.
struct storage_info {
  enum class state : std::uint8_t {
    stored,
    no_section,     // its section is absent from the block's index
    version_lacks,  // the block's version has no place for it
    section_short,  // its section is too short to hold it
    skew_not_read,  // a tq6951 skew parameter, and the skew section is not read here
    reads_as_zero,  // the version-1 record writes it, but it always reads back as 0
    short_form,     // the version-1 short form (an older-family file name) leaves it alone
  };
  state why;
  unsigned width;       // bits, when stored
  std::string section;  // its section ("DDR3", "skew"; "record" for the version-0/1 record)
  std::string reason;   // "" when stored; else vexdram's words ("not stored in this binary: ...")
  // A tq6951 skew lane that holds a value other than 0, which a 0 would keep: why a 0 cannot be
  // set ("" for every other parameter). The lane is stored and takes any other value that fits.
  std::string zero_refused;
  bool stored() const { return why == state::stored; }
};

// How an image is written to a file. The target's lock "NAME.lock" is taken (a file the kernel
// keeps locked while it is held; errc::busy when another run holds it, errc::not_a_lock when
// what is there is no lock). Every output is written whole to a new file beside its target
// ("NAME.lock.new"), synced, read back, decoded again and checked, then renamed over the target,
// and the directory synced; on any failure the new file is removed and the target is as it was.
struct write_options {
  bool replace = false;     // replace an existing output; in place, also a read-only file
  double wait_seconds = 0;  // wait up to this long for another run's lock (else errc::busy)
};

class VEXDRAM_API image {
 public:
  // Reads and decodes a file. chip: "" for the chip the file's name gives.
  static image open(const std::string& path, const std::string& chip = {});
  // The same from bytes in memory; name stands for the file's path (for the chip, and for the
  // older-family rule of version-1 blocks). Such an image is written to a new file or to bytes.
  static image from_bytes(std::vector<std::uint8_t> bytes, const std::string& name,
                          const std::string& chip = {});
  image(image&&) noexcept;
  image& operator=(image&&) noexcept;
  ~image();

  const std::string& path() const;
  bool from_file() const;
  image_kind kind() const;
  const std::string& chip() const;
  std::uint32_t version() const;
  // Warnings about what was read (a skew section of another sub-version).
  const std::vector<std::string>& notes() const;

  // The value of parameter n (n < parameter_count): as read, or as set since.
  std::uint32_t value(std::size_t n) const;
  // As read from the file.
  std::uint32_t original(std::size_t n) const;
  storage_info where(std::size_t n) const;

  // Why no edit of this image can be written; none when edits can.
  std::optional<refusal> unwritable() const;
  // Why this edit cannot be made (unwritable aside); none when it can. A value equal to the
  // binary's own is always accepted.
  std::optional<refusal> check(std::size_t n, std::uint32_t value) const;
  // Makes the edit in memory; errc::refused (the refusal's words) when unwritable or check say
  // no. A parameter set twice takes the later value.
  void set(std::size_t n, std::uint32_t value);
  struct edit {
    std::size_t n;
    std::uint32_t value;
  };
  // The refusals the values of a parameter file meet here (unwritable aside), in the file's
  // order; the start tag is left out (it is checked as the file is read).
  struct line_refusal {
    std::size_t line, n;
    std::uint32_t value;
    refusal why;
  };
  std::vector<line_refusal> check(const param_file& params) const;
  // Sets every value of the file, or none: errc::refused when the file has problems, the image
  // is unwritable or check finds any refusal.
  void apply(const param_file& params);
  // The edits made, in order, each parameter once.
  const std::vector<edit>& edits() const;
  // True when an edit gives some parameter a value other than the one read.
  bool changed() const;

  // The report of the values, byte for byte as vexdram_tool's report mode writes it.
  std::string report() const;
  // The file's bytes with the edits made, checked as a written file is.
  std::vector<std::uint8_t> to_bytes() const;
  // Writes the edited image to path, or in place when path is "": in place, nothing is written
  // when no value changes, and the file must still be the one read (errc::changed).
  void write(const std::string& path, const write_options& options = {}) const;

 private:
  struct impl;
  explicit image(std::unique_ptr<impl> p);
  std::unique_ptr<impl> p_;
  friend class writer;
};

// Several images written all or nothing: every output is checked, written to its new file,
// synced and checked before the first is renamed over its target. A writer holds the locks it
// takes until it is destroyed or its outputs are renamed.
class VEXDRAM_API writer {
 public:
  writer();
  ~writer();  // removes every lock (new file) not renamed
  writer(const writer&) = delete;
  writer& operator=(const writer&) = delete;

  // The target of writing the file `input` to `output` ("" in place), checked: only a regular
  // file is ever replaced; in place, a read-only file only with replace; an existing output only
  // with replace; the output may not be the input itself. A symbolic link leads to its target.
  static std::string target_of(const std::string& input, const std::string& output, bool replace);
  // Takes target's lock, waiting up to wait_seconds while another run holds it;
  // taken before the input is read, the lock holds from the read to the rename.
  void lock(const std::string& target, double wait_seconds = 0);
  // Adds the image's output, written now into the target's new file (its lock taken now unless
  // held). In place, the target keeps its owner and must still be the file read at the rename;
  // a new file keeps the input's mode. in_place with no value changed adds nothing.
  void add(const image& img, const std::string& target, bool in_place, bool replace);
  // Syncs and checks every output, then renames each over its target and syncs the directories.
  void commit();

 private:
  struct impl;
  std::unique_ptr<impl> p_;
};

}  // namespace vexdram
