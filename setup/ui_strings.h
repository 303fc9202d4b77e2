// The built-in UI string tables (English, German, Italian), the lookup of a UI
// text by id and the tab escapes. Pure logic over the support layer's bounded
// text operations; the Win32 side of the UI texts is in messages.h.
#pragma once

#include <cstdint>

#include "support/text.h"

struct UiString {
  uint16_t id;       // 0 ends a table
  const void* text;  // 8-bit ANSI text, or UTF-16 when the table's encoding is -1
};

struct UiStringTable {
  int16_t encoding;         // -1: texts are UTF-16; otherwise 8-bit ANSI code page text
  char code[3];             // two-letter language code
  const UiString* entries;  // ended by the entry with id 0 and no text
};

inline constexpr int kUiTableCount = 3;
// "US" (the default), "DE", "IT", in this order.
extern const UiStringTable ui_string_tables[kUiTableCount];
// The ids that set_dialog_texts applies to dialog 1000: the title, then controls.
extern const uint16_t dialog_text_ids[];

// The uninstaller's texts: the question, the closing message behind the
// Group, the files in use (their names follow), a list that cannot be read.
inline constexpr uint16_t kTextUninstallConfirm = 3100;
inline constexpr uint16_t kTextUninstalled = 3101;
inline constexpr uint16_t kTextUninstallInUse = 3102;
inline constexpr uint16_t kTextUninstallDamaged = 3103;

// Capacities the installer looks texts up with.
inline constexpr int kDialogTextCapacity = 511;
inline constexpr int kMessageTextCapacity = 510;
inline constexpr int kMenuTextCapacity = 63;
inline constexpr int kItemTextCapacity = 31;

// The text of id in table into buffer; empty for a missing table, an unknown
// id or id 0. At most capacity - 2 characters are kept. Capacity <= 0: nothing.
void ui_text(const UiStringTable* table, uint16_t id, WideChar* buffer, int capacity);
// Replaces every backslash-t pair by a TAB, in place.
void expand_tab_escapes(WideChar* text);
// The UI language code ("DE", "IT" or "US") for a Windows language id.
const char* ui_language_for(uint16_t language_id);
// The table whose code equals code, ASCII case ignored; the first ("US") when
// none does or code is missing.
const UiStringTable* find_ui_strings(const char* code);
// Where a message box's caption starts in its caption path: behind the last
// separator, or 0 (the whole path) when nothing follows it.
int caption_offset(const WideChar* path);
