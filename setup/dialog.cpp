// The main dialog: procedure, initialisation in its fixed order, the list's
// columns and menu, and the folder browser.
#include "setup/dialog.h"

#include <commctrl.h>
#include <shlobj.h>

#include "archive/extract.h"
#include "setup/destination.h"
#include "setup/discovery.h"
#include "setup/install.h"
#include "setup/install_names.h"
#include "setup/language_list.h"
#include "setup/messages.h"
#include "setup/resource.h"
#include "setup/state.h"
#include "support/files.h"

namespace {

constexpr uint16_t kLanguageMenuIds[] = {IDM_CHECK_ALL, IDM_UNCHECK_ALL, IDM_INVERT};
constexpr DWORD kListExtendedStyle = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP;
static_assert(kListExtendedStyle == 0x424);

void on_command(HWND dialog, int id) {
  HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
  switch (id) {
    case IDC_INSTALL:
      if (run_installation(dialog) == 0) PostMessageW(dialog, WM_CLOSE, 0, 0);
      break;
    case IDC_CANCEL:
      PostMessageW(dialog, WM_CLOSE, 0, 0);
      break;
    case IDM_CHECK_ALL:
      check_all_languages(list);
      break;
    case IDM_UNCHECK_ALL:
      uncheck_all_languages(list);
      break;
    case IDM_INVERT:
      invert_language_checks(list);
      break;
    case IDC_BROWSE:
      browse_for_destination(dialog, IDC_DESTINATION);
      break;
    default:
      break;
  }
}

// Parses path into an item identifier list of the desktop folder, or nullptr.
LPITEMIDLIST parse_folder(IShellFolder* desktop, WideChar* path) {
  LPITEMIDLIST item = nullptr;
  if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, path, nullptr, &item, nullptr))) return nullptr;
  return item;
}

}  // namespace

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM first, LPARAM second) {
  switch (message) {
    case WM_INITDIALOG:
      on_init_dialog(dialog);
      break;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      break;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(first) == GetDlgItem(dialog, IDC_LANGUAGES)) show_language_menu(dialog);
      break;
    case WM_COMMAND:
      on_command(dialog, LOWORD(first));
      break;
    default:
      break;
  }
  return 0;
}

void on_init_dialog(HWND dialog) {
  SetupState* s = setup_state;
  center_on_desktop(dialog);
  SetClassLongPtrW(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(s->icon));
  set_dialog_texts(dialog, s->ui_strings, dialog_text_ids);
  HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
  insert_columns(list, language_columns);
  set_column_texts(list, language_columns);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExtendedStyle);
  add_builtin_languages(list);

  int result = extract_archive(s->setup_path, discovery_callback, dialog);
  if (result == kExtractOk && s->unsafe_entry_name) result = kExtractBadChecksum;
  if (s->Class[0] == 0) append_narrow(s->Group, s->Class, kFieldCapacity);
  // The Group names the product folder, the program group and the shortcuts.
  make_group_name_safe(s->Group, kFieldCapacity);
  // A damaged package installs nothing, so it must not close the user's
  // running program either: the thread and the preset run only after a pass
  // that succeeded.
  if (result != 0) {
    show_ui_message(dialog, 3001, s->setup_path, MB_ICONERROR);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    return;
  }
  if (s->Class[0] != 0) start_closing_thread(s->Class);
  preset_destination(dialog);
}

void center_on_desktop(HWND window) {
  RECT desktop, own;
  GetWindowRect(GetDesktopWindow(), &desktop);
  GetWindowRect(window, &own);
  const int x = (desktop.right - desktop.left + own.left - own.right) >> 1;
  const int y = (desktop.bottom - desktop.top + own.top - own.bottom) >> 1;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void insert_columns(HWND list, const ColumnSpec* table) {
  RECT client = {};
  GetClientRect(list, &client);
  const int scroll_bar = GetSystemMetrics(SM_CXVSCROLL);
  WideChar empty[1] = {0};
  for (int i = 0; table[i].id != 0; ++i) {
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = static_cast<int>(table[i].format & 3);
    column.pszText = empty;
    column.cx = column_width(table, i, client.right - client.left, scroll_bar);
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
}

void set_column_texts(HWND list, const ColumnSpec* table) {
  WideChar text[kMenuTextCapacity + 1];
  for (int i = 0; table[i].id != 0; ++i) {
    ui_text(setup_state->ui_strings, table[i].id, text, kMenuTextCapacity);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT;
    column.pszText = text;
    SendMessageW(list, LVM_SETCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
}

void show_language_menu(HWND dialog) {
  POINT at;
  GetCursorPos(&at);
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  WideChar text[kMenuTextCapacity + 1];
  for (uint16_t id : kLanguageMenuIds) {
    ui_text(setup_state->ui_strings, id, text, kMenuTextCapacity);
    if (text[0] != 0) AppendMenuW(menu, MF_STRING, id, text);
  }
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, dialog, nullptr);
  DestroyMenu(menu);
}

void browse_for_destination(HWND dialog, int edit_id) {
  WideChar path[kPathCapacity] = {};
  GetDlgItemTextW(dialog, edit_id, path, kPathCapacity);
  BROWSEINFOW info = {};
  info.hwndOwner = dialog;
  info.ulFlags = BIF_RETURNONLYFSDIRS;

  IMalloc* allocator = nullptr;
  IShellFolder* desktop = nullptr;
  LPITEMIDLIST preselected = nullptr;
  if (path[0] != 0 && SUCCEEDED(SHGetMalloc(&allocator)) && SUCCEEDED(SHGetDesktopFolder(&desktop))) {
    full_path(path);
    preselected = parse_folder(desktop, path);
    if (preselected == nullptr) {
      cut_at_last_separator(path);  // a folder not created yet: its parent
      preselected = parse_folder(desktop, path);
    }
    if (preselected != nullptr) {
      info.lpfn = browse_callback;
      info.lParam = reinterpret_cast<LPARAM>(preselected);
    }
    desktop->Release();
  }

  LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
  if (chosen != nullptr) {
    if (SHGetPathFromIDListW(chosen, path)) SetDlgItemTextW(dialog, edit_id, path);
    if (allocator != nullptr) allocator->Free(chosen); else CoTaskMemFree(chosen);
  }
  if (allocator != nullptr) {
    if (preselected != nullptr) allocator->Free(preselected);
    allocator->Release();
  }
}

int CALLBACK browse_callback(HWND browser, UINT event, LPARAM parameter, LPARAM value) {
  if (event == BFFM_INITIALIZED) SendMessageW(browser, BFFM_SETSELECTIONW, FALSE, value);
  return 0;
}
