#include "fuzz/harness.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "lib/binary.h"
#include "lib/param_file.h"
#include "imgwelder/container.h"
#include "imgwelder/files.h"
#include "imgwelder/pack.h"
#include "tool/run.h"

namespace vexdram::fuzz {
namespace {

namespace fs = std::filesystem;

// Streams in memory: a run prints and writes its report through stdio, and /dev/null or a
// temporary file would cost system calls on every run.
ssize_t discard(void*, const char*, std::size_t n) { return static_cast<ssize_t>(n); }

std::FILE* sink() {
  static std::FILE* const f = ::fopencookie(nullptr, "w", {nullptr, discard, nullptr, nullptr});
  return f;
}

// A file of bytes in a string that can be written and repositioned, like the report file.
struct string_file {
  std::string data;
  std::size_t pos = 0;
  static ssize_t write(void* self, const char* buf, std::size_t n) {
    auto& f = *static_cast<string_file*>(self);
    if (f.data.size() < f.pos + n) f.data.resize(f.pos + n);
    f.data.replace(f.pos, n, buf, n);
    f.pos += n;
    return static_cast<ssize_t>(n);
  }
  static int seek(void* self, off64_t* off, int whence) {
    auto& f = *static_cast<string_file*>(self);
    const off64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? static_cast<off64_t>(f.pos)
                                              : static_cast<off64_t>(f.data.size());
    if (base + *off < 0) return -1;
    f.pos = static_cast<std::size_t>(*off = base + *off);
    return 0;
  }
};

std::string at(const char* what, std::uint64_t pos) {
  return std::string(what) + " at byte " + std::to_string(pos);
}

struct span {
  std::uint64_t begin;
  std::uint64_t end;
};

// Forwards to memory_ddr_file and remembers every byte range a write reached.
class watched_file final : public ddr_file {
 public:
  explicit watched_file(std::vector<std::uint8_t>& bytes) : mem_(bytes), size_(bytes.size()) {}
  std::size_t read_at(std::uint64_t pos, void* buf, std::size_t n) override {
    return mem_.read_at(pos, buf, n);
  }
  std::size_t write_at(std::uint64_t pos, const void* buf, std::size_t n) override {
    const std::uint64_t end = std::min<std::uint64_t>(pos + n, size_);
    if (pos < end) writes.push_back({pos, end});
    return mem_.write_at(pos, buf, n);
  }
  std::uint64_t size() const override { return mem_.size(); }
  bool sync() override { return true; }
  std::size_t write_calls() const { return mem_.writes(); }

  std::vector<span> writes;

