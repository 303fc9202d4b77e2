// The installation pass: the archive pass into the destination with its
// language filter and special names, the fallback through a temporary folder,
// the registry records, the shortcuts and the closing message.
#include "setup/install.h"

#include <commctrl.h>

#include "archive/extract.h"
#include "setup/destination.h"
#include "setup/install_names.h"
#include "setup/language_list.h"
#include "setup/messages.h"
#include "setup/resource.h"
#include "setup/shortcuts.h"
#include "support/charset.h"
#include "support/files.h"

namespace {

constexpr int kDestinationLength = 257;  // characters taken from the destination field
constexpr int kJoinedCapacity = 264;     // a folder with a file name joined on
constexpr DWORD kCannotMake = 82;        // ERROR_CANNOT_MAKE
constexpr int kTempFolderAttempts = 16;  // names tried for a temporary folder of the run's own
constexpr DWORD kRepaintEvery = 50;      // ms between repaints of the status line during a pass

// True when the language list holds the code with its check box clear.
bool language_unchecked(HWND dialog, LanguageCode code) {
  if (code == 0) return false;
  HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
  if (list == nullptr) return false;
  const int index = find_language_item(list, code);
  return index >= 0 && language_check(list, index) == 1;
}

// Hands the latest path to the status line and repaints it. The text goes in
// through the default window procedure, as the static control's own handler
// would paint once more.
void paint_status(InstallJob* job) {
  job->status_pending = false;
  DefWindowProcW(job->status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(job->status_text));
  InvalidateRect(job->status, nullptr, TRUE);
  UpdateWindow(job->status);
}

// Starts a pass into destination; fresh tells that the run has just created
// that folder, so that it holds nothing but what the pass writes.
int install_pass(InstallJob* job, bool fresh) {
  job->refused = 0;
  job->installed_bytes = 0;
  job->status = GetDlgItem(job->dialog, IDC_STATUS);
  job->fresh_folder = fresh;
  for (uint32_t& word : job->name_bits) word = 0;
  const int result = extract_archive(setup_state->setup_path, install_entry, job);
  // The line ends showing the last path, whatever the time of its last paint.
  if (job->status_pending) paint_status(job);
  return job->refused != 0 ? job->refused : result;
}

// The folder the user chose: destination, or final_destination while
// destination is the staging folder.
const WideChar* user_folder(const InstallJob* job) {
  return job->temp_folder[0] != 0 ? job->final_destination : job->destination;
}

// Length of the longest part of path that exists already.
int existing_length(const WideChar* path) {
  WideChar part[kPathCapacity];
  copy_text(path, part, kPathCapacity);
  int n = wide_length(part);
  while (n > 0 && path_missing(part) != 0) {
    const int parent = cut_at_last_separator(part);
    if (parent >= n) return 0;  // a drive root that does not exist
    n = parent;
  }
  return n;
}

// Makes a new folder below the temporary folder into folder. Only a folder
// this run created will do, as the whole of it is deleted at the end: a name
// that exists by then (another process made it meanwhile) is skipped.
bool make_temp_folder(WideChar* folder) {
  for (int attempt = 0; attempt < kTempFolderAttempts; ++attempt) {
    new_temp_folder_name(folder, kPathCapacity);
    if (folder[0] == 0) break;
    if (create_folder_tree(folder) == 0) return true;
    if (path_missing(folder) != 0) break;  // cannot be made at all
  }
  folder[0] = 0;
  return false;
}

// Second pass into a fresh folder below the temporary folder, named after the
// destination's last component; destination becomes that staging folder.
int install_through_temp_folder(InstallJob* job) {
  if (!make_temp_folder(job->temp_folder)) return kExtractCannotCreate;
  WideChar staging[kJoinedCapacity];
  copy_text(job->temp_folder, staging, kJoinedCapacity);
  join_path(job->destination + name_offset(job->destination), staging, kJoinedCapacity);
  copy_text(job->destination, job->final_destination, kPathCapacity);
  copy_text(staging, job->destination, kPathCapacity);
  // Inside the run's own temporary folder (or that folder itself): either
  // way a folder this run has just created.
  if (path_missing(job->destination) != 0 && create_folder_tree(job->destination) != 0) return kExtractCannotCreate;
  return install_pass(job, true);
}

// Takes back what a failed run added to the user's folder: the files it
// created there, the renamed PSAPI.DLL, and the folders it made that are then
// empty. Files it replaced cannot come back.
void undo_installation(InstallJob* job) {
  const WideChar* folder = user_folder(job);
  WideChar path[kJoinedCapacity];
  const WideChar* names = reinterpret_cast<const WideChar*>(job->added.data.data);
  const uint32_t count = job->added.size / sizeof(WideChar);
  for (uint32_t at = 0; at < count; at += wide_length(names + at) + 1) {
    copy_text(folder, path, kJoinedCapacity);
    join_path(names + at, path, kJoinedCapacity);
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);  // an entry may have made it read-only
    DeleteFileW(path);
  }
  if (job->psapi_renamed) {
    WideChar from[kJoinedCapacity];
    copy_text(folder, from, kJoinedCapacity);
    copy_text(folder, path, kJoinedCapacity);
    join_path(L"VXPSAPI.DLL", from, kJoinedCapacity);
    join_path(L"PSAPI.DLL", path, kJoinedCapacity);
    MoveFileW(from, path);
  }
  copy_text(folder, path, kPathCapacity);
  for (int n = wide_length(path); n > job->existing_length;) {
    if (!RemoveDirectoryW(path) && path_missing(path) == 0) break;  // not empty
    const int parent = cut_at_last_separator(path);
    if (parent >= n) break;
    n = parent;
  }
}

