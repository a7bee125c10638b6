// The small text helpers the rooms share, once: trimming, ASCII case, the last part of a path.
#pragma once

#include <string>
#include <string_view>

namespace vexdram {

// `s` without the characters of `blanks` at either end.
inline std::string_view trim(std::string_view s, std::string_view blanks = " \t") {
  const std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// ASCII letters in one case; every other byte as it is (chip names, file names).
inline std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}
inline std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return s;
}

// What follows the last '/' of a path (the whole path when it has none).
inline std::string base_name(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

}  // namespace vexdram