 private:
  memory_ddr_file mem_;
  std::uint64_t size_;
};

// The block's sections as index entry number, record words (versions 2-4, version 5) and whether
// a size above 226 makes the entry absent. Written out here again, on purpose, rather than taken
// from the tool's tables.
struct section_room {
  std::size_t entry;
  std::uint64_t room_v2;
  std::uint64_t room_v5;
  bool bounded;
};
constexpr section_room rooms[] = {
    {1, 8, 8, false},    // global
    {2, 9, 11, false},   // ddr2
    {3, 9, 11, false},   // ddr3
    {4, 9, 11, false},   // ddr4
    {6, 9, 11, false},   // lp2
    {7, 9, 11, false},   // lp3
    {8, 13, 13, false},  // lp4
    {9, 13, 13, false},  // lp5
    {11, 8, 8, false},   // dq map
    {12, 13, 13, true},  // lp4x
    {13, 8, 8, true},    // hash
};
constexpr std::size_t skew_entry = 10;
constexpr std::uint64_t skew_room = 28;

// What a modify run may write: the present sections' clamped spans (versions 2-5), the
// version-1 record (versions 0 and 1), nothing otherwise. Cut at the end of the file.
std::vector<span> allowed_spans(const std::vector<std::uint8_t>& bin, std::uint32_t tag,
                                bool tq6951, bool older_family) {
  std::vector<span> out;
  const std::uint64_t size = bin.size();
  std::uint64_t p = 0;
  while (p + 4 <= size && load_le32(bin.data() + p) != tag) p += 4;
  if (p + 8 > size) return out;
  const std::uint32_t version = load_le32(bin.data() + p + 4);
  auto add = [&](std::uint64_t b, std::uint64_t e) {
    e = std::min(e, size);
    if (b < e) out.push_back({b, e});
  };
  if (version <= 1) {
    add(p + (older_family ? 24 : 12), p + 52);
    return out;
  }
  if (version > 5 || p + 8 + 28 > size) return out;
  const std::uint8_t* index = bin.data() + p + 8;
  for (const section_room& r : rooms) {
    const std::uint64_t offset = index[2 * r.entry], words = index[2 * r.entry + 1];
    if (offset == 0 || (r.bounded && words > 226)) continue;
    add(p + 4 * offset, p + 4 * offset + 4 * std::min(words, version == 5 ? r.room_v5 : r.room_v2));
  }
  const std::uint64_t skew_offset = index[2 * skew_entry], skew_words = index[2 * skew_entry + 1];
  if (tq6951 && skew_offset != 0)
    add(p + 4 * skew_offset, p + 4 * skew_offset + 4 * std::min(skew_words, skew_room));
  return out;
}

bool inside(const std::vector<span>& spans, std::uint64_t b, std::uint64_t e) {
  return std::any_of(spans.begin(), spans.end(),
                     [&](const span& s) { return s.begin <= b && e <= s.end; });
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::vector<std::uint8_t> out;
  std::string error;
  imgwelder::read_file(path, out, error);
  return out;
}

std::string compare(const imgwelder::container& a, const imgwelder::container& b) {
  if (a.ldr_tag != b.ldr_tag || a.version != b.version || a.merge_version != b.merge_version ||
      a.release_time != b.release_time || a.chip_code != b.chip_code ||
      a.chip_family != b.chip_family || a.sign_flag != b.sign_flag || a.rc4_flag != b.rc4_flag ||
      a.rc4_off_471 != b.rc4_off_471 || a.crc_off != b.crc_off || a.alignment != b.alignment)
    return "header fields differ";
  for (std::size_t t = 0; t < imgwelder::table_count; ++t) {
    if (a.tables[t].size() != b.tables[t].size()) return "table sizes differ";
    for (std::size_t i = 0; i < a.tables[t].size(); ++i) {
      const imgwelder::image &x = a.tables[t][i], &y = b.tables[t][i];
      if (x.name != y.name || x.delay != y.delay || x.data != y.data)
        return "image " + std::to_string(t) + "/" + std::to_string(i) + " differs";
    }
  }
  return {};
}

// The report of a binary, as run_report writes it.
std::string report_of(const run_context& like, std::vector<std::uint8_t>& bytes) {
  static string_file report;
  static std::FILE* const file =
      ::fopencookie(&report, "w", {nullptr, string_file::write, string_file::seek, nullptr});
  if (!file) return {};
  report.data.clear();
  report.pos = 0;
  run_context ctx;
  ctx.out = sink();
  ctx.chip_info = like.chip_info;
  ctx.tq637y_en = like.tq637y_en;
  memory_ddr_file bin(bytes);
  run_report(ctx, bin, file);
  std::fflush(file);
  return report.data;
}

void merge(const run_context& like, const std::string& text, std::vector<std::uint8_t>& bytes) {
  run_context ctx;
  ctx.out = sink();
  ctx.chip_info = like.chip_info;
  ctx.tq637y_en = like.tq637y_en;
  memory_ddr_file bin(bytes);
  memory_text_source src(text.data(), text.size());
  run_modify(ctx, src, bin);
}

// The first merge may drop bits that are not carried; after it, a binary's own report merged
// back must change nothing. Unless the first merge rewrote the version or the index itself (a
// section placed over them), which makes a different block of the second run.
std::string check_round_trip(const run_context& like, const std::vector<std::uint8_t>& original) {
  std::vector<std::uint8_t> once = original;
  const std::string report = report_of(like, once);
  if (report.empty()) return {};
  merge(like, report, once);
  if (once.size() != original.size()) return "merging its report changed the binary's length";
  std::uint64_t tag = 0;
  while (tag + 4 <= once.size() && load_le32(once.data() + tag) != start_tag_value) tag += 4;
  const std::uint64_t head_end = std::min<std::uint64_t>(tag + 36, once.size());
  if (!std::equal(once.begin() + tag, once.begin() + head_end, original.begin() + tag)) return {};
  std::vector<std::uint8_t> twice = once;
  merge(like, report_of(like, twice), twice);
  for (std::size_t i = 0; i < twice.size(); ++i)
    if (twice[i] != once[i]) return at("merging its report a second time changed the binary", i);
  return {};
}

}  // namespace

std::uint8_t chip_flags(std::size_t chip) { return static_cast<std::uint8_t>((chip & 3) << 2); }

std::vector<std::uint8_t> tool_input(std::uint8_t flags, const std::string& text,
                                     const std::vector<std::uint8_t>& bin) {
  const std::size_t n = std::min<std::size_t>(text.size(), 0xFFFF);
  std::vector<std::uint8_t> out(3 + n + bin.size());
  out[0] = flags;
  out[1] = static_cast<std::uint8_t>(n);
  out[2] = static_cast<std::uint8_t>(n >> 8);
  std::copy_n(text.begin(), n, out.begin() + 3);
  std::copy(bin.begin(), bin.end(), out.begin() + 3 + static_cast<std::ptrdiff_t>(n));
  return out;
}

std::string check_tool_run(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return {};
  const std::uint8_t flags = data[0];
  const std::size_t text_size = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
  const char* text = reinterpret_cast<const char*>(data + 3);
  const std::vector<std::uint8_t> before(data + 3 + text_size, data + size);
  std::vector<std::uint8_t> bytes = before;

  run_context ctx;
  ctx.out = sink();
  ctx.chip_info = tool_chips[(flags >> 2) & 3];
  ctx.tq637y_en = (flags & flag_older_family) != 0;
  const bool modify = (flags & flag_modify) != 0;
  watched_file bin(bytes);
  if (modify) {
    memory_text_source src(text, text_size);
    run_modify(ctx, src, bin);
  } else {
    run_report(ctx, bin, sink());
  }

  if (bytes.size() != before.size()) return "the binary's length changed";
  if (!modify) {
    if (bin.write_calls() != 0) return "report mode wrote to the binary";
    if (bytes != before) return "report mode changed the binary";
    return (flags & flag_round_trip) ? check_round_trip(ctx, before) : std::string{};
  }

  // A run that wrote nothing broke nothing; most mutated inputs end before the writing.
  if (bin.write_calls() == 0 && bytes == before) return {};
  // The start tag the run looked for, read from the text the way the run reads it.
  base_info given;
  state_table states{};
  memory_text_source again(text, text_size);
  read_param_text(again, given, states, nullptr);
  if (states[p::start_tag] != state_given)
    return bin.write_calls() == 0 ? std::string{} : "modify mode wrote without a start tag";
  const std::vector<span> allowed =
      allowed_spans(before, given[p::start_tag], ctx.is_tq6951(), ctx.tq637y_en);
  for (const span& w : bin.writes)
    if (!inside(allowed, w.begin, w.end)) return at("write outside the allowed spans", w.begin);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] != before[i] && !inside(allowed, i, i + 1))
      return at("byte changed outside the allowed spans", i);
  return {};
}

