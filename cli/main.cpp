// vexdram: the DDR parameter block from scripts and build systems. show, get, set, apply, diff,
// template, keys, chips; every failure is a message on standard error and a status of 2, and a
// write is all or nothing. This file owns the command line and the statuses; what a file is, how
// it is read and written, and how values are printed live beside it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/binary.h"
#include "cli/chip.h"
#include "cli/command_text.h"
#include "cli/errors.h"
#include "cli/files.h"
#include "cli/output.h"
#include "cli/param_file.h"
#include "cli/values.h"
#include "cli/writer.h"
#include "imgwelder/option_reader.h"
#include "platform/platform.h"
#include "tool/report.h"

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

// Where the edited files go.
struct destination {
  const std::string& out;
  const std::string& out_dir;
  bool in_place;
  bool force;
  double wait;
};

// Refusals, one line each; a command that has any writes nothing and ends with status 2.
struct refusals {
  std::vector<std::pair<std::string, std::string>> lines;
  void add(const std::string& file, const std::string& text) { lines.emplace_back(file, text); }
  void raise_if_any() const {
    if (lines.empty()) return;
    for (const auto& [file, text] : lines) say(file, text);
    throw trouble{};  // already said
  }
};

void notes_of(const binary& b) {
  for (const std::string& n : b.notes()) say(b.path(), n);
}

int show(const options& o) {
  const binary b(o.file, o.chip);
  notes_of(b);
  if (!print(o.json ? show_json(b) : report(b))) throw trouble{"cannot write to standard output"};
  return status_ok;
}

int get(const options& o) {
  std::vector<param> keys;
  refusals bad;
  for (const std::string& k : o.keys) {
    if (const auto n = find_key(k)) keys.push_back(*n);
    else bad.add(o.file, unknown_key(k));
  }
  bad.raise_if_any();
  const binary b(o.file, o.chip);
  notes_of(b);
  if (!print(o.json ? get_json(b.values(), keys) : get_text(b.values(), keys)))
    throw trouble{"cannot write to standard output"};
  return status_ok;
}

// A target named as Windows names its devices: refused there before anything is opened.
constexpr const char* device_refusal =
    "is a device's name on Windows (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, with any extension "
    "or none): give the file another name";

// The target of one input, checked before it is read: in place the file itself (the file a
// symlink leads to), else OUT or DIR/its name. Only a regular file is ever replaced.
std::string target_for(const std::string& path, const destination& d) {
  using type = platform::file_status::type;
  if (d.in_place) {
    // by its name alone: opening a serial or a printer port may already do something
    if (platform::device_name(path)) throw trouble{device_refusal, path};
    const auto st = platform::status_of(path);
    if (!st) throw trouble{"cannot open: " + os_error(), path};
    if (st->kind != type::regular) throw trouble{"not a regular file: write it with -o OUT", path};
    // A file kept read-only on purpose (a vendor's blob, say) is not replaced by mistake.
    if ((st->mode & 0222) == 0 && !d.force)
      throw trouble{"is read-only (no write bit for anyone): give --force to replace it in place",
                    path};
    return output_target(path);
  }
  const std::string out =
      d.out_dir.empty() ? d.out : d.out_dir + "/" + path.substr(platform::last_separator(path) + 1);
  if (platform::device_name(out)) throw trouble{device_refusal, out};
  if (same_file(out, path)) throw trouble{out + " is the input itself: use --in-place", path};
  const std::string target = output_target(out);
  if (const auto st = platform::status_of(target)) {
    if (st->kind != type::regular)
      throw trouble{"not a regular file: vexdram replaces only regular files", out};
    if (!d.force) throw trouble{"exists: give --force to replace it", out};
  }
  return target;
}

