// The file and folder layer on Windows: Win32 and the shell's file operation.
#include <windows.h>
#include <shellapi.h>
#include <share.h>

#include "support/files.h"

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

std::FILE* create_output_file(const WideChar* path) { return _wfopen(path, L"w+b"); }

void close_stream(std::FILE* stream) {
  if (stream != nullptr) std::fclose(stream);
}

int delete_file(const WideChar* path) { return DeleteFileW(path) ? 0 : -1; }

void apply_entry_time_and_attributes(const WideChar* path, uint32_t dos_time, uint32_t attributes) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    FILETIME created, accessed, written, local;
    if (GetFileTime(file, &created, &accessed, &written) &&
        DosDateTimeToFileTime(static_cast<WORD>(dos_time >> 16), static_cast<WORD>(dos_time), &local) &&
        LocalFileTimeToFileTime(&local, &written)) {
      SetFileTime(file, &created, &accessed, &written);
    }
    CloseHandle(file);
  }
  SetFileAttributesW(path, attributes);
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
