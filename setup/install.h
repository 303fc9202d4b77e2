// The installation pass: main_dialog_proc calls run_installation on OK; 0
// closes the dialog, any other result keeps it open. The InstallJob is the
// record of one run, which the shortcut steps read as well.
#pragma once

#include <windows.h>

#include <cstdint>

#include "archive/memory.h"
#include "setup/state.h"

constexpr int kNameBitWords = 256;              // 8192 bits for the names a pass has written

struct InstallJob {
  HWND dialog;                                  // the main dialog
  WideChar destination[kPathCapacity];          // folder receiving the files; the staging folder during the fallback
  WideChar exe[kFieldCapacity];                 // the package's Exe value
  WideChar main_program[kFieldCapacity];        // file name of the main program: the file that Exe names, else
                                                // the first V*.EXE
  WideChar uninstaller[kFieldCapacity];         // file name of the installed uninstaller
  WideChar temp_folder[kPathCapacity];          // the fallback's temporary folder; empty unless used
  WideChar final_destination[kPathCapacity];    // the user's destination while destination is the staging folder
  uint64_t installed_bytes;                     // size of the files the pass wrote
  int refused;                                  // result of a pass that install_entry ended: 3 a name that
                                                // cannot be installed as itself, -5 a path that does not fit,
                                                // 1 the list of added files cannot grow
  ByteBuffer added;                             // file names (UTF-16, each zero-ended) that this run added to the
                                                // user's folder, for the undo of a failed run
  int existing_length;                          // length of the part of the user's folder that existed before
                                                // the run: the folders behind it are the run's own
  bool psapi_renamed;                           // the run renamed the folder's PSAPI.DLL aside
  HWND status;                                  // the status line, looked up once per pass
  DWORD last_repaint;                           // GetTickCount of the status line's last repaint
  WideChar status_text[kPathCapacity];          // the latest path for the status line
  bool status_pending;                          // status_text is newer than what the line shows
  bool fresh_folder;                            // destination was created by this run and holds only what
                                                // the pass wrote; false: every name is looked up
  uint32_t name_bits[kNameBitWords];            // two bits per name written in a fresh folder (file_name_key)
};

// Installs the package into the folder of the destination field, records it
// and creates the chosen shortcuts. Returns 0 on success; -1 when the field
// is empty or the files cannot be moved from the temporary folder; -5 when no
// file could be created, not even in a temporary folder (error 82 shown);
// any other extract_archive result when the package is damaged (UI text 3001
// shown).
int run_installation(HWND dialog);
// The pass's EntryCallback (user: the InstallJob): applies the language
// filter, drops .INF files, remembers the uninstaller and the main program,
// records a file that the user's folder does not hold yet, deletes an
// existing target (neither is looked for in a fresh folder that got no such
// name yet) and rewrites the name to destination\file name. Returns 0;
// nonzero (with the job's refused set) for a name that cannot be installed as
// itself, a path that does not fit, or a record that cannot be kept.
int32_t install_entry(WideChar* name, const uint8_t* data, uint32_t size, void* user);
// Renames folder\PSAPI.DLL to folder\VXPSAPI.DLL; true when it was renamed.
bool rename_psapi_aside(const WideChar* folder);
