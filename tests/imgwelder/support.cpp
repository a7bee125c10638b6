#include "tests/imgwelder/support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace iwtest {

std::vector<item> struct_unpack(const std::string& fmt, const bytes& data) {
  std::vector<item> items;
  std::size_t pos = 0;
  std::size_t i = fmt.size() > 0 && fmt[0] == '<' ? 1 : 0;
  while (i < fmt.size()) {
    std::size_t count = 0;
    bool counted = false;
    while (fmt[i] >= '0' && fmt[i] <= '9') {
      count = count * 10 + static_cast<std::size_t>(fmt[i++] - '0');
      counted = true;
    }
    if (!counted) count = 1;
    const char code = fmt[i++];
    if (code == 's') {
      if (pos + count > data.size()) throw std::runtime_error("short");
      items.emplace_back(std::string(data.begin() + pos, data.begin() + pos + count));
      pos += count;
      continue;
    }
    const std::size_t width = code == 'B' ? 1 : code == 'H' ? 2 : 4;
    for (std::size_t k = 0; k < count; ++k) {
      if (pos + width > data.size()) throw std::runtime_error("short");
      std::uint64_t v = 0;
      for (std::size_t b = 0; b < width; ++b) v |= std::uint64_t{data[pos + b]} << (8 * b);
      items.emplace_back(v);
      pos += width;
    }
  }
  if (pos != data.size()) throw std::runtime_error("size mismatch");
  return items;
}

std::uint64_t num(const item& i) { return std::get<std::uint64_t>(i); }
std::string str(const item& i) { return std::get<std::string>(i); }

scratch_dir::scratch_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/imgwelder-test-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

scratch_dir::~scratch_dir() { std::system(("rm -rf " + quoted(path_)).c_str()); }

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void write_bytes(const std::string& path, const bytes& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("write " + path);
}

bytes read_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("read " + path);
  return bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bytes pattern(std::size_t size, std::uint8_t seed) {
  bytes b(size);
  std::uint32_t x = 0x9e3779b9u * (seed + 1u);
  for (auto& v : b) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v = static_cast<std::uint8_t>(x);
  }
  return b;
}

run_result run(const std::string& command_line) {
  run_result r{"", -1};
  FILE* p = popen(command_line.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string quoted(const std::string& path) {
  std::string word = "'";
  for (char ch : path) word += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return word + "'";
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  return lines;  // like the module: a last piece without a line break is dropped
}

}  // namespace iwtest
