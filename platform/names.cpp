// What a name means to Windows, as plain text: the same answer on every system.
#include <string_view>

#include "platform/platform.h"

namespace vexdram::platform {

namespace {
bool same_letters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}
}  // namespace

bool reserved_on_windows(std::string_view name) {
  // The device is what stands before a colon ("con:") and before the first dot: the extension
  // does not count, nor do spaces before it or dots and spaces at the end ("nul .txt", "prn. ").
  name = name.substr(0, name.find(':'));
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (same_letters(name, device)) return true;
  if (name.size() < 4 || !(same_letters(name.substr(0, 3), "COM") ||
                           same_letters(name.substr(0, 3), "LPT")))
    return false;
  const std::string_view number = name.substr(3);
  // a digit, or a superscript one, two or three in UTF-8 (U+00B9, U+00B2, U+00B3)
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xc2\xb9" ||
         number == "\xc2\xb2" || number == "\xc2\xb3";
}

}  // namespace vexdram::platform
