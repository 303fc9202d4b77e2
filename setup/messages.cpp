// UI language selection, dialog texts and message boxes.
#include "setup/messages.h"

#include "setup/state.h"

namespace {
const WideChar kEmptyText[1] = {0};
}

const WideChar* default_caption_path = kEmptyText;

void system_ui_language(char* buffer) {
  const char* code = ui_language_for(GetSystemDefaultLangID());
  buffer[0] = code[0];
  buffer[1] = code[1];
  buffer[2] = 0;
}

void select_ui_strings() {
  SetupState* s = setup_state;
  s->ui_strings = &ui_string_tables[0];
  if (s->ui_language[0] == 0) system_ui_language(s->ui_language);
  s->ui_strings = find_ui_strings(s->ui_language);
}

void set_dialog_texts(HWND window, const UiStringTable* table, const uint16_t* ids) {
  if (table == nullptr || ids == nullptr) return;
  WideChar text[kDialogTextCapacity + 1];
  if (ids[0] != 0) {
    ui_text(table, ids[0], text, kDialogTextCapacity);
    SetWindowTextW(window, text);
  }
  for (const uint16_t* id = ids + 1; *id != 0; ++id) {
    ui_text(table, *id, text, kDialogTextCapacity);
    SetDlgItemTextW(window, *id, text);
  }
}

int show_message(HWND owner, const WideChar* text, const WideChar* caption_path, UINT style) {
  if (text == nullptr || text[0] == 0) return 2;
  if (owner == nullptr) owner = GetActiveWindow();
  if (caption_path == nullptr) caption_path = kEmptyText;
  return MessageBoxW(owner, text, caption_path + caption_offset(caption_path), style);
}

int show_ui_message(HWND owner, uint16_t id, const WideChar* caption_path, UINT style) {
  WideChar text[kMessageTextCapacity + 1];
  ui_text(setup_state->ui_strings, id, text, kMessageTextCapacity);
  return show_message(owner, text, caption_path, style);
}

void system_error_text(DWORD code, WideChar* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return;
  buffer[0] = 0;
  buffer[capacity - 1] = 0;
  WideChar* system_text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
                                 0x400, reinterpret_cast<WideChar*>(&system_text), 0, nullptr);
  if (n > 0 && system_text != nullptr) append_text(system_text, buffer, capacity - 1);
  if (system_text != nullptr) LocalFree(system_text);
}

int show_system_error(HWND owner, DWORD code, const WideChar* caption_path) {
  if (code == 0) code = GetLastError();
  if (code == 0) return 0;
  WideChar text[512];
  system_error_text(code, text, 512);
  if (text[0] == 0) return 2;
  return show_message(owner, text, caption_path != nullptr ? caption_path : default_caption_path, MB_ICONERROR);
}
