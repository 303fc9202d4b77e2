// The standard uninstaller (UnInst.exe): removes what the setup program
// created for one package, as the list attached to it names it
// (uninstall_list.h), by the installer's own name rules. A program cannot
// delete its own file while it runs, so after the confirmation it starts a
// copy of itself in the temporary folder and ends; the copy waits for it to
// end, then does the work.
//   UnInst.exe [/S]                          asks (not with /S), hands over
//   <copy> /remove PID "UNINSTALLER" [/S]    removes; /S: no message boxes
// Like the setup stub it links no C runtime start-up code: uninstall_entry is
// the process entry. Exit code 1 when the list cannot be read or, in the
// process that removes, a file stays; else 0.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "archive/extract.h"
#include "archive/memory.h"
#include "setup/install_names.h"
#include "setup/messages.h"
#include "setup/package_text.h"
#include "setup/registry.h"
#include "setup/shortcuts.h"
#include "setup/state.h"
#include "setup/uninstall_list.h"
#include "support/charset.h"
#include "support/files.h"

SetupState* setup_state = nullptr;

namespace {

constexpr int kReportCapacity = 2048;
constexpr DWORD kHandOverWait = 30000;  // ms the copy waits for the original to end

struct Removal {
  ByteBuffer list;                    // the attached list, with a zero byte behind it
  WideChar self[kPathCapacity];       // the installed uninstaller (the original, for the copy)
  WideChar folder[kPathCapacity];     // its folder: the installation
  WideChar group[kFieldCapacity];     // the Group, made safe as the installer makes it
  WideChar in_use[kReportCapacity];   // files that could not be removed, one a line
  bool quiet;                         // /S
};

// The pass's EntryCallback (user: the list buffer): the list entry goes to
// memory, every other entry is dropped.
int32_t take_list(WideChar* name, const uint8_t* data, uint32_t size, void* user) {
  ByteBuffer* list = static_cast<ByteBuffer*>(user);
  if (data != nullptr) return byte_buffer_append(list, data, size + 1);  // the driver's zero byte included
  WideChar wanted[sizeof kUninstallListName];
  ansi_to_wide(kUninstallListName, wanted, sizeof kUninstallListName);
  name[0] = lstrcmpiW(name, wanted) == 0 && list->size == 0 ? 1 : 0;
  return 0;
}

// Reads the list from the file at path into the state record and r. False
// when the file carries none that is intact.
bool read_list(const WideChar* path, Removal* r) {
  if (extract_archive(path, take_list, &r->list) != kExtractOk || r->list.size == 0) return false;
  SetupState* s = setup_state;
  const char* text = reinterpret_cast<const char*>(r->list.data.data);
  read_install_key(text, "ID", s->ID, kIdCapacity);
  read_install_key(text, "Group", s->Group, kFieldCapacity);
  read_install_key(text, "Exe", s->Exe, kFieldCapacity);
  make_group_name_safe(s->Group, kFieldCapacity);
  ansi_to_wide(s->Group, r->group, kFieldCapacity);
  // The Group names folders below the programs folders: never one of those
  // folders itself or a name the installer would not make.
  if (!is_safe_file_name(r->group)) r->group[0] = 0;
  return true;
}

void note_in_use(Removal* r, const WideChar* name) {
  append_text(L"\n", r->in_use, kReportCapacity);
  append_text(name, r->in_use, kReportCapacity);
}

// Deletes the listed files that are in the folder; the folder goes when it
// is then empty. A name the installer would not write as itself (folders,
// "..", drives, devices) or never installs (.INF) is skipped.
void remove_listed_files(Removal* r) {
  const char* cursor = reinterpret_cast<const char*>(r->list.data.data);
  char name[kPathCapacity];
  while (next_listed_file(&cursor, name, kPathCapacity)) {
    WideChar file[kPathCapacity];
    ansi_to_wide(name, file, kPathCapacity);
    if (!is_safe_file_name(file) || entry_role(file) == kRoleScript) continue;
    WideChar path[kPathCapacity];
    copy_text(r->folder, path, kPathCapacity);
    if (join_path(file, path, kPathCapacity) != kTextOk || path_missing(path) != 0) continue;
    const DWORD attributes = GetFileAttributesW(path);
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);  // a read-only file of the package goes too
    if (DeleteFileW(path) || path_missing(path) != 0) continue;
    SetFileAttributesW(path, attributes);
    // Without a copy in the temporary folder the running uninstaller stays.
    if (lstrcmpiW(path, r->self) != 0) note_in_use(r, file);
  }
  RemoveDirectoryW(r->folder);
}

