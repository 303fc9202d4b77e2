// What the installation makes of names: which file names an entry may be
// written under at all, the language code of a language-specific file, the
// files with a role of their own (uninstaller, installation script, main
// program), and the Group made fit to name a folder and a shortcut. Pure
// logic, tested on both platforms; the Win32 side is in install.h.
#pragma once

#include "setup/state.h"
#include "support/text.h"

// What install_entry does with a file, by its name (folders dropped).
enum EntryRole {
  kRoleFile = 0,         // installed
  kRoleUninstaller = 1,  // "UnInst.exe", any case: installed and remembered
  kRoleScript = 2,       // longer than 4 characters and ends in ".INF": never installed
  kRoleMainProgram = 3,  // longer than 4, begins with V or v, ends in ".EXE": a main program candidate
};

// True when a file name (without folders) is created inside a folder under
// that very name. False for an empty name, a name that is nothing but dots
// and blanks ("." and ".." among them: the system would drop them or climb a
// folder), a character the system refuses in file names (control characters,
// < > : " / \ | ? *; a colon would open an alternate data stream), and a
// device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, also with
// an extension or trailing blanks), whatever the letter case.
bool is_safe_file_name(const WideChar* name);

// True when the package's Exe value names this file (a file name without
// folders), ASCII case ignored. An Exe that is no file name the installer
// writes (folders, "..", a refused name) names no file: it counts as missing.
bool exe_names_file(const WideChar* exe, const WideChar* file);

// The LanguageCode that a language-specific file name carries, or 0. file is
// the name without folders; base_length the length of the package base name.
// The file is language-specific when it has an underscore at index
// base_length; the code is the text behind it up to the first '.', upper-
// cased, packed as in LanguageCode (a code of 4 characters keeps its first
// three, one of 5 or more is no code). The base name's own characters are not
// compared.
LanguageCode entry_language_code(const WideChar* file, int base_length);

// The role of a file name (without folders).
EntryRole entry_role(const WideChar* file);

// A nonzero key for a file name (without folders) such that two names the
// file system takes for the same file have the same key: ASCII letters in
// either case, trailing dots and blanks ignored. 0 for a name that may match
// another spelling beyond that (a character outside ASCII, whose case
// mapping is the system's, or a '~', which may be another file's short name).
uint32_t file_name_key(const WideChar* name);

// Makes the Group (8-bit, at most kFieldCapacity - 1 bytes) fit to name a
// folder, a shortcut and a registry key, character by character (a double-
// byte code page's characters survive whole): characters the system refuses
// in file names become '_', trailing dots and blanks go, and a device name
// gets a '_' behind its letters ("CON.x" becomes "CON_.x"), or in place of the
// last of them when the Group is full. An empty Group stays empty.
void make_group_name_safe(char* group, int capacity);
