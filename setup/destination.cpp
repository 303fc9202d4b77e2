// Default destination, dialog preset, language packs of an update, registry
// records and the temporary folder name.
#include "setup/destination.h"

#include <commctrl.h>

#include "setup/language_list.h"
#include "setup/registry.h"
#include "setup/resource.h"
#include "setup/shortcuts.h"
#include "setup/state.h"
#include "support/charset.h"
#include "support/files.h"

namespace {

const WideChar kCurrentVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr int kQuotedCapacity = kPathCapacity + 8;  // a path in quotes and " /S"

// path in quotes, so that a blank in it never splits the command; then tail.
void quote_path(const WideChar* path, const WideChar* tail, WideChar* buffer) {
  buffer[0] = 0;
  append_text(L"\"", buffer, kQuotedCapacity);
  append_text(path, buffer, kQuotedCapacity);
  append_text(L"\"", buffer, kQuotedCapacity);
  append_text(tail, buffer, kQuotedCapacity);
}

// Sets the values of the uninstall entry under root; false when the key
// cannot be created or a value cannot be written.
bool write_uninstall_values(HKEY root, const WideChar* key_path, const WideChar* name, const UninstallEntry* entry) {
  if (root == nullptr) return false;
  HKEY key = create_registry_key(root, key_path);
  if (key == nullptr) return false;
  const SetupState* s = setup_state;
  WideChar command[kQuotedCapacity], quiet[kQuotedCapacity], icon[kQuotedCapacity];
  quote_path(entry->uninstaller, L"", command);
  quote_path(entry->uninstaller, L" /S", quiet);
  quote_path(entry->icon, L"", icon);
  WideChar publisher[kFieldCapacity], version[kFieldCapacity];
  ansi_to_wide(s->Publisher[0] != 0 ? s->Publisher : "Vantorix", publisher, kFieldCapacity);
  ansi_to_wide(s->version, version, kFieldCapacity);
  bool written = write_registry_text(key, L"DisplayName", name) &&
                 write_registry_text(key, L"UninstallString", command) &&
                 write_registry_text(key, L"QuietUninstallString", quiet) &&
                 write_registry_text(key, L"Publisher", publisher) &&
                 write_registry_text(key, L"DisplayIcon", icon) &&
                 write_registry_text(key, L"InstallLocation", entry->folder) &&
                 write_registry_number(key, L"EstimatedSize", static_cast<DWORD>((entry->bytes + 1023) / 1024)) &&
                 write_registry_number(key, L"NoModify", 1) && write_registry_number(key, L"NoRepair", 1);
  if (written && version[0] != 0) written = write_registry_text(key, L"DisplayVersion", version);
  RegCloseKey(key);
  return written;
}

}  // namespace

