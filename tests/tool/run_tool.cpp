// Runs of the real program (fork and exec): the program tests, on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/tool/support.h"

extern char** environ;

namespace tt {

namespace {
// The copy of the tool for runs under another user; removed at exit with its directory.
const std::string& tool_copy() {
  static scratch dir;
  static const std::string path = [] {
    const std::string p = dir / "vexdram_tool";
    write_file(p, read_file(VEXDRAM_TOOL));
    ::chmod(dir.dir.c_str(), 0755);
    ::chmod(p.c_str(), 0755);
    return p;
  }();
  return path;
}

// Forks; the child takes on `uid` (when >= 0) and runs `body`, whose result is its exit status.
template <typename F>
int as_user(int uid, F body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (uid >= 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(125);
    ::_exit(body());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
}  // namespace

std::string tool_unreachable_by(int uid) {
  const std::string& tool = tool_copy();
  switch (as_user(uid, [&] { return ::access(tool.c_str(), X_OK) == 0 ? 0 : 1; })) {
    case 0: return "";
    case 125: return "cannot switch to uid " + std::to_string(uid);
    default:
      return "uid " + std::to_string(uid) + " cannot run " + tool + " (is /tmp mounted noexec?)";
  }
}

result run_tool(const std::vector<std::string>& args, int uid) {
  int fds[2];
  if (::pipe(fds) != 0) return {"", -1};
  const char* tool = uid >= 0 ? tool_copy().c_str() : VEXDRAM_TOOL;
  std::vector<char*> argv{const_cast<char*>(tool)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    if (uid >= 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(127);
    ::execve(tool, argv.data(), environ);
    ::_exit(127);
  }
  ::close(fds[1]);
  result r{"", -1};
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) r.out.append(buf, n);
  ::close(fds[0]);
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    r.status = WEXITSTATUS(status);
  return r;
}

}  // namespace tt
