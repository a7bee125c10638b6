// What the tests ask of Windows itself that Python on Linux cannot:
//   probe run PROGRAM LINE   starts PROGRAM with exactly LINE as its command line (as typed in a
//                            console: its quotes and backslashes as they are), its status its own
//   probe short PATH         prints the 8.3 name of PATH (GetShortPathNameW)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wcscmp(argv[1], L"run") == 0) {
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION started{};
    std::wstring line = argv[3];
    if (!::CreateProcessW(argv[2], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                          &started))
      return 125;
    ::WaitForSingleObject(started.hProcess, INFINITE);
    DWORD status = 0;
    ::GetExitCodeProcess(started.hProcess, &status);
    return static_cast<int>(status);
  }
  if (argc == 3 && std::wcscmp(argv[1], L"short") == 0) {
    wchar_t name[32768];
    const DWORD n = ::GetShortPathNameW(argv[2], name, 32768);
    if (n == 0 || n >= 32768) return 1;
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, name, -1, text.data(), bytes, nullptr, nullptr);
    std::puts(text.c_str());
    return 0;
  }
  return 2;
}