std::string check_param_text(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  // The reads the reader makes (fgets' rules, 1023 characters at most) and those of them whose
  // C string holds a '=': only these can be accepted.
  std::size_t reads = 0, reads_with_eq = 0, longest = 0;
  for (std::size_t pos = 0; pos < size;) {
    std::size_t n = 0;
    bool eq = false, nul = false;
    while (n < line_buffer_size - 1 && pos < size) {
      const char c = text[pos++];
      ++n;
      if (c == '\0') nul = true;
      if (c == '=' && !nul) eq = true;
      if (c == '\n') break;
    }
    ++reads;
    if (eq) ++reads_with_eq;
    longest = std::max(longest, n);
  }

  base_info info;
  state_table states{};
  memory_text_source src(text, size);
  const std::size_t accepted = read_param_text(src, info, states, sink());
  if (accepted > reads_with_eq)
    return "accepted " + std::to_string(accepted) + " of " + std::to_string(reads_with_eq) +
           " reads with '='";
  std::size_t touched = 0;
  for (std::size_t n = 0; n < states.size(); ++n) {
    if (states[n] == 0) continue;
    ++touched;
    if (n >= base_info_tag_size) return at("state set past the catalogue", n);
    if (states[n] != state_given && states[n] != state_keep)
      return at("state other than 1 or 2", n);
    if (states[n] == state_keep && info[n] != blank_value)
      return at("kept entry without the blank value", n);
  }
  if (touched > accepted) return "more entries touched than lines accepted";

  // vexdram's strict reading of the same bytes: when it finds nothing to refuse, it takes exactly
  // the values vexdram_tool's reader gives, and nothing that reader keeps or ignores.
  const engine::param_file strict = engine::read_param_file(std::string_view(text, size), false);
  if (strict.problems.empty()) {
    std::vector<bool> taken(base_info_tag_size, false);
    for (const auto& v : strict.values) {
      taken[v.n] = true;
      if (states[v.n] != state_given || info[v.n] != v.number)
        return "vexdram takes " + std::string(base_info_tag[v.n]) + " otherwise than vexdram_tool";
    }
    for (std::size_t n = 0; n < base_info_tag_size; ++n)
      if (states[n] == state_given && !taken[n])
        return "vexdram_tool takes " + std::string(base_info_tag[n]) + ", vexdram does not";
  }

  // The same file saved with CR LF line ends, a space and a tab before each, and its last line
  // without a line feed reads the same: a value of blanks alone is blank, and a number ends
  // before them. (Unless a line then grows past one read.)
  if (longest + 3 > line_buffer_size - 1) return {};
  std::string copy;
  copy.reserve(size + size / 4);
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] == '\n') copy += " \t\r";
    copy += text[i];
  }
  if (!copy.empty() && copy.back() == '\n') copy.pop_back();
  base_info info_copy;
  state_table states_copy{};
  memory_text_source copy_src(copy.data(), copy.size());
  if (read_param_text(copy_src, info_copy, states_copy, nullptr) != accepted)
    return "a CR LF copy with blanks accepts other lines";
  for (std::size_t n = 0; n < base_info_tag_size; ++n)
    if (info_copy[n] != info[n] || states_copy[n] != states[n])
      return "a CR LF copy with blanks reads " + std::string(base_info_tag[n]) + " otherwise";
  return {};
}

