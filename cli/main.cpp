// vexdram: the DDR parameter block from scripts and build systems. show, get, set, apply, diff,
// template, keys, chips; every failure is a message on standard error and a status of 2, and a
// write is all or nothing. A front over the library (vexdram/vexdram.h): this file owns the
// command line, the words and the statuses; the output formats live beside it. As in git, one
// table names each command with what it takes and the function that runs it, and main only
// dispatches.
#include <cstdio>
#include <iostream>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <vexdram/vexdram.h>
#include <CLI/CLI.hpp>

#include "cli/command_text.h"
#include "cli/messages.h"
#include "cli/output.h"
#include "platform/platform.h"

namespace {

using namespace vexdram;
using namespace vexdram::cli;

struct options {
  std::string chip;
  bool json = false;
  std::string file, file_b, params, out, out_dir;
  std::vector<std::string> keys, files;
  bool in_place = false, force = false, dry_run = false;
  double wait = 0;  // seconds to wait for another run's lock
};

// A failure of the front itself (the library's are vexdram::error); no text: already said.
struct failure {
  std::string text;
  std::string file = {};
};

// What vexdram adds to the library's words for a code, where one of its options helps.
std::string hint_of(errc code) {
  for (const message::hint& h : message::hints)
    if (h.code == code) return h.text;
  return "";
}
// The hint follows the failure, before what it left ("exists: give --force ...; nothing written").
std::string words(const error& e, const options& o) {
  const std::string hint =
      e.code() == errc::busy && o.wait > 0 ? message::busy_after_wait : hint_of(e.code());
  return e.text() + hint + e.outcome();
}

// Refusals, one line each; a command that has any writes nothing and ends with status 2.
struct refusals {
  std::vector<std::pair<std::string, std::string>> lines;
  void add(const std::string& file, const std::string& text) { lines.emplace_back(file, text); }
  void raise_if_any() const {
    if (lines.empty()) return;
    for (const auto& [file, text] : lines) say(file, text);
    throw failure{};
  }
};

void notes_of(const image& img) {
  for (const std::string& n : img.notes()) say(img.path(), n);
}

void print_or_fail(const std::string& text) {
  if (!print(text)) throw failure{message::standard_output};
}

int show(const options& o) {
  const image img = image::open(o.file, o.chip);
  notes_of(img);
  print_or_fail(o.json ? show_json(img) : report(img));
  return status_ok;
}

int get(const options& o) {
  std::vector<std::size_t> keys;
  refusals bad;
  for (const std::string& k : o.keys) {
    try {
      keys.push_back(parameter_named(k));
    } catch (const error& e) {
      bad.add(o.file, e.what());
    }
  }
  bad.raise_if_any();
  const image img = image::open(o.file, o.chip);
  notes_of(img);
  print_or_fail(o.json ? get_json(img, keys) : get_text(img, keys));
  return status_ok;
}

// The target of one input, checked before it is read: in place the file itself (the file a
// symlink leads to), else OUT or DIR/its name.
std::string target_for(const std::string& path, const options& o) {
  if (o.in_place) {
    try {
      return writer::target_of(path, "", o.force);
    } catch (const error& e) {
      if (e.code() != errc::not_a_file) throw;
      throw failure{e.what() + std::string(message::in_place_not_regular), e.file()};
    }
  }
  const std::string out =
      o.out_dir.empty() ? o.out : o.out_dir + "/" + path.substr(platform::last_separator(path) + 1);
  return writer::target_of(path, out, o.force);
}

// Every input's target, checked and (unless a dry run) locked, before any input is read: the
// locks are held from the read to the rename.
std::vector<std::string> targets_of(writer& w, const std::vector<std::string>& paths,
                                    const options& o) {
  // A dry run may name no destination: then there is nothing to check.
  if (!o.in_place && o.out.empty() && o.out_dir.empty())
    return std::vector<std::string>(paths.size());
  std::vector<std::string> targets;
  std::set<std::string> seen;  // by the one name each file has ("F" and "F." on Windows)
  for (const std::string& path : paths) {
    targets.push_back(target_for(path, o));
    if (!seen.insert(platform::canonical_name(targets.back())).second)
      throw failure{message::same_target, targets.back()};
  }
  if (!o.dry_run)
    for (const std::string& t : targets) w.lock(t, o.wait);
  return targets;
}

// Writes every output at once (unless a dry run), then prints the changes of every input: what
// is printed has been written.
int write_all(writer& w, const std::vector<const image*>& inputs,
              const std::vector<std::string>& targets, const options& o) {
  std::string changes;
  for (const image* img : inputs)
    for (const image::edit& e : img->edits()) {
      const std::uint32_t old = img->original(e.n);
      if (old == e.value) continue;
      const std::string line = change_line(e.n, old, e.value);
      changes += inputs.size() > 1 ? fill(message::change_in, escaped(img->path()), line) : line;
    }
  if (!o.dry_run) {
    for (std::size_t i = 0; i < inputs.size(); ++i)
      w.add(*inputs[i], targets[i], o.in_place, o.force);
    w.commit();
  }
  if (!print(changes) || std::fflush(stdout) != 0)
    throw failure{o.dry_run ? message::standard_output : message::changes_not_printed};
  return status_ok;
}

int set(const options& o) {
  writer w;
  const std::vector<std::string> targets = targets_of(w, {o.file}, o);
  image img = image::open(o.file, o.chip);
  notes_of(img);
  // Every KEY=VALUE checked, every problem listed: a missing '=', an unknown key, a value
  // refused, a key given twice with different values.
  refusals bad;
  if (const auto why = img.unwritable()) bad.add(img.path(), why->text);
  std::vector<image::edit> edits;
  for (const std::string& kv : o.keys) {
    const std::size_t eq = kv.find('=');
    if (eq == std::string::npos) {
      bad.add(img.path(), fill(message::no_equals, kv));
      continue;
    }
    const std::string key = kv.substr(0, eq);
    std::optional<std::size_t> n;
    try {
      n = parameter_named(key);
    } catch (const error& e) {
      bad.add(img.path(), e.what());
      continue;
    }
    const parsed_value v = parse_value(kv.substr(eq + 1));
    if (!v.value) {
      bad.add(img.path(), fill(message::refused, kv, v.reason));
      continue;
    }
    if (const auto why = img.check(*n, *v.value)) {
      bad.add(img.path(), fill(message::refused, kv, why->text));
      continue;
    }
    for (const image::edit& earlier : edits)
      if (earlier.n == *n && earlier.value != *v.value)
        bad.add(img.path(), fill(message::given_twice, kv, key));
    edits.push_back({*n, *v.value});
  }
  bad.raise_if_any();
  for (const image::edit& e : edits) img.set(e.n, e.value);
  return write_all(w, {&img}, targets, o);
}

int apply(const options& o) {
  if (!o.out.empty() && o.files.size() > 1) throw failure{message::one_output};
  const param_file pf = parse_param_text(read_param_source(o.params));
  const std::string params_name = o.params == "-" ? message::standard_input : o.params;
  refusals bad;
  for (const auto& p : pf.problems)
    bad.add(params_name, fill(message::line, std::to_string(p.line), p.reason));
  bad.raise_if_any();
  writer w;
  const std::vector<std::string> targets = targets_of(w, o.files, o);
  std::vector<image> inputs;
  inputs.reserve(o.files.size());
  for (const std::string& f : o.files) {
    image& img = inputs.emplace_back(image::open(f, o.chip));
    notes_of(img);
    if (const auto why = img.unwritable()) bad.add(f, why->text);
    for (const image::line_refusal& r : img.check(pf))
      bad.add(f, fill(message::file_line, params_name, std::to_string(r.line), key_of(r.n),
                      value_text(r.n, r.value), r.why.text));
    if (bad.lines.empty()) img.apply(pf);
  }
  bad.raise_if_any();
  std::vector<const image*> all;
  for (const image& img : inputs) all.push_back(&img);
  return write_all(w, all, targets, o);
}

side side_of(const std::string& path, const std::string& chip) {
  side s{path, std::vector<std::optional<std::uint32_t>>(parameter_count)};
  if (kind_of(path) == file_kind::text) {
    const param_file pf = parse_param_text(read_param_source(path));
    refusals bad;
    for (const auto& p : pf.problems)
      bad.add(path, fill(message::line, std::to_string(p.line), p.reason));
    bad.raise_if_any();
    for (const param_file::value& v : pf.values) s.values[v.n] = v.number;
    return s;
  }
  const image img = image::open(path, chip);
  notes_of(img);
  for (std::size_t n = 0; n < parameter_count; ++n) s.values[n] = img.value(n);
  return s;
}

int diff(const options& o) {
  // A side whose name gives no chip (an output named freely) is read for the other side's chip.
  std::string chip = o.chip;
  if (chip.empty()) {
    const auto a = chip_in_name(o.file), b = chip_in_name(o.file_b);
    if (!a || !b) chip = a ? *a : b.value_or("");
  }
  const side a = side_of(o.file, chip);
  const side b = side_of(o.file_b, chip);
  const std::vector<std::size_t> differ = differences(a, b);
  print_or_fail(o.json ? diff_json(a, b, differ) : diff_text(a, b, differ));
  return differ.empty() ? status_ok : status_different;
}

int print_template(const options&) { return print(template_text()) ? status_ok : status_trouble; }
int print_keys(const options& o) {
  return print(o.json ? catalogue_as_json() : keys_text()) ? status_ok : status_trouble;
}
int print_chips(const options&) { return print(chips_text()) ? status_ok : status_trouble; }

// The rows of command_text.h that describe a command and an option of it.
const text::command& about(const std::string& name) {
  for (const text::command& c : text::commands)
    if (name == c.name) return c;
  throw std::logic_error("no text for the command " + name);
}
const char* help_of(const std::string& command, const std::string& names) {
  for (const text::option& o : text::options)
    if (names == o.names &&
        (" " + std::string(o.commands) + " ").find(" " + command + " ") != std::string::npos)
      return o.help;
  throw std::logic_error("no text for the option " + names + " of " + command);
}

// What a command takes, told to CLI11.
void file_argument(CLI::App& c, std::string& to, const char* name, const char* what) {
  c.add_option(name, to, what)->required()->type_name("");
}
constexpr const char* binary_or_container = "a DDR binary or a loader container";
constexpr const char* any_side = "a binary, a container, a report or a parameter file";
void json_flag(CLI::App& c, options& o) {
  c.add_flag("--json", o.json, help_of(c.get_name(), "--json"));
}
void write_options(CLI::App& c, options& o) {
  const std::string name = c.get_name();
  CLI::Option* out = c.add_option("-o,--out", o.out, help_of(name, "-o,--out"))->type_name("OUT");
  CLI::Option* in = c.add_flag("--in-place", o.in_place, help_of(name, "--in-place"));
  if (name == "apply")
    c.add_option("--out-dir", o.out_dir, help_of(name, "--out-dir"))
        ->type_name("DIR")
        ->excludes(out)
        ->excludes(in);
  out->excludes(in);
  c.add_flag("--force", o.force, help_of(name, "--force"));
  c.add_flag("--dry-run", o.dry_run, help_of(name, "--dry-run"));
  c.add_option("--wait", o.wait, help_of(name, "--wait"))
      ->type_name("SECONDS")
      ->check(CLI::Range(0.0, 86400.0).description(""));
}

void describe_show(CLI::App& c, options& o) {
  file_argument(c, o.file, "FILE", binary_or_container);
  json_flag(c, o);
}
void describe_get(CLI::App& c, options& o) {
  file_argument(c, o.file, "FILE", binary_or_container);
  c.add_option("KEY", o.keys, "parameter keys")->required()->type_name("");
  json_flag(c, o);
}
void describe_set(CLI::App& c, options& o) {
  file_argument(c, o.file, "FILE", binary_or_container);
  c.add_option("KEY=VALUE", o.keys, "values: decimal without a leading 0, or 0x hexadecimal")
      ->required()
      ->type_name("");
  write_options(c, o);
}
void describe_apply(CLI::App& c, options& o) {
  file_argument(c, o.params, "PARAMS", "a parameter file or report, or - for standard input");
  c.add_option("FILE", o.files, "DDR binaries or loader containers")->required()->type_name("");
  write_options(c, o);
}
void describe_diff(CLI::App& c, options& o) {
  file_argument(c, o.file, "A", any_side);
  file_argument(c, o.file_b, "B", any_side);
  json_flag(c, o);
}
void describe_nothing(CLI::App&, options&) {}

// The commands, in the order of the help. writes: takes a destination.
struct command {
  const char* name;
  void (*describe)(CLI::App&, options&);
  int (*run)(const options&);
  bool writes;
};
constexpr command commands[] = {
    {"show", describe_show, show, false},   {"get", describe_get, get, false},
    {"set", describe_set, set, true},       {"apply", describe_apply, apply, true},
    {"diff", describe_diff, diff, false},   {"template", describe_nothing, print_template, false},
    {"keys", json_flag, print_keys, false}, {"chips", describe_nothing, print_chips, false},
};

std::string statuses() {
  std::string out = "Statuses:";
  for (const text::status& s : text::statuses)
    out += "\n  " + std::to_string(s.code) + "  " + s.meaning;
  return out;
}

// The usage of the command that failed to parse, and the reason, on standard error.
int usage_error(const CLI::App& app, const CLI::ParseError& e) {
  const CLI::App* at = &app;
  while (!at->get_subcommands().empty()) at = at->get_subcommands().back();
  std::fprintf(stderr, "vexdram: %s\n%s", escaped(e.what()).c_str(), at->help().c_str());
  return status_trouble;
}

// Checks what the command line says before the command runs.
void check_options(const CLI::App& sub, const command& c, const options& o) {
  if (sub.count("--chip") > 0 && o.chip.empty())
    throw failure{message::empty_chip + hint_of(errc::unknown_chip)};
  if (!o.chip.empty()) resolve_chip(o.chip, "");
  if (c.writes && !o.dry_run && o.out.empty() && o.out_dir.empty() && !o.in_place)
    throw failure{fill(message::nothing_written, c.name,
                       std::string(c.name) == "apply" ? message::or_out_dir : "")};
}

}  // namespace