// Every input's target, checked and (unless a dry run) locked, before any input is read: the
// locks are held from the read to the rename.
std::vector<std::string> targets_of(writer& w, const std::vector<std::string>& paths,
                                    const destination& d, bool dry_run) {
  std::vector<std::string> targets;
  // A dry run may name no destination: then there is nothing to check.
  if (!d.in_place && d.out.empty() && d.out_dir.empty())
    return std::vector<std::string>(paths.size());
  std::set<std::string> seen;  // by the one name each file has ("F" and "F." on Windows)
  for (const std::string& path : paths) {
    targets.push_back(target_for(path, d));
    if (!seen.insert(platform::canonical_name(targets.back())).second)
      throw trouble{"two inputs would both be written there", targets.back()};
  }
  if (!dry_run)
    for (const std::string& t : targets) w.lock(t, d.wait);
  return targets;
}

// A container records its release time: SOURCE_DATE_EPOCH when set. A value that is no time
// ends the run, as reproducible builds ask, rather than falling back to the clock.
void check_source_date_epoch() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch && !imgwelder::parse_number(epoch, 0xffffffffu))
    throw trouble{"SOURCE_DATE_EPOCH='" + std::string(epoch) +
                  "' is not a number of seconds from 0 to 4294967295 (unset it to use the clock)"};
}

// Writes every output at once (unless a dry run), then prints the changes of every input: what
// is printed has been written.
int write_all(writer& w, const std::vector<const binary*>& inputs,
              const std::vector<std::string>& targets, const std::vector<std::vector<edit>>& edits,
              const destination& d, bool dry_run) {
  std::string changes;
  std::vector<bool> changed(inputs.size(), false);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i]->what() == kind::loader) check_source_date_epoch();
    std::vector<bool> said(base_info_tag_size, false);  // a key given twice is one change
    for (const edit& e : edits[i]) {
      const std::uint32_t old = inputs[i]->values()[e.n];
      if (old == e.value || said[e.n]) continue;
      said[e.n] = true;
      changed[i] = true;
      changes += (inputs.size() > 1 ? escaped(inputs[i]->path()) + ": " : "") +
                 change_line(e.n, old, e.value);
    }
  }
  if (!dry_run) {
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      // In place, a file whose values stay as they are is not rewritten.
      if (d.in_place && !changed[i]) continue;
      try {
        w.add(
            targets[i], inputs[i]->status(), d.in_place,
            [&](platform::native_file f, const std::string& temp) {
              return inputs[i]->write_edited(f, temp, edits[i]).check;
            },
            d.in_place ? &inputs[i]->status() : nullptr, d.in_place || d.force);
      } catch (trouble& t) {
        if (t.file.empty()) t.file = targets[i];
        throw;
      }
    }
    w.commit();
  }
  if (!print(changes) || std::fflush(stdout) != 0)
    throw trouble{dry_run ? "cannot write to standard output"
                          : "written, but the changes could not be printed on standard output"};
  return status_ok;
}

int set(const options& o, const destination& d) {
  writer w;
  const std::vector<std::string> targets = targets_of(w, {o.file}, d, o.dry_run);
  const binary b(o.file, o.chip);
  notes_of(b);
  const assignments checked = check_assignments(b, o.keys);
  refusals bad;
  for (const std::string& problem : checked.problems) bad.add(b.path(), problem);
  bad.raise_if_any();
  return write_all(w, {&b}, targets, {checked.edits}, d, o.dry_run);
}

