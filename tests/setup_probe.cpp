// Starts a setup executable as a process, waits for its dialog, reads its
// title and controls, optionally saves a screenshot (BMP), then presses
// Cancel, or with --install sets the destination, unchecks the languages
// named by --uncheck, presses OK, waits for the closing message, records and
// photographs it and confirms it. Checks that the process ends with exit code
// 0. Prints the times from the process start to the dialog, to the press of
// OK and to the message. A message box in place of the dialog passes when it
// is --message. Used by the end-to-end tests, by scripts/run-sample-setup.sh
// and by bench/install_bench.sh.
//   setup_probe SETUP.EXE [--title T] [--cancel T] [--items N] [--screenshot F]
//               [--wait MS] [--keep-open] [--install DEST [--uncheck CODE]...
//               [--message T] [--message-screenshot F]]
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Options {
  std::wstring setup, title, cancel, screenshot;
  std::wstring install, message, message_screenshot;  // --install mode
  std::vector<std::wstring> uncheck;                  // language codes to uncheck
  int items = -1;
  int wait_ms = 400;   // settle time before the screenshot
  bool keep_open = false;
};

// How often the windows of the setup program are looked for. Every look is a
// few requests to the window server, which the setup program needs too; a
// millisecond poll would slow down the installation being timed.
constexpr DWORD kPollMs = 5;

// The setup dialog (the one with the language list) or a message box (a
// dialog with the static text 0xFFFF) of the process.
struct Search {
  DWORD process;
  bool box;
  HWND found;
};

BOOL CALLBACK find_window(HWND window, LPARAM value) {
  Search* search = reinterpret_cast<Search*>(value);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  const bool dialog = GetDlgItem(window, 1010) != nullptr;
  if (process == search->process && IsWindowVisible(window) && lstrcmpW(name, L"#32770") == 0 &&
      (search->box ? !dialog && GetDlgItem(window, 0xFFFF) != nullptr : dialog)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

std::wstring text_of(HWND window) {
  wchar_t text[600] = {};
  SendMessageW(window, WM_GETTEXT, 600, reinterpret_cast<LPARAM>(text));
  return text;
}

void print(const char* label, const std::wstring& text) {
  char utf8[1800] = {};
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
  std::printf("%s: %s\n", label, utf8);
}

// Saves the screen area of window as a 24-bit BMP file.
bool save_screenshot(HWND window, const std::wstring& path) {
  RECT r;
  GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD stride = (width * 3 + 3) & ~3u;
  std::vector<unsigned char> pixels(stride * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) && WriteFile(out, &info, sizeof info, &written, nullptr) &&
            WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
  CloseHandle(out);
  return ok;
}

// Unchecks the language item whose code (two letters, first in the low
// byte) is given, in the other process's list: the list view's structures
// must live in that process's memory.
bool uncheck_language(HANDLE process, HWND list, const std::wstring& code) {
  if (code.size() != 2) return false;
  void* remote = VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote == nullptr) return false;
  LVFINDINFOW find = {};
  find.flags = LVFI_PARAM;
  find.lParam = static_cast<LPARAM>(code[0] & 0xFF) | static_cast<LPARAM>(code[1] & 0xFF) << 8;
  SIZE_T done = 0;
  WriteProcessMemory(process, remote, &find, sizeof find, &done);
  const int index = static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(remote)));
  if (index >= 0) {
    LVITEMW item = {};
    item.stateMask = 0xF000;
    item.state = 0x1000;
    WriteProcessMemory(process, remote, &item, sizeof item, &done);
    SendMessageW(list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(remote));
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return index >= 0;
}

// Sets the destination, unchecks languages, presses OK and handles the
// message that follows. Returns the number of failures.
int install(const Options& o, PROCESS_INFORMATION& process, HWND dialog, const LARGE_INTEGER& start,
            const LARGE_INTEGER& frequency) {
  int failures = 0;
  SendMessageW(GetDlgItem(dialog, 1032), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(o.install.c_str()));
  for (const std::wstring& code : o.uncheck) {
    if (!uncheck_language(process.hProcess, GetDlgItem(dialog, 1010), code)) {
      ++failures;
      print("setup_probe: no language item", code);
    }
  }
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::printf("OK pressed after %.1f ms\n", 1000.0 * (now.QuadPart - start.QuadPart) / frequency.QuadPart);
  PostMessageW(GetDlgItem(dialog, 99), BM_CLICK, 0, 0);
  Search search = {process.dwProcessId, true, nullptr};
  for (;;) {
    EnumThreadWindows(process.dwThreadId, find_window, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) break;
    if (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) break;
    QueryPerformanceCounter(&now);
    if (now.QuadPart - start.QuadPart > 300 * frequency.QuadPart) break;
  }
  QueryPerformanceCounter(&now);
  if (search.found == nullptr) {
    std::fprintf(stderr, "setup_probe: no message after OK\n");
    return failures + 1;
  }
  std::printf("message shown after %.1f ms\n", 1000.0 * (now.QuadPart - start.QuadPart) / frequency.QuadPart);
  const std::wstring text = text_of(GetDlgItem(search.found, 0xFFFF));
  print("message caption", text_of(search.found));
  print("message", text);
  if (!o.message.empty() && text != o.message) ++failures, std::fprintf(stderr, "setup_probe: unexpected message\n");
  Sleep(o.wait_ms);
  if (!o.message_screenshot.empty()) {
    if (save_screenshot(search.found, o.message_screenshot)) print("message screenshot", o.message_screenshot);
    else ++failures, std::fprintf(stderr, "setup_probe: cannot write the message screenshot\n");
  }
  PostMessageW(search.found, WM_COMMAND, IDOK, 0);
  print("installed into", o.install);
  return failures;
}

