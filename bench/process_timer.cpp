// Runs a program with its arguments as one process and prints how long the
// process took, from CreateProcessW to its end, and its exit code. Lets the
// installation benchmark time other installers the way it times ours: from
// inside the running Wine session, without Wine's own start-up.
//   process_timer PROGRAM [ARGUMENT]...
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: process_timer PROGRAM [ARGUMENT]...\n");
    return 2;
  }
  // Arguments are passed on as given, quoted only when they hold a blank:
  // installers such as NSIS read "/D=" to the end of the line unquoted.
  std::wstring command;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (i > 1) command += L' ';
    const bool quote = i == 1 || (arg.find(L' ') != std::wstring::npos && arg.rfind(L"/D=", 0) != 0);
    command += quote ? L"\"" + arg + L"\"" : arg;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(argv[1], command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "process_timer: cannot start the program (error %lu)\n", GetLastError());
    return 1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  QueryPerformanceCounter(&end);
  DWORD exit_code = 1;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("process ran for %.1f ms\nexit code: %lu\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart,
              exit_code);
  return exit_code == 0 ? 0 : 1;
}