int apply(const options& o, const destination& d) {
  if (!o.out.empty() && o.files.size() > 1)
    throw trouble{"-o names one output: give --out-dir DIR for several files"};
  const param_file pf = read_param_file(read_whole(o.params));
  const std::string params_name = o.params == "-" ? "standard input" : o.params;
  refusals bad;
  for (const auto& p : pf.problems)
    bad.add(params_name, "line " + std::to_string(p.line) + ": " + p.reason);
  bad.raise_if_any();
  writer w;
  const std::vector<std::string> targets = targets_of(w, o.files, d, o.dry_run);
  std::vector<std::unique_ptr<binary>> inputs;
  std::vector<std::vector<edit>> edits;
  for (const std::string& f : o.files) {
    inputs.push_back(std::make_unique<binary>(f, o.chip));
    notes_of(*inputs.back());
    if (const std::string why = inputs.back()->unwritable(); !why.empty()) bad.add(f, why);
    edits.emplace_back();
    for (const param_file::value& v : pf.values) {
      if (v.n == p::start_tag) continue;
      const edit e{v.n, v.number, v.line};
      if (const std::string why = inputs.back()->refusal(e); !why.empty())
        bad.add(f, params_name + " line " + std::to_string(v.line) + ": " +
                       std::string(base_info_tag[v.n]) + "=" + report_text(v.n, v.number) + ": " +
                       why);
      else edits.back().push_back(e);
    }
  }
  bad.raise_if_any();
  std::vector<const binary*> all;
  for (const auto& b : inputs) all.push_back(b.get());
  return write_all(w, all, targets, edits, d, o.dry_run);
}

side side_of(const std::string& path, const std::string& chip) {
  side s{path, std::vector<std::optional<std::uint32_t>>(base_info_tag_size)};
  if (looks_like_text(path)) {
    const param_file pf = read_param_file(read_whole(path));
    refusals bad;
    for (const auto& p : pf.problems)
      bad.add(path, "line " + std::to_string(p.line) + ": " + p.reason);
    bad.raise_if_any();
    for (const param_file::value& v : pf.values) s.values[v.n] = v.number;
    return s;
  }
  const binary b(path, chip);
  notes_of(b);
  for (std::size_t n = 0; n < base_info_tag_size; ++n) s.values[n] = b.values()[n];
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
  const std::vector<param> differ = differences(a, b);
  if (!print(o.json ? diff_json(a, b, differ) : diff_text(a, b, differ)))
    throw trouble{"cannot write to standard output"};
  return differ.empty() ? status_ok : status_different;
}

// The usage of the command that failed to parse, and the reason, on standard error.
int usage_error(const CLI::App& app, const CLI::ParseError& e) {
  const CLI::App* at = &app;
  while (!at->get_subcommands().empty()) at = at->get_subcommands().back();
  std::fprintf(stderr, "vexdram: %s\n%s", escaped(e.what()).c_str(), at->help().c_str());
  return status_trouble;
}

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

