// What the platform costs an installer before any of its own work: without
// arguments the program does nothing and exits (process start and end alone);
// with a list of files it creates each of them in a new folder, with the
// listed size, by CreateFileW, one WriteFile from memory and CloseHandle, and
// exits. The installation benchmark times both with process_timer beside the
// installers.
//   file_floor [LIST FOLDER]
// With VX_FLOOR_LIST set in its environment and no arguments it is the floor
// of a dialog installer instead, driven by setup_probe as ours is: a dialog
// with the controls the probe looks for (1010, the destination 1032 and OK
// 99); OK creates the listed files in the destination folder and shows a
// message box.
// LIST: one file a line, its size in bytes, a blank and its name.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Creates the files of the list in a new folder; 0, or 1 after a message.
int create_files(const wchar_t* list_path, const std::wstring& folder) {
  std::FILE* list = _wfopen(list_path, L"rb");
  if (list == nullptr) {
    std::fprintf(stderr, "file_floor: cannot read the list\n");
    return 1;
  }
  struct File {
    std::wstring path;
    DWORD size;
  };
  std::vector<File> files;
  DWORD largest = 0;
  char line[1024];
  while (std::fgets(line, sizeof line, list) != nullptr) {
    char* name = nullptr;
    const unsigned long size = std::strtoul(line, &name, 10);
    if (*name++ != ' ') continue;
    std::string text = name;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide, MAX_PATH) == 0) continue;
    files.push_back({folder + L"\\" + wide, static_cast<DWORD>(size)});
    if (size > largest) largest = static_cast<DWORD>(size);
  }
  std::fclose(list);
  // One buffer serves every file: the data is not the point, its size is.
  std::vector<char> data(largest > 0 ? largest : 1, 'x');
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    std::fprintf(stderr, "file_floor: cannot create the folder (error %lu)\n", GetLastError());
    return 1;
  }
  for (const File& file : files) {
    HANDLE handle = CreateFileW(file.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (handle == INVALID_HANDLE_VALUE || !WriteFile(handle, data.data(), file.size, &written, nullptr) ||
        written != file.size) {
      std::fprintf(stderr, "file_floor: cannot write a file (error %lu)\n", GetLastError());
      return 1;
    }
    CloseHandle(handle);
  }
  return 0;
}

wchar_t list_path[MAX_PATH];

INT_PTR CALLBACK floor_dialog(HWND dialog, UINT message, WPARAM first, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && LOWORD(first) == 99) {
    wchar_t folder[MAX_PATH] = {};
    GetDlgItemTextW(dialog, 1032, folder, MAX_PATH);
    const int result = create_files(list_path, folder);
    MessageBoxW(dialog, result == 0 ? L"Installed." : L"Failed.", L"file_floor", MB_OK);
    // Ends without hiding the window: without a window manager Wine would
    // wait for it to be withdrawn.
    ExitProcess(result);
  }
  return FALSE;
}

// An in-memory dialog template: the header, then each control, DWORD-aligned.
struct Template {
  std::vector<WORD> words;
  void align() {
    if (words.size() % 2 != 0) words.push_back(0);
  }
  void add_control(DWORD style, short x, short y, short cx, short cy, WORD id, WORD class_atom) {
    align();
    const DLGITEMTEMPLATE item = {style | WS_CHILD | WS_VISIBLE, 0, x, y, cx, cy, id};
    const WORD* raw = reinterpret_cast<const WORD*>(&item);
    words.insert(words.end(), raw, raw + sizeof item / 2);
    words.insert(words.end(), {0xFFFF, class_atom, 0, 0});  // class, no text, no creation data
  }
};

int show_floor_dialog() {
  Template t;
  const DLGTEMPLATE header = {WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_CENTER, 0, 3, 0, 0, 200, 80};
  const WORD* raw = reinterpret_cast<const WORD*>(&header);
  t.words.assign(raw, raw + sizeof header / 2);
  t.words.insert(t.words.end(), {0, 0, 0});  // no menu, the standard class, no title
  t.add_control(0, 5, 5, 190, 30, 1010, 0x0082);              // static
  t.add_control(WS_BORDER, 5, 40, 190, 12, 1032, 0x0081);     // edit
  t.add_control(BS_PUSHBUTTON, 75, 58, 50, 14, 99, 0x0080);   // button
  return static_cast<int>(DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                                  reinterpret_cast<const DLGTEMPLATE*>(t.words.data()), nullptr,
                                                  floor_dialog, 0));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3) return create_files(argv[1], argv[2]);
  if (GetEnvironmentVariableW(L"VX_FLOOR_LIST", list_path, MAX_PATH) != 0) return show_floor_dialog();
  return 0;
}
