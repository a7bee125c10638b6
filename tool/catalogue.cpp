// The catalogue's compile-time checks that need every key pair, kept in one translation unit so
// that only this file pays for them, and the lookup of a parameter by its key.
#include "tool/catalogue.h"

#include <algorithm>

namespace vexdram {

namespace catalogue_detail {
// Finds every key that occurs inside another key: each key's substrings are looked up in a hash
// table of all keys, so the check stays cheap enough for the compiler.
inline constexpr std::size_t slots = 2048;
constexpr std::uint32_t hash_step(std::uint32_t h, char c) {
  return (h ^ static_cast<unsigned char>(c)) * 16777619u;
}
constexpr std::uint32_t hash_basis = 2166136261u;
struct key_table {
  std::uint16_t slot[slots]{};  // key number + 1, 0 = empty
  std::uint32_t hash[base_info_tag_size]{};
};
constexpr key_table make_table() {
  key_table t{};
  for (std::size_t n = 0; n < base_info_tag_size; ++n) {
    std::uint32_t h = hash_basis;
    for (char c : base_info_tag[n]) h = hash_step(h, c);
    t.hash[n] = h;
    std::size_t s = h % slots;
    while (t.slot[s] != 0) s = (s + 1) % slots;
    t.slot[s] = static_cast<std::uint16_t>(n + 1);
  }
  return t;
}
// Pairs (i, j) where key i occurs inside the longer key j; ordered stays true when every such
// key i comes after key j, which lets a line for the longer key reach its own parameter.
struct containment {
  std::size_t pairs = 0;
  bool ordered = true;
  bool unique = true;
};
constexpr containment check_containment() {
  const key_table t = make_table();
  containment c;
  std::uint16_t seen[base_info_tag_size]{};
  for (std::size_t j = 0; j < base_info_tag_size; ++j) {
    const std::string_view hay = base_info_tag[j];
    for (std::size_t s = 0; s < hay.size(); ++s) {
      std::uint32_t h = hash_basis;
      for (std::size_t e = s; e < hay.size(); ++e) {
        h = hash_step(h, hay[e]);
        const std::string_view sub = hay.substr(s, e - s + 1);
        for (std::size_t k = h % slots; t.slot[k] != 0; k = (k + 1) % slots) {
          const std::size_t i = t.slot[k] - 1u;
          if (t.hash[i] != h || base_info_tag[i] != sub) continue;
          if (i == j) {
            if (sub.size() == hay.size()) continue;
            c.unique = false;
          }
          if (seen[i] == j + 1) continue;
          seen[i] = static_cast<std::uint16_t>(j + 1);
          ++c.pairs;
          if (i < j) c.ordered = false;
        }
      }
    }
  }
  for (std::size_t i = 0; i < base_info_tag_size; ++i)
    for (std::size_t k = t.hash[i] % slots; t.slot[k] != 0; k = (k + 1) % slots)
      if (t.slot[k] - 1u != i && base_info_tag[t.slot[k] - 1u] == base_info_tag[i])
        c.unique = false;
  return c;
}
}  // namespace catalogue_detail

inline constexpr catalogue_detail::containment catalogue_containment =
    catalogue_detail::check_containment();
static_assert(catalogue_containment.ordered,
              "a key that occurs inside another key must come after it");
static_assert(catalogue_containment.pairs == 46, "the catalogue has 46 nested key pairs");
static_assert(catalogue_containment.unique, "every key stands once in the catalogue");

namespace catalogue_detail {
// The parameter numbers in the order of their keys' text, sorted by the compiler.
constexpr std::array<std::uint16_t, base_info_tag_size> keys_in_text_order() {
  std::array<std::uint16_t, base_info_tag_size> order{};
  for (std::size_t n = 0; n < base_info_tag_size; ++n) {
    std::size_t at = n;
    for (; at > 0 && base_info_tag[n] < base_info_tag[order[at - 1]]; --at)
      order[at] = order[at - 1];
    order[at] = static_cast<std::uint16_t>(n);
  }
  return order;
}
}  // namespace catalogue_detail

std::optional<param> find_key(std::string_view key) {
  static constexpr auto by_text = catalogue_detail::keys_in_text_order();
  const auto it =
      std::lower_bound(by_text.begin(), by_text.end(), key,
                       [](std::uint16_t n, std::string_view k) { return base_info_tag[n] < k; });
  if (it == by_text.end() || base_info_tag[*it] != key) return std::nullopt;
  return static_cast<param>(*it);
}

}  // namespace vexdram