namespace {

// The plan a host derives to pack a container again: its text splits into its words, and when
// pack can record the container's flags, packing the plan with the container's images keeps the
// header's tag, version, chip code and flags.
std::string check_repack_plan(const std::vector<std::uint8_t>& bytes,
                              const imgwelder::container& c) {
  using namespace imgwelder;
  repack_plan plan;
  if (plan_repack(bytes.data(), bytes.size(), c, "TQ", plan) != repack_refusal::none) return {};
  const std::string param_file = "output/loader_param.bin";  // (no image name holds a '/')
  std::vector<std::string> args = pack_arguments(plan, param_file);
  std::istringstream text(pack_params_text(plan, param_file));
  std::vector<std::string> words;
  for (std::string w; text >> w;) words.push_back(w);
  if (words != args) return "the repack plan's text and its words differ";
  if (c.rc4_flag > 1 || c.rc4_off_471 > 1 || c.crc_off > 1) return {};  // pack records one bit each

  std::map<std::string, const std::vector<std::uint8_t>*> files;
  for (std::size_t t = 0; t < table_count; ++t)
    for (const imgwelder::image& img : c.tables[t]) {
      args.push_back(t == 0 ? "-1" : t == 1 ? "-2" : "-3");
      args.push_back(img.name);
      files[img.name] = &img.data;
    }
  args.insert(args.end(), {"-o", "again.bin"});
  const std::vector<std::uint8_t> params =
      plan.loader_params
          ? std::vector<std::uint8_t>(plan.loader_params->begin(), plan.loader_params->end())
          : std::vector<std::uint8_t>{};
  files[param_file] = &params;
  const file_reader read = [&](const std::string& path, std::vector<std::uint8_t>& out,
                               std::string&) {
    out = *files.at(path);
    return true;
  };
  container again;
  std::string out, error;
  if (!build_pack(args, read, again, out, error)) return "pack refuses the repack plan: " + error;
  if (again.ldr_tag != c.ldr_tag || again.version[0] != c.version[0] ||
      again.version[1] != c.version[1] || again.chip_code != c.chip_code ||
      again.rc4_flag != c.rc4_flag || again.rc4_off_471 != c.rc4_off_471 ||
      again.crc_off != c.crc_off)
    return "the container packed from the repack plan has another header";
  return {};
}

}  // namespace