void delete_link(const WideChar* folder, const WideChar* name) {
  if (folder[0] == 0) return;
  WideChar link[kLinkPathCapacity];
  link_path(folder, name, link);
  DeleteFileW(link);
}

// The desktop and quick-launch shortcuts and the program group in either
// programs folder, named by the Group as the installer names them.
void remove_shortcuts(const WideChar* group) {
  if (group[0] == 0) return;
  WideChar folder[kLinkPathCapacity];
  special_folder_path(CSIDL_DESKTOP, folder);
  delete_link(folder, group);
  quick_launch_folder(folder, kLinkPathCapacity);
  delete_link(folder, group);
  const int programs[2] = {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS};
  for (int csidl : programs) {
    special_folder_path(csidl, folder);
    if (folder[0] == 0) continue;
    join_path(group, folder, kLinkPathCapacity);
    delete_link(folder, group);
    delete_link(folder, kUninstallLinkName);
    RemoveDirectoryW(folder);  // only when nothing else is in it
  }
}

// A copy of folder without a trailing separator (a drive root keeps it).
void folder_without_separator(const WideChar* folder, WideChar* buffer) {
  copy_text(folder, buffer, kPathCapacity);
  const int n = wide_length(buffer);
  if (n > 3 && is_separator(buffer[n - 1])) buffer[n - 1] = 0;
}

// True when two folder paths are the same, letter case and a trailing
// separator aside.
bool same_folder(const WideChar* a, const WideChar* b) {
  WideChar x[kPathCapacity], y[kPathCapacity];
  folder_without_separator(a, x);
  folder_without_separator(b, y);
  return lstrcmpiW(x, y) == 0;
}

// The stored destination and the uninstall entries, each only when it
// belongs to this installation: a later installation of the package into
// another folder keeps its records.
void remove_records(const Removal* r) {
  WideChar id[kIdCapacity];
  ansi_to_wide(setup_state->ID, id, kIdCapacity);
  WideChar stored[kPathCapacity];
  if (id[0] != 0 && read_registry_text(HKEY_CURRENT_USER, kVendorKey, id, stored, kPathCapacity) &&
      same_folder(stored, r->folder)) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kVendorKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueW(key, id);
      RegCloseKey(key);
    }
  }
  if (r->group[0] == 0) return;
  WideChar key_path[kKeyPathCapacity];
  uninstall_key_path(r->group, key_path, kKeyPathCapacity);
  const HKEY roots[2] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
  for (HKEY root : roots) {
    WideChar location[kPathCapacity];
    read_registry_text(root, key_path, L"InstallLocation", location, kPathCapacity);
    if (location[0] == 0 || same_folder(location, r->folder)) RegDeleteKeyW(root, key_path);
  }
}