// Moves everything in the staging folder into the final destination, merging
// with what is there: the shell would place the staging folder itself inside
// a destination folder that exists. Then destination is the final one again.
int move_from_staging(InstallJob* job) {
  WideChar source[kPathCapacity];
  copy_text(job->destination, source, kPathCapacity);
  join_path(L"*", source, kPathCapacity);
  const int result = shell_move(job->dialog, source, job->final_destination);
  // The empty staging folder goes, so that the program group can be built in
  // the temporary folder under the same name.
  if (result == 0 && lstrcmpiW(job->destination, job->temp_folder) != 0) RemoveDirectoryW(job->destination);
  copy_text(job->final_destination, job->destination, kPathCapacity);
  return result;
}

void create_shortcuts(HWND dialog, const InstallJob* job, const WideChar* group) {
  if (IsDlgButtonChecked(dialog, IDC_PROGRAM_GROUP) == BST_CHECKED) create_program_group(dialog, job);
  WideChar target[kJoinedCapacity];
  copy_text(job->destination, target, kJoinedCapacity);
  join_path(job->main_program, target, kJoinedCapacity);
  if (IsDlgButtonChecked(dialog, IDC_DESKTOP_ICON) == BST_CHECKED) create_desktop_shortcut(target, group);
  if (IsDlgButtonChecked(dialog, IDC_QUICK_LAUNCH) == BST_CHECKED) create_quick_launch_shortcut(target, group);
}

void show_success(HWND dialog, const WideChar* group) {
  WideChar text[kJoinedCapacity];
  copy_text(group, text, kJoinedCapacity);
  const int length = wide_length(text);
  ui_text(setup_state->ui_strings, 3000, text + length, kJoinedCapacity - 1 - length);
  WideChar caption[kPathCapacity];
  GetWindowTextW(dialog, caption, kPathCapacity);
  show_message(dialog, text, caption, MB_ICONINFORMATION);
}

// Whether a file of this name may be in the pass's folder already. In a fresh
// folder only an earlier entry of the pass can have put it there: the names
// written are kept as two bits each of their key, and a name whose bits are
// both set already is looked up (a bit shared by chance costs one look).
bool may_exist(InstallJob* job, const WideChar* file) {
  if (!job->fresh_folder) return true;
  const uint32_t key = file_name_key(file);
  if (key == 0) {
    // Another spelling of an earlier name, by rules beyond the key's: from
    // here on every name is looked up.
    job->fresh_folder = false;
    return true;
  }
  const uint32_t bits[2] = {key & (kNameBitWords * 32 - 1), (key >> 16) & (kNameBitWords * 32 - 1)};
  bool seen = true;
  for (uint32_t bit : bits) {
    uint32_t& word = job->name_bits[bit / 32];
    if ((word & (1u << (bit % 32))) == 0) seen = false;
    word |= 1u << (bit % 32);
  }
  return seen;
}

// Shows the path in the status line. The line is painted at most every
// kRepaintEvery ms, and until then the path waits in the job: setting a
// window's text is a round trip to the window system, which costs about as
// much as writing a small file. Each paint shows the latest path, as a line
// that took every path would.
void show_status(InstallJob* job, const WideChar* path) {
  if (job->status == nullptr) return;
  copy_text(path, job->status_text, kPathCapacity);
  job->status_pending = true;
  const DWORD now = GetTickCount();
  if (now - job->last_repaint >= kRepaintEvery) {
    job->last_repaint = now;
    paint_status(job);
  }
}

}  // namespace

