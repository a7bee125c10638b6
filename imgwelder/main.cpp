// imgwelder: takes loader containers apart and builds them (command line: command_line.hpp).
// Everything goes to standard output, failures included: callers read only that stream.
#include "imgwelder/command_line.h"
#include "imgwelder/container.h"
#include "imgwelder/files.h"
#include "imgwelder/messages.h"
#include "imgwelder/option_reader.h"
#include "imgwelder/pack.h"
#include "imgwelder/text.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace imgwelder;

int fail(const std::string& text) {
  std::printf("%s\n", text.c_str());
  return status_failed;
}

int run_unpack(option_reader r) {
  std::string input, dir;
  while (!r.done()) {
    const std::string opt = r.option();
    if (opt == "-i") input = r.value(opt);
    else if (opt == "-o") dir = r.value(opt);
  }
  r.finish();

  std::vector<std::uint8_t> bytes;
  std::vector<std::string> lines;
  std::string error;
  if (!read_file(input, bytes, error) ||
      !unpack_to_directory(bytes.data(), bytes.size(), dir, lines, error))
    return fail(error);
  for (const auto& line : lines) std::printf("%s\n", line.c_str());
  return status_ok;
}

int run_pack(const std::vector<std::string>& args) {
  container c;
  std::string out, error;
  std::vector<std::uint8_t> bytes;
  // A container that hosts could not unpack is never written.
  if (!build_pack(args, read_file, c, out, error) || !write_container(c, bytes, error) ||
      !listing_readable(c, error) || !write_file_atomic(out, bytes, error))
    return fail(error);
  unsigned count = 0;
  for (const auto& table : c.tables) count += static_cast<unsigned>(table.size());
  // the output path is not echoed: a success text must never carry the word callers test for
  std::printf(msg::packed, count, static_cast<unsigned>(bytes.size()));
  std::printf("\n");
  return status_ok;
}

}  // namespace

int main(int argc, char** argv) {
  vexdram::platform::arguments utf8(argc, argv);  // the names as typed, on every system
  vexdram::platform::binary_std_streams();
  std::vector<std::string> args(utf8.argv() + 1, utf8.argv() + utf8.argc());
  if (args.empty()) {
    std::printf("%s\n%s", msg::no_command, usage().c_str());
    return status_failed;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  try {
    if (command == "unpack") return run_unpack(option_reader("unpack", std::move(args)));
    if (command == "pack") return run_pack(args);
    if (command == "-h" || command == "--help" || command == "help") {
      std::printf("%s", usage().c_str());
      return status_ok;
    }
    return fail(format(msg::unknown_command, command.c_str()));
  } catch (const failure& f) {
    return fail(f.text);
  } catch (const std::bad_alloc&) {
    return fail(msg::out_of_memory);
  }
}