std::string check_imgwelder_unpack(const std::uint8_t* data, std::size_t size,
                                   const std::string& parent) {
  using namespace imgwelder;
  container raw;
  std::string error;
  const read_outcome raw_read = read_container(data, size, raw);
  const bool raw_ok = static_cast<bool>(raw_read);
  error = reader_message(raw_read);
  if (!raw_ok &&
      (error.find("Error") == std::string::npos || error.find('\n') != std::string::npos))
    return "failure message is not one line with \"Error\": " + error;

  std::vector<std::uint8_t> bytes(data, data + size);
  if (size >= hdr::length + crc_length && bytes[hdr::crc_off] == 0) {
    const std::uint32_t crc = crc32(bytes.data(), size - crc_length);
    for (std::size_t i = 0; i < 4; ++i)
      bytes[size - crc_length + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  }
  container c;
  const bool ok = static_cast<bool>(read_container(bytes.data(), bytes.size(), c));
  if (raw_ok && !ok) return "a valid container failed after its CRC was rewritten";

  // Half the time the output directory exists already.
  const std::string dir = parent + "/out";
  const bool made = (size & 1) != 0;
  if (made) ::mkdir(dir.c_str(), 0777);
  std::vector<std::string> lines;
  const bool unpacked = unpack_to_directory(bytes.data(), bytes.size(), dir, lines, error);

  std::string fault;
  const std::vector<std::string> around = names_in(parent);
  const std::vector<std::string> out = names_in(dir);
  if (!(around.empty() || (around.size() == 1 && around[0] == "out")))
    fault = "unpack wrote outside its directory";
  else if (unpacked != ok) fault = "unpack and the reader disagree: " + error;
  else if (!ok && !made && !around.empty()) fault = "a rejected container created the directory";
  else if (!ok && !out.empty()) fault = "a rejected container left files";
  if (fault.empty() && unpacked) {
    std::map<std::string, const std::vector<std::uint8_t>*> want;
    for (const auto& table : c.tables)
      for (const auto& img : table) want[img.name] = &img.data;
    std::vector<std::string> names;
    for (const auto& w : want) names.push_back(w.first);
    if (names != out) fault = "the directory does not hold exactly the images";
    for (const auto& w : want)
      if (fault.empty() && file_bytes(dir + "/" + w.first) != *w.second)
        fault = "image file " + w.first + " differs from its data";
    for (const std::string& l : lines)
      if (fault.empty() && l.find("Error") != std::string::npos)
        fault = "listing line with \"Error\"";
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  if (!fault.empty() || !ok) return fault;

  std::vector<std::uint8_t> written;
  if (!write_container(c, written, error)) return {};  // e.g. an alignment the writer refuses
  container back;
  if (const read_outcome read = read_container(written.data(), written.size(), back); !read)
    return "the writer's output does not read back: " + reader_message(read);
  const std::string diff = compare(c, back);
  if (!diff.empty()) return "read back after writing: " + diff;
  return check_repack_plan(bytes, c);
}

std::string make_scratch_parent() {
  std::string base;
  if (const char* s = std::getenv("VEXDRAM_FUZZ_SCRATCH")) base = s;
  else if (::access("/dev/shm", W_OK) == 0) base = "/dev/shm";
  else if (const char* t = std::getenv("TMPDIR")) base = t;
  else base = "/tmp";
  std::string name = base + "/vexdram-unpack-XXXXXX";
  return ::mkdtemp(name.data()) ? name : std::string{};
}

void remove_tree(const std::string& dir) {
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace vexdram::fuzz
