// Another program holding a file, until its standard input ends:
//   hold_file PATH          open with no sharing, as an editor or a virus scanner may;
//   hold_file --lock PATH   locked as a live vexdram run holds its lock (every kind of sharing, and
//                           LockFileEx on the one byte the seam locks, far past the end).
// It prints "held" once it holds the file.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  const bool lock = argc == 3 && std::wcscmp(argv[1], L"--lock") == 0;
  if (argc != 2 && !lock) return 2;
  const DWORD share = lock ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
  const HANDLE h = ::CreateFileW(argv[argc - 1], GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                 lock ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  OVERLAPPED at{};
  at.OffsetHigh = 0x7fffffff;
  if (lock && !::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
    return 1;
  std::puts("held");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  ::CloseHandle(h);
  return 0;
}
