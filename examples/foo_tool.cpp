// FooTool.exe, the sample package's main program: one window of the class
// that the package's .INF names, greeting the user with the "Hello" line of
// the language pack installed beside it. Ends when its window is destroyed,
// which is how a running copy is closed by the setup program.
#include <windows.h>

namespace {

const wchar_t kWindowClass[] = L"FooToolMain";
wchar_t greeting[256] = L"Hello from Foo Tool.";

// The two-letter code of the user's UI language among the sample's packs.
const wchar_t* user_language_code() {
  switch (PRIMARYLANGID(GetUserDefaultUILanguage())) {
    case LANG_GERMAN: return L"DE";
    case LANG_FRENCH: return L"FR";
    case LANG_ITALIAN: return L"IT";
    default: return L"US";
  }
}

// Reads the "Hello=" line of a pack (UTF-16 behind FF FE, else ANSI text).
bool read_greeting(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char bytes[4096];
  DWORD size = 0;
  ReadFile(file, bytes, sizeof bytes - 2, &size, nullptr);
  CloseHandle(file);
  bytes[size] = bytes[size + 1] = 0;
  wchar_t text[4096];
  if (size >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    lstrcpynW(text, reinterpret_cast<const wchar_t*>(bytes + 2), 4096);
  } else if (MultiByteToWideChar(CP_ACP, 0, bytes, -1, text, 4096) == 0) {
    return false;
  }
  const wchar_t* at = text;
  while (*at != 0 && !(at[0] == 'H' && at[1] == 'e' && at[2] == 'l' && at[3] == 'l' && at[4] == 'o' && at[5] == '=')) ++at;
  if (*at == 0) return false;
  at += 6;
  int n = 0;
  while (n < 255 && at[n] != 0 && at[n] != '\r' && at[n] != '\n') greeting[n] = at[n], ++n;
  greeting[n] = 0;
  return true;
}

void load_greeting() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  while (n > 0 && path[n - 1] != '\\') --n;
  if (n + 12 >= MAX_PATH) return;
  const wchar_t* codes[2] = {user_language_code(), L"US"};
  for (const wchar_t* code : codes) {
    wsprintfW(path + n, L"Foo_%s.LNG", code);
    if (read_greeting(path)) return;
  }
}

bool asked_to_close = false;  // WM_CLOSE came before the window's end

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM first, LPARAM second) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      SetBkMode(dc, TRANSPARENT);
      DrawTextW(dc, greeting, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_CLOSE:
      asked_to_close = true;
      return DefWindowProcW(window, message, first, second);
    case WM_DESTROY:
      // Exit code 0 when the program was asked to close (its close button,
      // or another program's WM_CLOSE), 2 when its window was torn down
      // without that chance to save.
      PostQuitMessage(asked_to_close ? 0 : 2);
      return 0;
    default:
      return DefWindowProcW(window, message, first, second);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  load_greeting();
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = window_proc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = kWindowClass;
  if (!RegisterClassW(&window_class)) return 1;
  HWND window = CreateWindowW(kWindowClass, L"Foo Tool 1.2", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              420, 160, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ShowWindow(window, show);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
