// Shortcuts through the shell's link object, special folders through item
// identifier lists, and the program group. A fault inside the link object is
// contained: the link is written on a thread of its own, and a fault that
// nothing there handles ends only that thread.
#include "setup/shortcuts.h"

#include <objbase.h>
#include <shlobj.h>

#include "setup/install.h"
#include "setup/state.h"
#include "support/charset.h"
#include "support/files.h"

namespace {

const WideChar kQuickLaunch[] = L"\\Microsoft\\Internet Explorer\\Quick Launch";

// What the exception filter of a contained body needs; a filter takes no
// argument of its own. Set only while run_contained waits.
struct Containment {
  DWORD thread;                           // id of the thread running the body
  LPTOP_LEVEL_EXCEPTION_FILTER previous;  // the filter in force before
};
Containment containment = {};

LONG WINAPI end_contained_thread(EXCEPTION_POINTERS* fault) {
  if (containment.thread != 0 && GetCurrentThreadId() == containment.thread) ExitThread(0);
  return containment.previous != nullptr ? containment.previous(fault) : EXCEPTION_CONTINUE_SEARCH;
}

struct LinkRequest {
  const WideChar* link;     // path of the link file
  const WideChar* target;   // path the link points to
  const WideChar* working;  // working folder
};

DWORD WINAPI write_link(void* argument) {
  const LinkRequest* request = static_cast<const LinkRequest*>(argument);
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* link = nullptr;
  HRESULT status = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(&link));
  if (SUCCEEDED(status)) {
    link->SetPath(request->target);
    link->SetWorkingDirectory(request->working);
    link->SetShowCmd(SW_SHOW);
    IPersistFile* file = nullptr;
    status = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(status)) {
      WideChar path[kLinkPathCapacity];
      copy_text(request->link, path, kLinkPathCapacity);
      status = file->Save(path, TRUE);
      file->Release();
    }
    link->Release();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return static_cast<DWORD>(status);
}

// <folder>\<name>.lnk to target, working in the target's folder.
void create_folder_shortcut(const WideChar* folder, const WideChar* target, const WideChar* name) {
  if (folder[0] == 0 || name == nullptr || name[0] == 0) return;
  WideChar link[kLinkPathCapacity];
  link_path(folder, name, link);
  WideChar working[kLinkPathCapacity];
  copy_text(target, working, kLinkPathCapacity);
  cut_at_last_separator(working);
  create_shell_link(link, target, working);
}

enum GroupResult { kGroupMade, kGroupExists, kGroupFailed };

// The program group below one programs folder: made straight there, or in
// the job's temporary folder and then moved there.
GroupResult make_program_group(HWND dialog, const InstallJob* job, const WideChar* group, const WideChar* programs) {
  WideChar folder[kPathCapacity];
  copy_text(programs, folder, kPathCapacity);
  join_path(group, folder, kPathCapacity);
  if (path_missing(folder) == 0) return kGroupExists;  // an earlier installation's group is left as it is
  const bool moving = job->temp_folder[0] != 0;
  if (moving) {
    copy_text(job->temp_folder, folder, kPathCapacity);
    join_path(group, folder, kPathCapacity);
  }
  if (create_folder_tree(folder) != 0) return kGroupFailed;
  create_group_shortcut(group, job->destination, job->main_program, folder);
  create_group_shortcut(kUninstallLinkName, job->destination, job->uninstaller, folder);
  if (moving && shell_move(dialog, folder, programs) != 0) {
    shell_delete_folder(folder);
    return kGroupFailed;
  }
  return kGroupMade;
}

}  // namespace

void link_path(const WideChar* folder, const WideChar* name, WideChar* buffer) {
  copy_text(folder, buffer, kLinkPathCapacity);
  join_path(name, buffer, kLinkPathCapacity);
  append_text(L".lnk", buffer, kLinkPathCapacity);
}

void special_folder_path(int csidl, WideChar* buffer) {
  buffer[0] = 0;
  LPITEMIDLIST list = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || list == nullptr) return;
  if (!SHGetPathFromIDListW(list, buffer)) buffer[0] = 0;
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator))) {
    allocator->Free(list);
    allocator->Release();
  } else {
    CoTaskMemFree(list);
  }
}

void quick_launch_folder(WideChar* buffer, int capacity) {
  WideChar folder[kPathCapacity];
  buffer[0] = 0;
  special_folder_path(CSIDL_APPDATA, folder);
  if (folder[0] == 0) return;
  copy_text(folder, buffer, capacity);
  append_text(kQuickLaunch, buffer, capacity);
}

int quick_launch_exists() {
  WideChar folder[kPathCapacity];
  quick_launch_folder(folder, kPathCapacity);
  return folder[0] != 0 && path_missing(folder) == 0 ? 1 : 0;
}

DWORD run_contained(LPTHREAD_START_ROUTINE body, void* argument) {
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, body, argument, CREATE_SUSPENDED, &id);
  if (thread == nullptr) return 0;
  containment.thread = id;
  containment.previous = SetUnhandledExceptionFilter(end_contained_thread);
  ResumeThread(thread);
  // Messages sent to this thread's windows are handled while it waits, so
  // that the body can never wait for this thread in turn.
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  SetUnhandledExceptionFilter(containment.previous);
  containment = Containment{};
  DWORD result = 0;
  if (!GetExitCodeThread(thread, &result)) result = 0;
  CloseHandle(thread);
  return result;
}

HRESULT create_shell_link(const WideChar* link, const WideChar* target, const WideChar* working_folder) {
  LinkRequest request = {link, target, working_folder};
  return static_cast<HRESULT>(run_contained(write_link, &request));
}

void create_desktop_shortcut(const WideChar* target, const WideChar* name) {
  WideChar folder[kLinkPathCapacity];
  special_folder_path(CSIDL_DESKTOP, folder);
  create_folder_shortcut(folder, target, name);
}

void create_quick_launch_shortcut(const WideChar* target, const WideChar* name) {
  WideChar folder[kLinkPathCapacity];
  quick_launch_folder(folder, kLinkPathCapacity);
  create_folder_shortcut(folder, target, name);
}

void create_group_shortcut(const WideChar* link_name, const WideChar* target_folder, const WideChar* target_file,
                           const WideChar* link_folder) {
  if (link_name == nullptr || link_name[0] == 0 || target_file == nullptr || target_file[0] == 0) return;
  WideChar working[kLinkPathCapacity];
  copy_text(target_folder, working, kLinkPathCapacity);
  WideChar target[kLinkPathCapacity];
  copy_text(target_folder, target, kLinkPathCapacity);
  join_path(target_file, target, kLinkPathCapacity);
  WideChar link[kLinkPathCapacity];
  link_path(link_folder, link_name, link);
  create_shell_link(link, target, working);
}

void create_program_group(HWND dialog, const InstallJob* job) {
  WideChar group[kPathCapacity];
  ansi_to_wide(setup_state->Group, group, kPathCapacity);
  if (group[0] == 0) return;  // the programs folder itself is no group
  // The all-users programs folder first; a standard user cannot write there,
  // and then gets the group in the own programs folder instead of none.
  const int folders[2] = {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS};
  for (int csidl : folders) {
    WideChar programs[kPathCapacity];
    special_folder_path(csidl, programs);
    if (programs[0] == 0) continue;
    if (make_program_group(dialog, job, group, programs) != kGroupFailed) return;
  }
}