void read_program_files_dir(WideChar* buffer, int capacity) {
  read_registry_text(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir", buffer, capacity);
}

void windows_drive_program_files(WideChar* buffer, int capacity) {
  buffer[0] = 0;
  const UINT n = GetWindowsDirectoryW(buffer, static_cast<UINT>(capacity));
  if (n == 0 || n >= static_cast<UINT>(capacity)) {
    buffer[0] = 0;
    return;
  }
  cut_at_last_separator(buffer);  // C:\WINDOWS -> C:\ .
  add_separator(buffer, capacity);
  const int length = wide_length(buffer);
  append_text(L"Programme", buffer, capacity);
  if (path_missing(buffer) != 0) {
    buffer[length] = 0;
    append_text(L"Program Files", buffer, capacity);
  }
}

void default_destination(WideChar* buffer, int capacity) {
  const SetupState* s = setup_state;
  buffer[0] = 0;
  WideChar id[kIdCapacity];
  ansi_to_wide(s->ID, id, kIdCapacity);
  if (id[0] != 0 && read_registry_text(HKEY_CURRENT_USER, kVendorKey, id, buffer, capacity) && buffer[0] != 0) return;

  // Without a product folder the package would land in the program files
  // folder itself: then nothing is proposed and the user picks a folder.
  buffer[0] = 0;
  if (s->Group[0] == 0) return;
  read_program_files_dir(buffer, capacity);
  if (buffer[0] == 0) {
    const DWORD n = GetEnvironmentVariableW(L"ProgramFiles", buffer, static_cast<DWORD>(capacity));
    if (n == 0 || n >= static_cast<DWORD>(capacity)) buffer[0] = 0;
  }
  if (buffer[0] == 0) windows_drive_program_files(buffer, capacity);
  if (buffer[0] == 0) return;
  add_separator(buffer, capacity);
  append_ansi_as_wide(s->Group, buffer, capacity);
}

void preset_destination(HWND dialog) {
  WideChar folder[kPathCapacity];
  default_destination(folder, kPathCapacity);
  SetDlgItemTextW(dialog, IDC_DESTINATION, folder);
  if (path_missing(folder) != 0) {
    CheckDlgButton(dialog, IDC_PROGRAM_GROUP, BST_CHECKED);
    CheckDlgButton(dialog, IDC_DESKTOP_ICON, BST_CHECKED);
    if (quick_launch_exists()) {
      CheckDlgButton(dialog, IDC_QUICK_LAUNCH, BST_CHECKED);
    } else {
      ShowWindow(GetDlgItem(dialog, IDC_QUICK_LAUNCH), SW_HIDE);
    }
    return;
  }
  uncheck_missing_languages(dialog, folder);
}

void lng_file_path(const WideChar* folder, const char* code, WideChar* buffer, int capacity) {
  buffer[0] = 0;
  append_text(folder, buffer, capacity);
  add_separator(buffer, capacity);
  append_text(setup_state->base_name, buffer, capacity);
  append_text(L"_", buffer, capacity);
  append_ansi_as_wide(code, buffer, capacity);
  append_text(L".LNG", buffer, capacity);
}

void uncheck_missing_languages(HWND dialog, const WideChar* folder) {
  HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    const LanguageCode code = language_item_code(list, i);
    if (code == kLanguageEnglish || code == kLanguageGerman) continue;
    // The code's four bytes, read in memory order, are its 8-bit text.
    const char text[4] = {static_cast<char>(code), static_cast<char>(code >> 8), static_cast<char>(code >> 16), 0};
    WideChar pack[kPathCapacity];
    lng_file_path(folder, text, pack, kPathCapacity);
    if (path_missing(pack) != 0) set_language_check(list, i, false);
  }
}

void save_destination(const WideChar* destination) {
  WideChar id[kIdCapacity];
  ansi_to_wide(setup_state->ID, id, kIdCapacity);
  if (id[0] == 0 || destination[0] == 0) return;
  HKEY key = create_registry_key(HKEY_CURRENT_USER, kVendorKey);
  if (key == nullptr) return;
  write_registry_text(key, id, destination);
  RegCloseKey(key);
}

HKEY write_uninstall_entry_under(HKEY machine, HKEY user, const UninstallEntry* entry) {
  // An empty Group would name the Uninstall key itself.
  if (setup_state->Group[0] == 0) return nullptr;
  WideChar name[kFieldCapacity];
  ansi_to_wide(setup_state->Group, name, kFieldCapacity);
  WideChar key_path[kKeyPathCapacity];
  uninstall_key_path(name, key_path, kKeyPathCapacity);
  if (write_uninstall_values(machine, key_path, name, entry)) return machine;
  // A standard user cannot write below HKEY_LOCAL_MACHINE; the same key in
  // the user's own hive lists the installation for that user.
  if (write_uninstall_values(user, key_path, name, entry)) return user;
  return nullptr;
}

void write_uninstall_entry(const UninstallEntry* entry) {
  write_uninstall_entry_under(HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, entry);
}

void new_temp_folder_name(WideChar* buffer, int capacity) {
  buffer[0] = 0;
  const DWORD n = GetTempPathW(static_cast<DWORD>(capacity), buffer);
  if (n == 0 || n >= static_cast<DWORD>(capacity)) {
    buffer[0] = 0;
    return;
  }
  add_separator(buffer, capacity);
  const int length = wide_length(buffer);
  for (uint32_t counter = 1; counter != 0; ++counter) {
    WideChar digits[9];
    int k = 0;
    for (uint32_t v = counter; v != 0; v >>= 4) digits[k++] = L"0123456789abcdef"[v & 15];
    if (length + k >= capacity) break;
    for (int i = 0; i < k; ++i) buffer[length + i] = digits[k - 1 - i];
    buffer[length + k] = 0;
    if (path_missing(buffer) != 0) return;
  }
  buffer[0] = 0;
}
