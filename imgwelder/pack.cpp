#include "pack.hpp"

#include "option_reader.hpp"
#include "platform.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace imgwelder {

std::array<std::uint8_t, 7> release_time_now() {
    // SOURCE_DATE_EPOCH makes builds reproducible
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"))
        if (const auto v = parse_number(epoch, 0xffffffffu)) now = static_cast<std::time_t>(*v);
    const std::tm tm = vexdram::platform::utc_time(now);
    return make_release_time(static_cast<unsigned>(tm.tm_year + 1900), static_cast<unsigned>(tm.tm_mon + 1),
                             static_cast<unsigned>(tm.tm_mday), static_cast<unsigned>(tm.tm_hour),
                             static_cast<unsigned>(tm.tm_min), static_cast<unsigned>(tm.tm_sec));
}

bool build_pack(const std::vector<std::string>& args, const file_reader& read, container& c,
                std::string& out, std::string& error) try {
    option_reader r("pack", args);
    c = container{};
    c.release_time = release_time_now();
    std::string param_file;
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

    for (std::size_t t = 0; t < table_count; ++t)
        for (const auto& path : image_paths[t]) {
            image img;
            img.name = path.substr(vexdram::platform::last_separator(path) + 1);   // npos + 1 is 0
            if (!is_safe_image_name(img.name)) throw failure{format(msg::unsafe_image_file, path.c_str())};
            if (!read(path, img.data, error)) return false;
            img.delay = t == 0 ? delay471 : t == 1 ? delay472 : 0;
            c.tables[t].push_back(std::move(img));
        }
    if (!param_file.empty()) {
        std::vector<std::uint8_t> bytes;
        if (!read(param_file, bytes, error)) return false;
        if (bytes.size() != loader_param_length) throw failure{msg::bad_loader_param_file};
        std::array<std::uint8_t, loader_param_length> params{};
        std::copy(bytes.begin(), bytes.end(), params.begin());
        if (!put_loader_params(c, params, error)) return false;
    }

    return true;
} catch (const failure& f) {
    error = f.text;
    return false;
}

} // namespace imgwelder
