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

// The last part of a path as either system writes it: what follows its last '/' or '\', or the
// name after the drive of "C:name"; the whole path when it has none of them. The same on every
// system: the chip a file's name gives is taken from it, and a folder named like a chip gives
// none, whoever wrote the path (a path with backslashes is a Windows path on Linux too).
inline std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash != std::string::npos) return path.substr(slash + 1);
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return drive ? path.substr(2) : path;
}

}  // namespace vexdram
