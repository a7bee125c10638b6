// imgwelder: takes loader containers apart and builds them (command line: command_line.hpp).
// Everything goes to standard output, failures included: callers read only that stream.
#include "command_line.hpp"
#include "container.hpp"
#include "files.hpp"
#include "messages.hpp"
#include "text.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace imgwelder;

struct failure {
    std::string text;
};

int fail(const std::string& text) {
    std::printf("%s\n", text.c_str());
    return status_failed;
}

std::optional<std::uint32_t> parse_number(const std::string& s, std::uint32_t max) {
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

std::uint32_t number_option(option_reader& r, const std::string& option, std::uint32_t max) {
    const auto v = parse_number(r.value(option), max);
    if (!v) throw failure{format(msg::bad_number, option.c_str(), max)};
    return *v;
}

std::array<std::uint8_t, 7> release_time_now() {
    // SOURCE_DATE_EPOCH makes builds reproducible
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"))
        if (const auto v = parse_number(epoch, 0xffffffffu)) now = static_cast<std::time_t>(*v);
    std::tm tm{};
    gmtime_r(&now, &tm);
    return make_release_time(static_cast<unsigned>(tm.tm_year + 1900), static_cast<unsigned>(tm.tm_mon + 1),
                             static_cast<unsigned>(tm.tm_mday), static_cast<unsigned>(tm.tm_hour),
                             static_cast<unsigned>(tm.tm_min), static_cast<unsigned>(tm.tm_sec));
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
    if (!read_file(input, bytes, error) || !unpack_to_directory(bytes.data(), bytes.size(), dir, lines, error))
        return fail(error);
    for (const auto& line : lines) std::printf("%s\n", line.c_str());
    return status_ok;
}

int run_pack(option_reader r) {
    container c;
    c.release_time = release_time_now();
    std::string out, param_file;
    std::uint32_t delay471 = 0, delay472 = 0;
    std::array<std::vector<std::string>, table_count> image_paths;

    while (!r.done()) {
        const std::string opt = r.option();
        if (opt == "-1" || opt == "-2" || opt == "-3") {
            image_paths[static_cast<std::size_t>(opt[1] - '1')].push_back(r.value(opt));
        } else if (opt == "-c") {
            const std::string v = r.value(opt);
            if (v.size() != 7 || v.compare(0, 2, "-T") != 0 || (v[2] != 'Q' && v[2] != 'N'))
                throw failure{msg::bad_chip};
            for (std::size_t i = 0; i < 4; ++i) {
                const char ch = v[3 + i];
                const bool alnum = (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
                if (!alnum) throw failure{msg::bad_chip};
                c.chip_code[i] = ch;
            }
            c.chip_family = v[2];
        } else if (opt == "-v") {
            const std::string v = r.value(opt);
            const auto dot = v.find('.');
            const auto major = dot == std::string::npos ? std::nullopt : parse_number(v.substr(0, dot), 255);
            const auto minor = dot == std::string::npos ? std::nullopt : parse_number(v.substr(dot + 1), 255);
            if (!major || !minor) throw failure{msg::bad_version};
            c.version = {static_cast<std::uint8_t>(*minor), static_cast<std::uint8_t>(*major), 0, 0};
        } else if (opt == "-n") {
            c.ldr_tag = true;
        } else if (opt == "-d") {
            delay471 = number_option(r, opt, 255);
        } else if (opt == "-s") {
            delay472 = number_option(r, opt, 255);
        } else if (opt == "-r") {
            const std::uint32_t bits = number_option(r, opt, 7);
            c.rc4_flag = bits & 1u;
            c.rc4_off_471 = (bits >> 1) & 1u;
            c.crc_off = (bits >> 2) & 1u;
        } else if (opt == "-a") {
            c.alignment = number_option(r, opt, max_alignment);
        } else if (opt == "-l") {
            param_file = r.value(opt);
        } else if (opt == "-o") {
            out = r.value(opt);
        }
    }
    r.finish();

    std::string error;
    for (std::size_t t = 0; t < table_count; ++t)
        for (const auto& path : image_paths[t]) {
            image img;
            img.name = path.substr(path.find_last_of('/') + 1);   // npos + 1 is 0
            if (!is_safe_image_name(img.name)) throw failure{format(msg::unsafe_image_file, path.c_str())};
            if (!read_file(path, img.data, error)) return fail(error);
            img.delay = t == 0 ? delay471 : t == 1 ? delay472 : 0;
            c.tables[t].push_back(std::move(img));
        }
    if (!param_file.empty()) {
        std::vector<std::uint8_t> bytes;
        if (!read_file(param_file, bytes, error)) return fail(error);
        if (bytes.size() != loader_param_length) throw failure{msg::bad_loader_param_file};
        std::array<std::uint8_t, loader_param_length> params{};
        std::copy(bytes.begin(), bytes.end(), params.begin());
        if (!put_loader_params(c, params, error)) return fail(error);
    }

    std::vector<std::uint8_t> bytes;
    // A container that hosts could not unpack is never written.
    if (!write_container(c, bytes, error) || !listing_readable(c, error) || !write_file_atomic(out, bytes, error))
        return fail(error);
    unsigned count = 0;
    for (const auto& table : c.tables) count += static_cast<unsigned>(table.size());
    // the output path is not echoed: a success text must never carry the word callers test for
    std::printf(msg::packed, count, static_cast<unsigned>(bytes.size()));
    std::printf("\n");
    return status_ok;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::printf("%s\n%s", msg::no_command, usage().c_str());
        return status_failed;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    try {
        if (command == "unpack") return run_unpack(option_reader("unpack", std::move(args)));
        if (command == "pack") return run_pack(option_reader("pack", std::move(args)));
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
