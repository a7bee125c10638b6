#include "tool/param_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tool/messages.h"

namespace vexdram {

bool file_text_source::gets(char* buf, std::size_t cap) {
  return std::fgets(buf, static_cast<int>(cap), f_) != nullptr;
}

bool memory_text_source::gets(char* buf, std::size_t cap) {
  if (pos_ >= size_ || cap == 0) return false;
  const std::size_t room = std::min(cap - 1, size_ - pos_);
  const void* nl = std::memchr(data_ + pos_, '\n', room);
  const std::size_t n =
      nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - (data_ + pos_)) + 1 : room;
  std::memcpy(buf, data_ + pos_, n);
  buf[n] = '\0';
  pos_ += n;
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
  // 64 bits before the cut to 32, as strtoul reads on Linux: Windows' unsigned long has 32 and
  // would saturate "0x123456789" instead of keeping its low word
  const auto number = static_cast<std::uint32_t>(std::strtoull(value, &used, 0));
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
// siblings; a key's first character is looked up directly. Node 0 stands for "no node".
namespace key_trie_detail {
inline constexpr std::uint16_t no_key = 0xFFFF;
struct node {
  char c = 0;
  std::uint16_t key = no_key;    // the key that ends here
  std::uint16_t least = no_key;  // the lowest key number here or below
  std::uint16_t child = 0;       // first child
  std::uint16_t sibling = 0;     // next child of the same parent
};

template <std::size_t Capacity>
struct trie {
  std::uint16_t first[256]{};
  node nodes[Capacity]{};
  std::size_t size = 1;

  constexpr trie() {
    for (std::size_t n = 0; n < base_info_tag_size; ++n) {
      const std::string_view k = base_info_tag[n];
      std::uint16_t& head = first[static_cast<unsigned char>(k[0])];
      if (head == 0) head = add(k[0]);
      std::uint16_t at = head;
      for (std::size_t i = 1;; ++i) {
        // Keys are taken in number order: the first to pass a node is its least.
        if (nodes[at].least == no_key) nodes[at].least = static_cast<std::uint16_t>(n);
        if (i == k.size()) break;
        at = child(at, k[i]);
      }
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
    for (; *link != 0; link = &nodes[*link].sibling)
      if (nodes[*link].c == c) return *link;
    const std::uint16_t added = add(c);
    *link = added;
    return added;
  }
  constexpr std::uint16_t next(std::uint16_t at, char c) const {
    for (at = nodes[at].child; at != 0 && nodes[at].c != c;) at = nodes[at].sibling;
    return at;
  }
};

constexpr std::size_t key_chars() {
  std::size_t n = 1;
  for (std::string_view k : base_info_tag) n += k.size();
  return n;
}
// Built once with room for every character to learn the size, then with exactly that room.
inline constexpr std::size_t node_count = trie<key_chars()>{}.size;
static_assert(node_count <= no_key, "node numbers fit 16 bits");
}  // namespace key_trie_detail

inline constexpr key_trie_detail::trie<key_trie_detail::node_count> key_trie{};

// A line's keys start before its first "/*": no key holds a '/', so none reaches past one.
bool at_line_end(const char* s) { return *s == '\0' || (s[0] == '/' && s[1] == '*'); }

// Calls found(n) for every key n that starts at a place of line before its first "/*". Below a
// node the walk goes on only while bound is above the lowest key there: keys that cannot come
// before bound are not looked for.
template <typename Found>
void walk_keys(const char* line, const std::uint16_t& bound, Found found) {
  for (const char* s = line; !at_line_end(s); ++s) {
    const char* c = s;
    for (std::uint16_t at = key_trie.first[static_cast<unsigned char>(*c)];
         key_trie.nodes[at].least < bound; at = key_trie.next(at, *++c))
      if (key_trie.nodes[at].key != key_trie_detail::no_key) found(key_trie.nodes[at].key);
  }
}

// The first key in catalogue order that occurs in line, not behind its first "/*";
// base_info_tag_size when none does.
std::size_t first_key_in(const char* line) {
  std::uint16_t best = base_info_tag_size;
  walk_keys(line, best, [&](std::uint16_t n) { best = std::min(best, n); });
  return best;
}

// Prints the message of each key that occurs in a line without '=' (not behind its first "/*"),
// in catalogue order.
void tell_keys_without_value(const char* line, std::FILE* out) {
  bool named[base_info_tag_size] = {};
  bool any = false;
  walk_keys(line, key_trie_detail::no_key, [&](std::uint16_t n) { named[n] = any = true; });
  for (std::size_t n = 0; any && n < base_info_tag_size; ++n)
    if (named[n]) std::fprintf(out, msg::no_value_fmt, base_info_tag[n].data());
}

}  // namespace

std::size_t read_param_text(text_source& src, base_info& info_from_txt, state_table& updata_availd,
                            std::FILE* out) {
  char filepath[line_buffer_size];
  std::size_t accepted = 0;
  while (src.gets(filepath, sizeof filepath)) {
    const char* const eq = std::strchr(filepath, '=');
    if (!eq) {
      if (out) tell_keys_without_value(filepath, out);
      continue;
    }
    const std::size_t n = first_key_in(filepath);
    if (n == base_info_tag_size) continue;
    read_value(eq + 1, static_cast<param>(n), info_from_txt, updata_availd, out);
    ++accepted;
  }
  return accepted;
}

}  // namespace vexdram