bool parse(int argc, wchar_t** argv, Options& o) {
  if (argc < 2) return false;
  o.setup = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == L"--keep-open") o.keep_open = true;
    else if (arg == L"--title" && has_value) o.title = argv[++i];
    else if (arg == L"--cancel" && has_value) o.cancel = argv[++i];
    else if (arg == L"--items" && has_value) o.items = _wtoi(argv[++i]);
    else if (arg == L"--screenshot" && has_value) o.screenshot = argv[++i];
    else if (arg == L"--wait" && has_value) o.wait_ms = _wtoi(argv[++i]);
    else if (arg == L"--install" && has_value) o.install = argv[++i];
    else if (arg == L"--uncheck" && has_value) o.uncheck.push_back(argv[++i]);
    else if (arg == L"--message" && has_value) o.message = argv[++i];
    else if (arg == L"--message-screenshot" && has_value) o.message_screenshot = argv[++i];
    else return false;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::fprintf(stderr, "usage: setup_probe SETUP.EXE [--title T] [--cancel T] [--items N] [--screenshot F] [--wait MS] [--keep-open]\n"
                         "                   [--install DEST [--uncheck CODE]... [--message T] [--message-screenshot F]]\n");
    return 2;
  }
  LARGE_INTEGER frequency, start, shown;
  QueryPerformanceFrequency(&frequency);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring command = L"\"" + o.setup + L"\"";
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(o.setup.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "setup_probe: cannot start the setup program (error %lu)\n", GetLastError());
    return 1;
  }
  Search search = {process.dwProcessId, false, nullptr};
  Search early = {process.dwProcessId, true, nullptr};
  for (;;) {
    EnumThreadWindows(process.dwThreadId, find_window, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) break;
    EnumThreadWindows(process.dwThreadId, find_window, reinterpret_cast<LPARAM>(&early));
    if (early.found != nullptr) break;
    if (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) break;
    QueryPerformanceCounter(&shown);
    if (shown.QuadPart - start.QuadPart > 60 * frequency.QuadPart) break;
  }
  QueryPerformanceCounter(&shown);
  if (early.found != nullptr && !o.message.empty()) {
    // A message instead of the dialog (a damaged package): it must be the one expected.
    const std::wstring text = text_of(GetDlgItem(early.found, 0xFFFF));
    print("message before any dialog", text);
    PostMessageW(early.found, WM_COMMAND, IDOK, 0);
    const bool ended = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process.hProcess, 1);
    return ended && text == o.message ? 0 : 1;
  }
  if (search.found == nullptr) {
    std::fprintf(stderr, "setup_probe: no dialog appeared\n");
    TerminateProcess(process.hProcess, 1);
    return 1;
  }
  std::printf("dialog shown after %.1f ms\n", 1000.0 * (shown.QuadPart - start.QuadPart) / frequency.QuadPart);

  HWND dialog = search.found;
  int failures = 0;
  if (!o.message.empty() && o.install.empty()) ++failures, std::fprintf(stderr, "setup_probe: a dialog, not the message\n");
  const std::wstring title = text_of(dialog);
  const std::wstring cancel = text_of(GetDlgItem(dialog, 2));
  const int items = static_cast<int>(SendMessageW(GetDlgItem(dialog, 1010), LVM_GETITEMCOUNT, 0, 0));
  print("title", title);
  print("label", text_of(GetDlgItem(dialog, 1001)));
  print("ok", text_of(GetDlgItem(dialog, 99)));
  print("cancel", cancel);
  print("destination label", text_of(GetDlgItem(dialog, 1031)));
  for (int id : {1041, 1042, 1043}) print("check box", text_of(GetDlgItem(dialog, id)));
  std::printf("languages: %d\n", items);
  if (!o.title.empty() && title != o.title) ++failures, std::fprintf(stderr, "setup_probe: unexpected title\n");
  if (!o.cancel.empty() && cancel != o.cancel) ++failures, std::fprintf(stderr, "setup_probe: unexpected Cancel text\n");
  if (o.items >= 0 && items != o.items) ++failures, std::fprintf(stderr, "setup_probe: unexpected language count\n");

  Sleep(o.wait_ms);
  if (!o.screenshot.empty()) {
    if (save_screenshot(dialog, o.screenshot)) print("screenshot", o.screenshot);
    else ++failures, std::fprintf(stderr, "setup_probe: cannot write the screenshot\n");
  }
  if (o.keep_open) {
    WaitForSingleObject(process.hProcess, INFINITE);
  } else if (!o.install.empty()) {
    failures += install(o, process, dialog, start, frequency);
  } else {
    SendMessageW(GetDlgItem(dialog, 2), BM_CLICK, 0, 0);
  }
  DWORD exit_code = 1;
  if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "setup_probe: the setup program did not end\n");
    TerminateProcess(process.hProcess, 1);
    ++failures;
  } else {
    GetExitCodeProcess(process.hProcess, &exit_code);
    std::printf("exit code: %lu\n", exit_code);
    if (exit_code != 0) ++failures;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return failures == 0 ? 0 : 1;
}
