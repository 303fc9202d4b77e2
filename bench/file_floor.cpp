// What the platform costs an installer before any of its own work: without
// arguments the program does nothing and exits (process start and end alone);
// with a list of files it creates each of them in a new folder, with the
// listed size, by CreateFileW, one WriteFile from memory and CloseHandle, and
// exits. The installation benchmark times both with process_timer beside the
// installers.
//   file_floor [LIST FOLDER]
// LIST: one file a line, its size in bytes, a blank and its name.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 0;
  std::FILE* list = _wfopen(argv[1], L"rb");
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
  const std::wstring folder = argv[2];
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