std::string statuses() {
  std::string out = "Statuses:";
  for (const text::status& s : text::statuses)
    out += "\n  " + std::to_string(s.code) + "  " + s.meaning;
  return out;
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
  app.set_version_flag("--version", "vexdram " VEXDRAM_VERSION);
  app.require_subcommand(1);
  options o;
  auto command = [&](const char* name) {
    CLI::App* c = app.add_subcommand(name, about(name).summary);
    c->footer(about(name).details);
    c->add_option("--chip", o.chip, help_of(name, "--chip"))->type_name("CHIP");
    return c;
  };
  auto file = [&](CLI::App* c, std::string& to, const char* name, const char* what) {
    c->add_option(name, to, what)->required()->type_name("");
  };
  auto json = [&](CLI::App* c) { c->add_flag("--json", o.json, help_of(c->get_name(), "--json")); };
  auto writes = [&](CLI::App* c) {
    const std::string name = c->get_name();
    CLI::Option* out =
        c->add_option("-o,--out", o.out, help_of(name, "-o,--out"))->type_name("OUT");
    CLI::Option* in = c->add_flag("--in-place", o.in_place, help_of(name, "--in-place"));
    if (name == "apply")
      c->add_option("--out-dir", o.out_dir, help_of(name, "--out-dir"))
          ->type_name("DIR")
          ->excludes(out)
          ->excludes(in);
    out->excludes(in);
    c->add_flag("--force", o.force, help_of(name, "--force"));
    c->add_flag("--dry-run", o.dry_run, help_of(name, "--dry-run"));
    c->add_option("--wait", o.wait, help_of(name, "--wait"))
        ->type_name("SECONDS")
        ->check(CLI::Range(0.0, 86400.0).description(""));
  };

  // Only the command asked for is described to CLI11 (describing them all costs more than the
  // rest of a `get`); every one when the first argument names none (top-level help, a mistake).
  bool known = false;
  for (const text::command& c : text::commands)
    known = known || (argc > 1 && std::string(argv[1]) == c.name);
  auto wanted = [&](const char* name) { return !known || std::string(argv[1]) == name; };

  if (wanted("show")) {
    CLI::App* c = command("show");
    file(c, o.file, "FILE", "a DDR binary or a loader container");
    json(c);
  }
  if (wanted("get")) {
    CLI::App* c = command("get");
    file(c, o.file, "FILE", "a DDR binary or a loader container");
    c->add_option("KEY", o.keys, "parameter keys")->required()->type_name("");
    json(c);
  }
  if (wanted("set")) {
    CLI::App* c = command("set");
    file(c, o.file, "FILE", "a DDR binary or a loader container");
    c->add_option("KEY=VALUE", o.keys, "values: decimal without a leading 0, or 0x hexadecimal")
        ->required()
        ->type_name("");
    writes(c);
  }
  if (wanted("apply")) {
    CLI::App* c = command("apply");
    file(c, o.params, "PARAMS", "a parameter file or report, or - for standard input");
    c->add_option("FILE", o.files, "DDR binaries or loader containers")->required()->type_name("");
    writes(c);
  }
  if (wanted("diff")) {
    CLI::App* c = command("diff");
    file(c, o.file, "A", "a binary, a container, a report or a parameter file");
    file(c, o.file_b, "B", "a binary, a container, a report or a parameter file");
    json(c);
  }
  if (wanted("template")) command("template");
  if (wanted("keys")) json(command("keys"));
  if (wanted("chips")) command("chips");

  // Help and the version are results too: a full standard output is trouble.
  auto printed = [](int status) {
    if (std::fflush(stdout) == 0 && std::cout.flush()) return status;
    say("", "cannot write to standard output");
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
      std::fprintf(stderr, "vexdram: unknown command '%s'\n%s", escaped(argv[1]).c_str(),
                   app.help().c_str());
      return status_trouble;
    }
    return usage_error(app, e);
  }

  const std::string name = app.get_subcommands().front()->get_name();
  const destination d{o.out, o.out_dir, o.in_place, o.force, o.wait};
  try {
    if (app.get_subcommands().front()->count("--chip") > 0 && o.chip.empty())
      throw trouble{"--chip: an empty chip name ('vexdram chips' lists them)"};
    if (!o.chip.empty()) resolve_chip(o.chip, "");
    if ((name == "set" || name == "apply") && !o.dry_run && o.out.empty() && o.out_dir.empty() &&
        !o.in_place)
      throw trouble{name + ": nothing is written without -o OUT" +
                    (name == "apply" ? ", --out-dir DIR" : std::string()) +
                    " or --in-place (or --dry-run)"};
    int status = status_ok;
    if (name == "show") status = show(o);
    else if (name == "get") status = get(o);
    else if (name == "set") status = set(o, d);
    else if (name == "apply") status = apply(o, d);
    else if (name == "diff") status = diff(o);
    else if (name == "template") status = print(template_text()) ? status_ok : status_trouble;
    else if (name == "keys")
      status = print(o.json ? keys_json() : keys_text()) ? status_ok : status_trouble;
    else if (name == "chips") status = print(chips_text()) ? status_ok : status_trouble;
    if (std::fflush(stdout) != 0) throw trouble{"cannot write to standard output"};
    return status;
  } catch (const trouble& t) {
    if (!t.text.empty()) say(t.file, t.text);
    return status_trouble;
  } catch (const std::bad_alloc&) {
    say("", "out of memory");
    return status_trouble;
  }
}
