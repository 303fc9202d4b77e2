// UnInst.exe, the sample package's uninstaller. It removes what the setup
// program creates for the package: the package's files in the folder it runs
// from (only those: other files and the folder then stay), the program group
// with its two shortcuts, the desktop and quick-launch shortcuts, the stored
// destination and the uninstall entry (the machine's or the user's). A program cannot delete its own file
// while it runs, so it copies itself to the temporary folder and lets the
// copy do the work once the original has ended.
//   UnInst.exe [/S]                      asks, then hands over to the copy
//   UnInst.exe /clean PID FOLDER [/S]    the copy's work; /S: no messages
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "sample_package.h"

namespace {

bool quiet = false;

void join(wchar_t* buffer, const wchar_t* name) {
  const int n = lstrlenW(buffer);
  if (n > 0 && buffer[n - 1] != '\\' && n + 1 < MAX_PATH) lstrcatW(buffer, L"\\");
  if (lstrlenW(buffer) + lstrlenW(name) < MAX_PATH) lstrcatW(buffer, name);
}

bool special_folder(int csidl, wchar_t* path) {
  path[0] = 0;
  return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path)) && path[0] != 0;
}

void delete_shortcut(int csidl, const wchar_t* below) {
  wchar_t path[MAX_PATH];
  if (!special_folder(csidl, path)) return;
  if (below != nullptr) join(path, below);
  join(path, kSampleGroup L".lnk");
  DeleteFileW(path);
}

void delete_program_group(int csidl) {
  wchar_t group[MAX_PATH];
  if (!special_folder(csidl, group)) return;
  join(group, kSampleGroup);
  const wchar_t* links[2] = {kSampleGroup L".lnk", L"Uninstall.lnk"};
  for (const wchar_t* link : links) {
    wchar_t path[MAX_PATH];
    lstrcpyW(path, group);
    join(path, link);
    DeleteFileW(path);
  }
  RemoveDirectoryW(group);
}

void close_running_program() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    HWND window = FindWindowW(kSampleClass, nullptr);
    if (window == nullptr) return;
    PostMessageW(window, WM_CLOSE, 0, 0);
    Sleep(100);
  }
}

void remove_package(const wchar_t* folder) {
  close_running_program();
  for (const wchar_t* const* name = kSampleFiles; *name != nullptr; ++name) {
    wchar_t path[MAX_PATH];
    lstrcpynW(path, folder, MAX_PATH);
    join(path, *name);
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
  }
  RemoveDirectoryW(folder);  // only when nothing else is left in it

  delete_shortcut(CSIDL_DESKTOPDIRECTORY, nullptr);
  delete_shortcut(CSIDL_APPDATA, L"Microsoft\\Internet Explorer\\Quick Launch");
  delete_program_group(CSIDL_COMMON_PROGRAMS);
  delete_program_group(CSIDL_PROGRAMS);

  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vantorix", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, kSampleId);
    RegCloseKey(key);
  }
  // The setup program lists the package for all users, or for the user
  // alone when it had no rights for that.
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" kSampleGroup);
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" kSampleGroup);
  if (!quiet) MessageBoxW(nullptr, kSampleGroup L" has been removed.", L"Uninstall", MB_ICONINFORMATION);
}

// Starts a copy of this program in the temporary folder on folder; false
// when that is not possible.
bool hand_over(const wchar_t* self, const wchar_t* folder) {
  wchar_t copy[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH - 32, copy);
  if (n == 0 || n >= MAX_PATH - 32) return false;
  wsprintfW(copy + lstrlenW(copy), L"vxuninst-%lu.exe", GetCurrentProcessId());
  if (!CopyFileW(self, copy, FALSE)) return false;
  wchar_t command[3 * MAX_PATH];
  wsprintfW(command, L"\"%s\" /clean %lu \"%s\"%s", copy, GetCurrentProcessId(), folder, quiet ? L" /S" : L"");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(copy, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    DeleteFileW(copy);
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr) return 1;
  for (int i = 1; i < count; ++i) {
    if (lstrcmpiW(args[i], L"/S") == 0) quiet = true;
  }
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);

  if (count >= 4 && lstrcmpiW(args[1], L"/clean") == 0) {
    // The copy: wait until the original has ended, then remove everything.
    HANDLE original = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(_wtoi(args[2])));
    if (original != nullptr) {
      WaitForSingleObject(original, 10000);
      CloseHandle(original);
    }
    remove_package(args[3]);
    MoveFileExW(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);  // needs rights; else it stays in the temporary folder
    LocalFree(args);
    return 0;
  }

  if (!quiet && MessageBoxW(nullptr, L"Remove " kSampleGroup L" and its shortcuts from this computer?",
                            L"Uninstall", MB_YESNO | MB_ICONQUESTION) != IDYES) {
    LocalFree(args);
    return 0;
  }
  wchar_t folder[MAX_PATH];
  lstrcpyW(folder, self);
  for (int n = lstrlenW(folder); n > 0 && folder[n - 1] != '\\'; --n) folder[n - 1] = 0;
  if (lstrlenW(folder) > 3) folder[lstrlenW(folder) - 1] = 0;  // no trailing separator, except on a drive root
  if (!hand_over(self, folder)) remove_package(folder);
  LocalFree(args);
  return 0;
}
