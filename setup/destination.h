// The destination folder and the registry records: the default destination
// and the dialog's preset (fresh installation or update), the language packs
// an update already has, the per-package destination record, the uninstall
// entry and the name of the fallback's temporary folder.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/text.h"

// The default destination (capacity >= 260): the folder stored for the
// package's ID, used as stored; else the program files folder ("ProgramFilesDir",
// the environment's "ProgramFiles", or the Windows folder's drive with
// "Programme" when that exists, else "Program Files") with the Group joined
// on. Empty when nothing is found, and also when there is no stored folder
// and the Group is empty (the package would land in the program files folder
// itself).
void default_destination(WideChar* buffer, int capacity);
// "ProgramFilesDir" of HKEY_LOCAL_MACHINE's CurrentVersion key, or empty.
void read_program_files_dir(WideChar* buffer, int capacity);
// The Windows folder's drive root with "Programme" when that folder exists,
// else with "Program Files"; empty when the Windows folder is unknown.
void windows_drive_program_files(WideChar* buffer, int capacity);
// Fills the destination field (control 1032). A folder that does not exist
// yet is a fresh installation: program group and desktop boxes checked, the
// quick-launch box checked, or hidden when there is no quick-launch folder.
// An existing folder is an update: the boxes stay clear and the languages
// whose packs it lacks are unchecked.
void preset_destination(HWND dialog);
// folder\<base name>_<code>.LNG; code is 8-bit text.
void lng_file_path(const WideChar* folder, const char* code, WideChar* buffer, int capacity);
// Unchecks every listed language but English and German whose pack is
// missing from folder.
void uncheck_missing_languages(HWND dialog, const WideChar* folder);
// Stores destination as the value named by the ID under HKEY_CURRENT_USER
// "Software\Vantorix". Nothing happens when the ID or destination is empty.
void save_destination(const WideChar* destination);
// What the Apps-list entry says about one installation.
struct UninstallEntry {
  const WideChar* uninstaller;  // full path of the installed uninstaller
  const WideChar* icon;         // full path of the main program, else the uninstaller's
  const WideChar* folder;       // the installation folder
  uint64_t bytes;               // size of the installed files
};
// Writes the uninstall entry named by the Group: DisplayName (the Group),
// UninstallString and QuietUninstallString (the quoted uninstaller, the
// latter with /S), DisplayIcon (quoted), InstallLocation, Publisher (the
// .INF's, else "Vantorix"), DisplayVersion (when FILE_ID.DIZ has one),
// EstimatedSize (KB), NoModify and NoRepair (1). Under HKEY_LOCAL_MACHINE;
// when that key cannot be written (a standard user), under HKEY_CURRENT_USER.
// Nothing happens when the Group is empty.
void write_uninstall_entry(const UninstallEntry* entry);
// write_uninstall_entry with the two roots given. Returns the root written
// to, or nullptr when neither could be.
HKEY write_uninstall_entry_under(HKEY machine, HKEY user, const UninstallEntry* entry);
// A folder path below the user's temporary folder that does not exist yet:
// the temporary folder and a counter in lower-case hexadecimal (1, 2, ... a,
// ... 10, ...). Empty when no such name fits into capacity.
void new_temp_folder_name(WideChar* buffer, int capacity);
