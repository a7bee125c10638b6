#include "files.hpp"

#include "container.hpp"
#include "messages.hpp"
#include "text.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace imgwelder {
namespace {

constexpr const char* temp_pattern = "/.imgwelder-XXXXXX";

mode_t file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool write_all(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Creates a complete temporary file in `dir`; its name goes to `temp`. Nothing is left on failure.
bool write_temp(const std::string& dir, const std::uint8_t* p, std::size_t n, std::string& temp) {
    std::string name = dir + temp_pattern;
    const int fd = mkstemp(name.data());
    if (fd < 0) return false;
    bool ok = write_all(fd, p, n) && fchmod(fd, file_mode()) == 0 && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(name.c_str());
        return false;
    }
    temp = std::move(name);
    return true;
}

// Makes the renames in `dir` durable too. Best effort: some file systems refuse to sync a
// directory, and the files themselves are complete and synced by then.
void sync_dir(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

std::string parent_dir(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

} // namespace

bool read_file(const std::string& path, std::vector<std::uint8_t>& out, std::string& error) {
    out.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = format(msg::cannot_read, path.c_str());
        return false;
    }
    struct stat st {};
    if (::fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) out.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t block[1 << 16];  // not zeroed: fread fills what is used
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) out.insert(out.end(), block, block + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) error = format(msg::cannot_read, path.c_str());
    return ok;
}

bool write_file_atomic(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
    std::string temp;
    const std::string dir = parent_dir(path);
    if (!write_temp(dir, bytes.data(), bytes.size(), temp)) {
        error = format(msg::cannot_write, path.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        error = format(msg::cannot_write, path.c_str());
        return false;
    }
    sync_dir(dir);
    return true;
}

bool unpack_to_directory(const std::uint8_t* data, std::size_t size, const std::string& dir,
                         std::vector<std::string>& lines, std::string& error) {
    container c;
    if (!read_container(data, size, c, error)) return false;

    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT || ::mkdir(dir.c_str(), 0777) != 0) {
            error = format(msg::cannot_create_dir, dir.c_str());
            return false;
        }
    } else if (!S_ISDIR(st.st_mode)) {
        error = format(msg::cannot_create_dir, dir.c_str());
        return false;
    }

    // All images go to temporary files first; only when every one is complete are they
    // renamed to their names, which the reader has checked to be plain base names.
    std::vector<std::pair<std::string, std::string>> pending;   // temporary, final
    auto discard = [&pending](std::size_t from) {
        for (std::size_t i = from; i < pending.size(); ++i) ::unlink(pending[i].first.c_str());
    };
    for (const auto& table : c.tables)
        for (const auto& img : table) {
            std::string temp;
            const std::string final_path = dir + "/" + img.name;
            if (!write_temp(dir, img.data.data(), img.data.size(), temp)) {
                discard(0);
                error = format(msg::cannot_write, final_path.c_str());
                return false;
            }
            pending.emplace_back(std::move(temp), final_path);
        }
    for (std::size_t i = 0; i < pending.size(); ++i)
        if (std::rename(pending[i].first.c_str(), pending[i].second.c_str()) != 0) {
            discard(i);
            error = format(msg::cannot_write, pending[i].second.c_str());
            return false;
        }
    sync_dir(dir);
    lines = listing(c);
    return true;
}

} // namespace imgwelder