// Removes everything and says how it went (not when quiet). 0, or 1 when a
// file could not be removed.
int remove_package(Removal* r) {
  remove_listed_files(r);
  // Without a main program the installer made no shortcuts at all.
  if (setup_state->Exe[0] != 0) remove_shortcuts(r->group);
  remove_records(r);
  const bool complete = r->in_use[0] == 0;
  if (!r->quiet) {
    WideChar text[kReportCapacity + kMessageTextCapacity];
    copy_text(complete ? r->group : L"", text, kReportCapacity);
    const int n = wide_length(text);
    ui_text(setup_state->ui_strings, complete ? kTextUninstalled : kTextUninstallInUse, text + n,
            kMessageTextCapacity);
    append_text(r->in_use, text, kReportCapacity + kMessageTextCapacity);
    show_message(nullptr, text, r->group, (complete ? MB_ICONINFORMATION : MB_ICONWARNING) | MB_SETFOREGROUND);
  }
  return complete ? 0 : 1;
}

// Starts a copy of this program in the temporary folder that removes the
// package once this process has ended. False when that cannot be done.
bool hand_over(const Removal* r) {
  WideChar copy[kPathCapacity];
  const DWORD n = GetTempPathW(kPathCapacity, copy);
  if (n == 0 || n + 32 >= kPathCapacity) return false;
  const DWORD process = GetCurrentProcessId();
  wsprintfW(copy + n, L"vxuninst%lu.exe", process);
  if (!CopyFileW(r->self, copy, FALSE)) return false;
  // The original's file, not its folder, goes on the command line: a folder
  // path may end in a separator, which would escape the closing quote.
  WideChar command[3 * kPathCapacity];
  wsprintfW(command, L"\"%s\" /remove %lu \"%s\"%s", copy, process, r->self, r->quiet ? L" /S" : L"");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(copy, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    DeleteFileW(copy);
    return false;
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return true;
}

DWORD parse_decimal(const WideChar* text) {
  DWORD value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + static_cast<DWORD>(*text - '0');
  return value;
}

int run(Removal* r, WideChar** args, int count) {
  for (int i = 1; i < count; ++i) r->quiet = r->quiet || lstrcmpiW(args[i], L"/S") == 0;
  WideChar own_path[kPathCapacity];
  GetModuleFileNameW(nullptr, own_path, kPathCapacity);
  own_path[kPathCapacity - 1] = 0;
  const bool copy = count >= 4 && lstrcmpiW(args[1], L"/remove") == 0;
  copy_text(copy ? args[3] : own_path, r->self, kPathCapacity);
  copy_text(r->self, r->folder, kPathCapacity);
  cut_at_last_separator(r->folder);
  if (!read_list(own_path, r)) {
    if (!r->quiet) show_ui_message(nullptr, kTextUninstallDamaged, own_path, MB_ICONERROR);
    return 1;
  }
  if (copy) {
    HANDLE original = OpenProcess(SYNCHRONIZE, FALSE, parse_decimal(args[2]));
    if (original != nullptr) {
      WaitForSingleObject(original, kHandOverWait);
      CloseHandle(original);
    }
    const int result = remove_package(r);
    // Needs the rights to schedule it; else the copy stays in the temporary folder.
    MoveFileExW(own_path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return result;
  }
  if (!r->quiet && show_ui_message(nullptr, kTextUninstallConfirm, r->group, MB_YESNO | MB_ICONQUESTION) != IDYES) {
    return 0;
  }
  return hand_over(r) ? 0 : remove_package(r);
}

int uninstall_main() {
  OwnedBlock state = alloc_zeroed(sizeof(SetupState));
  OwnedBlock removal = alloc_zeroed(sizeof(Removal));
  int count = 0;
  WideChar** args = CommandLineToArgvW(GetCommandLineW(), &count);
  int result = 1;
  if (state.data != nullptr && removal.data != nullptr && args != nullptr) {
    setup_state = reinterpret_cast<SetupState*>(state.data);
    select_ui_strings();
    Removal* r = reinterpret_cast<Removal*>(removal.data);
    result = run(r, args, count);
    byte_buffer_reset(&r->list);
  }
  if (args != nullptr) LocalFree(args);
  setup_state = nullptr;
  release(&removal);
  release(&state);
  return result;
}

}  // namespace

extern "C" void uninstall_entry() { ExitProcess(static_cast<UINT>(uninstall_main())); }
