// Shortcuts and the program group: special folders, the quick-launch folder,
// shell link files, the program group with its two shortcuts, and the names
// of all of them, which the uninstaller removes by the same rules.
#pragma once

#include <windows.h>

#include "support/text.h"

struct InstallJob;

inline constexpr int kLinkPathCapacity = 512;
// The program group's shortcut to the uninstaller.
inline constexpr WideChar kUninstallLinkName[] = L"Uninstall";

// <folder>\<name>.lnk into buffer (kLinkPathCapacity).
void link_path(const WideChar* folder, const WideChar* name, WideChar* buffer);

// The file-system path of a special folder (CSIDL number) into buffer (at
// least 260 characters), or an empty buffer.
void special_folder_path(int csidl, WideChar* buffer);
// The application data folder's "\Microsoft\Internet Explorer\Quick Launch",
// or an empty buffer.
void quick_launch_folder(WideChar* buffer, int capacity);
// 1 when the quick-launch folder is known and exists, else 0.
int quick_launch_exists();
// Writes a shortcut (link file) to target with its working folder and show
// command SW_SHOW. Returns the link object's last status; 0 when a fault in
// the shell's link object ended the attempt (it never ends the installer).
HRESULT create_shell_link(const WideChar* link, const WideChar* target, const WideChar* working_folder);
// Runs body(argument) on a thread of its own and returns its result; a fault
// that nothing in the body handles ends only that thread, and the result is
// then 0. Also 0 when the thread cannot be started.
DWORD run_contained(LPTHREAD_START_ROUTINE body, void* argument);
// <desktop>\<name>.lnk and <quick launch>\<name>.lnk to target, working in
// the target's folder.
void create_desktop_shortcut(const WideChar* target, const WideChar* name);
void create_quick_launch_shortcut(const WideChar* target, const WideChar* name);
// <link folder>\<link name>.lnk to <target folder>\<target file>, working in
// the target folder; nothing when the link name or the target file is empty.
void create_group_shortcut(const WideChar* link_name, const WideChar* target_folder, const WideChar* target_file,
                           const WideChar* link_folder);
// The program group named by the Group in the all-users programs folder (the
// user's own when that has no path), with shortcuts to the main program and
// the uninstaller. Built in the temporary folder and moved when the job used
// one. Nothing happens when the group folder exists already.
void create_program_group(HWND dialog, const InstallJob* job);