int32_t install_entry(WideChar* name, const uint8_t*, uint32_t size, void* user) {
  InstallJob* job = static_cast<InstallJob*>(user);
  const WideChar* file = name + name_offset(name);
  // Folders are dropped, so a name is written inside the destination as
  // itself or not at all.
  if (!is_safe_file_name(file)) {
    job->refused = kExtractBadChecksum;
    return 1;
  }
  const LanguageCode code = entry_language_code(file, wide_length(setup_state->base_name));
  if (language_unchecked(job->dialog, code)) {
    name[0] = 0;
    return 0;
  }
  const EntryRole role = entry_role(file);
  if (role == kRoleScript) {
    name[0] = 0;
    return 0;
  }
  if (role == kRoleUninstaller) copy_text(file, job->uninstaller, kFieldCapacity);
  // The file that Exe names is the main program wherever it comes in the
  // archive; the first V*.EXE stands in for an Exe that names no file.
  if (exe_names_file(job->exe, file)) {
    copy_text(file, job->main_program, kFieldCapacity);
  } else if (role == kRoleMainProgram && job->main_program[0] == 0 && wide_length(file) < kFieldCapacity) {
    copy_text(file, job->main_program, kFieldCapacity);
  }
  WideChar path[kPathCapacity];
  copy_text(job->destination, path, kPathCapacity);
  if (join_path(file, path, kPathCapacity) != kTextOk) {
    job->refused = kExtractCannotCreate;  // a cut name would be another file
    return 1;
  }
  // In the user's folder one look (none in a fresh folder for a name not
  // written yet) tells both whether the file is new to it, to be recorded so
  // that a failed run can take it back, and whether a target is to be
  // deleted. During the fallback the staging folder is fresh, and the user's
  // folder is looked at for the record.
  const bool staging = job->temp_folder[0] != 0;
  const bool may_be_there = may_exist(job, file);
  const bool exists = !staging && may_be_there && path_missing(path) == 0;
  WideChar final_path[kJoinedCapacity];
  copy_text(user_folder(job), final_path, kJoinedCapacity);
  join_path(file, final_path, kJoinedCapacity);
  const bool new_to_user = staging ? path_missing(final_path) != 0 : !exists;
  if (new_to_user && byte_buffer_append(&job->added, reinterpret_cast<const uint8_t*>(file),
                                        static_cast<uint32_t>((wide_length(file) + 1) * sizeof(WideChar))) != 0) {
    job->refused = kExtractNoReader;
    return 1;
  }
  if (staging ? may_be_there : exists) {
    // In the fresh staging folder an existing file is an earlier entry of
    // this pass with the same name: the later entry replaces it, also when
    // the earlier one is read-only. There no look is made first: deleting a
    // missing file fails harmlessly.
    if (staging) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
  }
  copy_text(path, name, kPathCapacity);
  job->installed_bytes += size;
  show_status(job, path);
  return 0;
}

bool rename_psapi_aside(const WideChar* folder) {
  WideChar from[kPathCapacity];
  copy_text(folder, from, kPathCapacity);
  add_separator(from, kPathCapacity);
  WideChar to[kPathCapacity];
  copy_text(from, to, kPathCapacity);
  append_text(L"PSAPI.DLL", from, kPathCapacity);
  append_text(L"VXPSAPI.DLL", to, kPathCapacity);
  return MoveFileW(from, to) != FALSE;
}

int run_installation(HWND dialog) {
  SetupState* s = setup_state;
  WideChar group[kFieldCapacity];
  ansi_to_wide(s->Group, group, kFieldCapacity);
  InstallJob job = {};
  job.dialog = dialog;
  ansi_to_wide(s->Exe, job.exe, kFieldCapacity);
  GetDlgItemTextW(dialog, IDC_DESTINATION, job.destination, kDestinationLength + 1);
  if (job.destination[0] == 0) return -1;
  // A relative folder would be recorded as such; the files go where the
  // full form points.
  full_path(job.destination);

  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  SetErrorMode(SEM_FAILCRITICALERRORS);
  job.existing_length = existing_length(job.destination);
  const bool fresh = create_folder_tree(job.destination) == 0;
  job.psapi_renamed = rename_psapi_aside(job.destination);
  int result = install_pass(&job, fresh);
  if (result == kExtractCannotCreate) result = install_through_temp_folder(&job);
  bool move_failed = false;
  if (result == 0) {
    SetDlgItemTextW(dialog, IDC_STATUS, L"");
    move_failed = job.temp_folder[0] != 0 && move_from_staging(&job) != 0;
    if (move_failed) result = -1;
  }
  if (result != 0) {
    // The temporary folder holds nothing the user needs: the package is
    // still in the setup program.
    undo_installation(&job);
    if (job.temp_folder[0] != 0) shell_delete_folder(job.temp_folder);
    byte_buffer_reset(&job.added);
    SetCursor(previous);
    if (result == kExtractCannotCreate || move_failed) {
      show_system_error(dialog, kCannotMake, nullptr);
    } else {
      show_ui_message(dialog, 3001, s->setup_path, MB_ICONERROR);
    }
    return result;
  }

  byte_buffer_reset(&job.added);
  save_destination(job.destination);
  if (job.uninstaller[0] != 0) {
    WideChar uninstaller[kJoinedCapacity], icon[kJoinedCapacity];
    copy_text(job.destination, uninstaller, kJoinedCapacity);
    join_path(job.uninstaller, uninstaller, kJoinedCapacity);
    copy_text(job.destination, icon, kJoinedCapacity);
    join_path(job.main_program[0] != 0 ? job.main_program : job.uninstaller, icon, kJoinedCapacity);
    const UninstallEntry entry = {uninstaller, icon, job.destination, job.installed_bytes};
    write_uninstall_entry(&entry);
  }
  if (job.main_program[0] != 0) create_shortcuts(dialog, &job, group);
  if (job.temp_folder[0] != 0) shell_delete_folder(job.temp_folder);
  SetCursor(previous);
  show_success(dialog, group);
  return 0;
}