int main(int argc_given, char** argv_given) {
  // the names as typed, on every system (UTF-8), and output byte for byte as on Linux
  platform::arguments args_utf8(argc_given, argv_given);
  const int argc = args_utf8.argc();
  char** const argv = args_utf8.argv();
  platform::binary_std_streams();
  // An interrupt ends every command with its documented status, on Windows too; a closed standard
  // output is a failed print (EPIPE), reported as such, never the end of the run.
  platform::catch_write_signals();
  CLI::App app{std::string("vexdram: ") + text::summary + ".", "vexdram"};
  app.footer(statuses() + "\n\nValues: " + text::value_rule);
  // "/tmp/x.bin" is a file on every system, never a "/option" (CLI11's default on Windows)
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", "vexdram " VEXDRAM_VERSION_STRING);
  app.require_subcommand(1);
  options o;

  // Only the command asked for is described to CLI11 (describing them all costs more than the
  // rest of a `get`); every one when the first argument names none (top-level help, a mistake).
  const command* asked = nullptr;
  for (const command& c : commands)
    if (argc > 1 && std::string(argv[1]) == c.name) asked = &c;
  for (const command& c : commands) {
    if (asked && asked != &c) continue;
    CLI::App* sub = app.add_subcommand(c.name, about(c.name).summary);
    sub->footer(about(c.name).details);
    sub->add_option("--chip", o.chip, help_of(c.name, "--chip"))->type_name("CHIP");
    c.describe(*sub, o);
  }

  // Help and the version are results too: a full standard output is trouble.
  auto printed = [](int status) {
    if (std::fflush(stdout) == 0 && std::cout.flush()) return status;
    say("", message::standard_output);
    return status_trouble;
  };
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return printed(app.exit(e));
  } catch (const CLI::CallForAllHelp& e) {
    return printed(app.exit(e));
  } catch (const CLI::CallForVersion& e) {
    return printed(app.exit(e));
  } catch (const CLI::ParseError& e) {
    if (argc > 1 && argv[1][0] != '-' && app.get_subcommands().empty()) {
      std::fprintf(stderr, "vexdram: %s\n%s",
                   escaped(fill(message::unknown_command, argv[1])).c_str(), app.help().c_str());
      return status_trouble;
    }
    return usage_error(app, e);
  }

  const CLI::App& sub = *app.get_subcommands().front();
  const command* ran = nullptr;
  for (const command& c : commands)
    if (sub.get_name() == c.name) ran = &c;
  const command& c = *ran;
  try {
    check_options(sub, c, o);
    const int status = c.run(o);
    if (std::fflush(stdout) != 0) throw failure{message::standard_output};
    return status;
  } catch (const error& e) {
    say(e.file(), words(e, o));
    return status_trouble;
  } catch (const failure& f) {
    if (!f.text.empty()) say(f.file, f.text);
    return status_trouble;
  } catch (const std::bad_alloc&) {
    say("", message::out_of_memory);
    return status_trouble;
  }
}
