// The language list's items and check boxes, through list view messages.
#include "setup/language_list.h"

#include <commctrl.h>

#include "setup/ui_strings.h"

void add_builtin_languages(HWND list) {
  WideChar text[kItemTextCapacity + 1];
  ui_text(setup_state->ui_strings, 2001, text, kItemTextCapacity);
  add_language_item(list, text, kLanguageEnglish);
  ui_text(setup_state->ui_strings, 2002, text, kItemTextCapacity);
  add_language_item(list, text, kLanguageGerman);
}

void add_language_item(HWND list, const WideChar* text, LanguageCode code) {
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = const_cast<WideChar*>(text);
  item.lParam = static_cast<LPARAM>(code);
  const int index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (index >= 0) set_language_check(list, index, true);
}

int find_language_item(HWND list, LanguageCode code) {
  LVFINDINFOW find = {};
  find.flags = LVFI_PARAM;
  find.lParam = static_cast<LPARAM>(code);
  return static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

LanguageCode language_item_code(HWND list, int index) {
  WideChar text[260];
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = index;
  item.pszText = text;
  item.cchTextMax = 260;
  if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return 0;
  return static_cast<LanguageCode>(item.lParam);
}

UINT language_check(HWND list, int index) {
  return static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(index), kStateMask)) >> 12;
}

void set_language_check(HWND list, int index, bool checked) {
  LVITEMW item = {};
  item.stateMask = kStateMask;
  item.state = checked ? kStateChecked : kStateUnchecked;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

void check_all_languages(HWND list) {
  if (list != nullptr) set_language_check(list, -1, true);
}

void uncheck_all_languages(HWND list) {
  if (list != nullptr) set_language_check(list, -1, false);
}

void invert_language_checks(HWND list) {
  if (list == nullptr) return;
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    set_language_check(list, i, language_check(list, i) == 1);
  }
  SetCursor(previous);
}
