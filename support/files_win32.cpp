// The file and folder layer on Windows: Win32 and the shell's file operation.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <share.h>

#include "support/files.h"

namespace {

constexpr DWORD kSettableAttributes = 0x31A7;  // FILE_ATTRIBUTE_VALID_SET_FLAGS of the driver kit

}  // namespace

int path_missing(const WideChar* path) {
  return GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ? -1 : 0;
}

void full_path(WideChar* path) {
  WideChar work[260];
  const DWORD n = GetFullPathNameW(path, 260, work, nullptr);
  if (n > 0 && n < 260) copy_text(work, path, 260);
}

int create_folder_tree(const WideChar* path) {
  if (CreateDirectoryW(path, nullptr)) return 0;
  if (GetLastError() != ERROR_PATH_NOT_FOUND) return 2;
  WideChar parent[260];
  copy_text(path, parent, 260);
  cut_at_last_separator(parent);
  if (wide_length(parent) < 4) return 2;  // a drive root or less
  const int result = create_folder_tree(parent);
  if (result != 0) return result;
  return CreateDirectoryW(path, nullptr) ? 0 : 3;
}

std::FILE* open_archive_file(const WideChar* path, int share) {
  static const int kShareFlags[4] = {_SH_DENYRD, _SH_DENYWR, _SH_DENYNO, _SH_DENYNO};
  if (share < 0 || share > 3) return nullptr;
  return _wfsopen(path, L"rb", kShareFlags[share]);
}

std::FILE* create_output_file(const WideChar* path) {
  // As the runtime's "w+b" opens, but a new file is made with CREATE_NEW:
  // emptying a file (CREATE_ALWAYS) marks it on some file systems for a data
  // flush when it is closed. An existing file is emptied as before.
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE file = CreateFileW(path, access, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    file = CreateFileW(path, access, share, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
  if (descriptor == -1) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _wfdopen(descriptor, L"w+b");
  if (stream == nullptr) {
    _close(descriptor);
    return nullptr;
  }
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

void close_stream(std::FILE* stream) {
  if (stream != nullptr) std::fclose(stream);
}

int delete_file(const WideChar* path) { return DeleteFileW(path) ? 0 : -1; }

void apply_entry_time_and_attributes(std::FILE* file, uint32_t dos_time, uint32_t attributes) {
  std::fflush(file);  // nothing may be written after the time is set
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  // One call for both: zero times stay as they are; the attributes are what
  // SetFileAttributesW would pass on (the settable ones, never zero).
  FILE_BASIC_INFO info = {};
  FILETIME local, written;
  if (DosDateTimeToFileTime(static_cast<WORD>(dos_time >> 16), static_cast<WORD>(dos_time), &local) &&
      LocalFileTimeToFileTime(&local, &written)) {
    info.LastWriteTime.LowPart = written.dwLowDateTime;
    info.LastWriteTime.HighPart = static_cast<LONG>(written.dwHighDateTime);
  }
  info.FileAttributes = (attributes & kSettableAttributes) | FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info);
}

int shell_move(HWND owner, const WideChar* source, const WideChar* target) {
  // The shell takes lists of paths, each list ended by two zero characters.
  WideChar from[262] = {};
  WideChar to[262] = {};
  copy_text(source, from, 260);
  copy_text(target, to, 260);
  SHFILEOPSTRUCTW op = {};
  op.hwnd = owner;
  op.wFunc = FO_MOVE;
  op.pFrom = from;
  op.pTo = to;
  op.fFlags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
  return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted ? 0 : -1;
}

void shell_delete_folder(const WideChar* path) {
  if (path_missing(path) != 0) return;
  WideChar from[262] = {};
  copy_text(path, from, 260);
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from;
  op.fFlags = FOF_NOCONFIRMATION;
  SHFileOperationW(&op);
}
