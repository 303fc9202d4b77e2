// Starts a setup executable as a process and drives its dialog from outside:
// prints its texts, photographs it and presses Cancel, or with --install sets
// the destination, presses OK and checks and confirms the closing message,
// printing the time of each step. Used by the end-to-end
// tests (ctest matches the lines it prints), scripts/run-sample-setup.sh and
// bench/install_bench.sh.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
  std::wstring setup, screenshot;
  std::wstring install, message, message_screenshot;  // --install mode
  int wait_ms = 400;  // settle time before a screenshot
};

// How often the windows of the setup program are looked for. Every look is a
// few requests to the window server, which the setup program needs too; a
// millisecond poll would slow down the installation being timed.
constexpr DWORD kPollMs = 5;

int failures = 0;
LARGE_INTEGER frequency, start;

void fail(const char* what) {
  ++failures;
  std::fprintf(stderr, "setup_probe: %s\n", what);
}

double ms_since_start() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The setup dialog (the one with the language list) or a message box (a
// dialog with the static text 0xFFFF) of the setup program's thread.
struct Search {
  HWND dialog, box;
};

BOOL CALLBACK find_window(HWND window, LPARAM value) {
  Search* search = reinterpret_cast<Search*>(value);
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (!IsWindowVisible(window) || lstrcmpW(name, L"#32770") != 0) return TRUE;
  if (GetDlgItem(window, 1010) != nullptr) search->dialog = window;
  else if (GetDlgItem(window, 0xFFFF) != nullptr) search->box = window;
  return TRUE;
}

// Polls the process's windows until the dialog (unless box_only) or a
// message box shows, the process ends, or seconds have passed. A message box
// disables its owner: while owner is enabled, one look at it will do.
Search wait_for_window(const PROCESS_INFORMATION& process, bool box_only, int seconds, HWND owner = nullptr) {
  Search search = {nullptr, nullptr};
  while (ms_since_start() < 1000.0 * seconds) {
    if (owner == nullptr || !IsWindowEnabled(owner)) {
      EnumThreadWindows(process.dwThreadId, find_window, reinterpret_cast<LPARAM>(&search));
    }
    if (search.box != nullptr || (!box_only && search.dialog != nullptr)) break;
    if (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) break;
  }
  return search;
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

// Saves the screen area of window as a 24-bit BMP file, after the settle
// time.
void save_screenshot(HWND window, const std::wstring& path, int wait_ms) {
  Sleep(wait_ms);
  if (path.empty()) return;
  RECT r;
  GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  // The file: its header, the bitmap's header, then the rows bottom up.
  BITMAPINFOHEADER info = {sizeof info, width, height, 1, 24, BI_RGB};
  const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info;
  std::vector<unsigned char> bmp(offset + ((width * 3 + 3) & ~3) * height);
  GetDIBits(memory, bitmap, 0, height, bmp.data() + offset, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  const BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(bmp.size()), 0, 0, offset};
  std::memcpy(bmp.data(), &file, sizeof file);
  std::memcpy(bmp.data() + sizeof file, &info, sizeof info);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  std::FILE* out = _wfopen(path.c_str(), L"wb");
  const bool written = out != nullptr && std::fwrite(bmp.data(), bmp.size(), 1, out) == 1;
  if (out != nullptr && std::fclose(out) == 0 && written) print("screenshot", path);
  else fail("cannot write a screenshot");
}

// Reads and confirms a message box; it must be o.message when one is given.
void confirm_message(HWND box, const Options& o) {
  const std::wstring text = text_of(GetDlgItem(box, 0xFFFF));
  print("message caption", text_of(box));
  print("message", text);
  if (!o.message.empty() && text != o.message) fail("unexpected message");
  save_screenshot(box, o.message_screenshot, o.wait_ms);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// Sets the destination, presses OK and handles the message that follows.
void install(const Options& o, const PROCESS_INFORMATION& process, HWND dialog) {
  SendMessageW(GetDlgItem(dialog, 1032), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(o.install.c_str()));
  std::printf("OK pressed after %.1f ms\n", ms_since_start());
  PostMessageW(GetDlgItem(dialog, 99), BM_CLICK, 0, 0);
  const Search search = wait_for_window(process, true, 300, dialog);
  if (search.box == nullptr) return fail("no message after OK");
  std::printf("message shown after %.1f ms\n", ms_since_start());
  confirm_message(search.box, o);
  print("installed into", o.install);
}

bool parse(int argc, wchar_t** argv, Options& o) {
  if (argc < 2) return false;
  o.setup = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::wstring arg = argv[i], value = argv[i + 1];
    if (arg == L"--screenshot") o.screenshot = value;
    else if (arg == L"--wait") o.wait_ms = _wtoi(value.c_str());
    else if (arg == L"--install") o.install = value;
    else if (arg == L"--message") o.message = value;
    else if (arg == L"--message-screenshot") o.message_screenshot = value;
    else return false;
  }
  return argc % 2 == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::fprintf(stderr, "usage: setup_probe SETUP.EXE [--screenshot F] [--wait MS]\n"
                         "                   [--install DEST [--message T] [--message-screenshot F]]\n");
    return 2;
  }
  QueryPerformanceFrequency(&frequency);
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  std::wstring command = L"\"" + o.setup + L"\"";
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(o.setup.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "setup_probe: cannot start the setup program (error %lu)\n", GetLastError());
    return 1;
  }
  const Search search = wait_for_window(process, false, 60);
  if (search.dialog == nullptr) {
    fail("no dialog appeared");
    if (search.box != nullptr) confirm_message(search.box, o);  // shows what came instead
  } else {
    std::printf("dialog shown after %.1f ms\n", ms_since_start());
    HWND dialog = search.dialog;
    print("title", text_of(dialog));
    for (int id : {1001, 99, 2, 1031, 1041, 1042, 1043}) print("control", text_of(GetDlgItem(dialog, id)));
    std::printf("languages: %d\n", static_cast<int>(SendMessageW(GetDlgItem(dialog, 1010), LVM_GETITEMCOUNT, 0, 0)));
    save_screenshot(dialog, o.screenshot, o.wait_ms);
    if (!o.install.empty()) install(o, process, dialog);
    else SendMessageW(GetDlgItem(dialog, 2), BM_CLICK, 0, 0);
  }
  if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) fail("the setup program did not end");
  TerminateProcess(process.hProcess, 1);  // when it did not end
  DWORD exit_code = 1;
  GetExitCodeProcess(process.hProcess, &exit_code);
  std::printf("exit code: %lu\n", exit_code);
  if (exit_code != 0) ++failures;
  return failures == 0 ? 0 : 1;
}
