// The option words of a command, read as the option table allows them (shared by the program
// and by callers that build a container in-process the way `imgwelder pack` does).
#pragma once

#include "imgwelder/command_line.h"
#include "imgwelder/messages.h"
#include "imgwelder/text.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace imgwelder {

// A failure of a command: the one line it prints.
struct failure {
  std::string text;
};

inline std::optional<std::uint32_t> parse_number(const std::string& s, std::uint32_t max) {
  if (s.empty() || s.size() > 10) return std::nullopt;
  std::uint64_t v = 0;
  for (char ch : s) {
    if (ch < '0' || ch > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(ch - '0');
  }
  if (v > max) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

// Options of the form "-x VALUE" or a bare flag, as the command's rows in `options` allow them.
class option_reader {
 public:
  option_reader(const char* command, std::vector<std::string> args)
      : command_(command), args_(std::move(args)) {}

  bool done() const { return pos_ >= args_.size(); }
  std::string next() { return args_[pos_++]; }

  // The next option: known to the command, and not repeated unless it may be.
  std::string option() {
    const std::string opt = next();
    const option_desc* o = find_option(command_, opt.c_str());
    if (!o) throw failure{format(msg::unknown_option, opt.c_str())};
    if (o->times != use::repeatable) once(opt);
    return opt;
  }

  // After the last option: every required option of the command was given.
  void finish() const {
    for (const option_desc& o : options)
      if (o.times == use::required && std::strcmp(o.command, command_) == 0 && !seen_.count(o.name))
        throw failure{format(msg::missing_option, o.name)};
  }

  std::string value(const std::string& option) {
    // values may begin with '-' (the chip code does), so the next word is taken as it is
    if (done()) throw failure{format(msg::missing_value, option.c_str())};
    return next();
  }

 private:
  void once(const std::string& option) {
    if (!seen_.insert(option).second) throw failure{format(msg::repeated_option, option.c_str())};
  }

  const char* command_;
  std::vector<std::string> args_;
  std::size_t pos_ = 0;
  std::set<std::string> seen_;
};

inline std::uint32_t number_option(option_reader& r, const std::string& option, std::uint32_t max) {
  const auto v = parse_number(r.value(option), max);
  if (!v) throw failure{format(msg::bad_number, option.c_str(), max)};
  return *v;
}

}  // namespace imgwelder
