#include "param_text.h"

#include <cstdlib>
#include <cstring>

#include "messages.h"

namespace vexdram {

bool file_text_source::gets(char* buf, std::size_t cap) {
  return std::fgets(buf, static_cast<int>(cap), f_) != nullptr;
}

bool memory_text_source::gets(char* buf, std::size_t cap) {
  if (pos_ >= size_ || cap == 0) return false;
  std::size_t n = 0;
  while (n + 1 < cap && pos_ < size_) {
    const char c = data_[pos_++];
    buf[n++] = c;
    if (c == '\n') break;
  }
  buf[n] = '\0';
  return true;
}

namespace {

bool is_blank_char(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value text after a line's '=': it ends at the end of the line or at a "/*" comment.
// A value of nothing but spaces, tabs and line-end characters is blank (keep the binary's value),
// also when the file was saved with CR LF line ends or its last line has no line feed. Anything
// else is converted as strtoul does with base 0; when the number does not use the whole value
// ("12abc", "0800", "1.5", "abc") a warning says what was read.
void read_value(const char* value, param n, base_info& info_from_txt, state_table& updata_availd,
                std::FILE* out) {
  const char* comment = std::strstr(value, "/*");
  const char* end = comment ? comment : value + std::strlen(value);
  while (end > value && is_blank_char(end[-1])) --end;
  if (end == value) {
    info_from_txt[n] = blank_value;
    updata_availd[n] = state_keep;
    return;
  }
  char* used = nullptr;
  const auto number = static_cast<std::uint32_t>(std::strtoul(value, &used, 0));
  info_from_txt[n] = number;
  updata_availd[n] = state_given;
  if (out && used < end) {
    char text[line_buffer_size];
    const std::size_t len = static_cast<std::size_t>(end - value);
    std::memcpy(text, value, len);
    text[len] = '\0';
    std::fprintf(out, msg::not_whole_fmt, base_info_tag[n].data(), text, number);
  }
}

// The keys as a trie that the compiler builds: each position of a line is walked once, instead of
// the line being searched once for each of the 484 keys. The children of a node are a list of
// siblings; a key's first character is looked up directly.
namespace key_trie_detail {
inline constexpr std::uint16_t none = 0xFFFF;
struct node {
  char c = 0;
  std::uint16_t key = none;      // the key that ends here
  std::uint16_t child = none;    // first child
  std::uint16_t sibling = none;  // next child of the same parent
};

template <std::size_t Capacity>
struct trie {
  std::uint16_t first[256]{};
  node nodes[Capacity]{};
  std::size_t size = 0;

  constexpr trie() {
    for (std::uint16_t& f : first) f = none;
    for (std::size_t n = 0; n < base_info_tag_size; ++n) {
      const std::string_view k = base_info_tag[n];
      std::uint16_t& head = first[static_cast<unsigned char>(k[0])];
      if (head == none) head = add(k[0]);
      std::uint16_t at = head;
      for (std::size_t i = 1; i < k.size(); ++i) at = child(at, k[i]);
      nodes[at].key = static_cast<std::uint16_t>(n);
    }
  }
  constexpr std::uint16_t add(char c) {
    nodes[size].c = c;
    return static_cast<std::uint16_t>(size++);
  }
  // The child of node at for character c, appended when missing.
  constexpr std::uint16_t child(std::uint16_t at, char c) {
    std::uint16_t* link = &nodes[at].child;
    for (; *link != none; link = &nodes[*link].sibling)
      if (nodes[*link].c == c) return *link;
    const std::uint16_t added = add(c);
    *link = added;
    return added;
  }
};

constexpr std::size_t key_chars() {
  std::size_t n = 0;
  for (std::string_view k : base_info_tag) n += k.size();
  return n;
}
// Built once with room for every character to learn the size, then with exactly that room.
inline constexpr std::size_t node_count = trie<key_chars()>{}.size;
static_assert(node_count < none, "node numbers fit 16 bits");
}  // namespace key_trie_detail

inline constexpr key_trie_detail::trie<key_trie_detail::node_count> key_trie{};

// Calls found(n) for each key n that starts in line before the line's first "/*". No key holds a
// '/', so a key that starts before the comment also ends before it.
template <typename Found>
void for_each_key_in(const char* line, Found found) {
  using key_trie_detail::none;
  for (const char* s = line; *s != '\0' && !(s[0] == '/' && s[1] == '*'); ++s) {
    std::uint16_t at = key_trie.first[static_cast<unsigned char>(*s)];
    for (const char* c = s + 1; at != none; ++c) {
      const key_trie_detail::node& here = key_trie.nodes[at];
      if (here.key != none) found(here.key);
      for (at = here.child; at != none && key_trie.nodes[at].c != *c;) at = key_trie.nodes[at].sibling;
    }
  }
}

// The parameter of a line with a '=': the first key in catalogue order that occurs in it, not
// behind its first "/*"; base_info_tag_size when none does. A line without '=' names no
// parameter, but each such key gets its message, in catalogue order.
std::size_t line_param(const char* line, bool has_eq, std::FILE* out) {
  std::size_t first = base_info_tag_size;
  if (has_eq) {
    for_each_key_in(line, [&](std::size_t n) { first = n < first ? n : first; });
    return first;
  }
  if (!out) return first;
  bool named[base_info_tag_size] = {};
  bool any = false;
  for_each_key_in(line, [&](std::size_t n) { named[n] = any = true; });
  for (std::size_t n = 0; any && n < base_info_tag_size; ++n)
    if (named[n]) std::fprintf(out, msg::no_value_fmt, base_info_tag[n].data());
  return first;
}

}  // namespace

std::size_t read_param_text(text_source& src, base_info& info_from_txt, state_table& updata_availd,
                            std::FILE* out) {
  char filepath[line_buffer_size];
  std::size_t accepted = 0;
  while (src.gets(filepath, sizeof filepath)) {
    const char* const eq = std::strchr(filepath, '=');
    const std::size_t n = line_param(filepath, eq != nullptr, out);
    if (n == base_info_tag_size) continue;
    read_value(eq + 1, static_cast<param>(n), info_from_txt, updata_availd, out);
    ++accepted;
  }
  return accepted;
}

}  // namespace vexdram
