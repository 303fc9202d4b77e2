// The Win32 side of the UI texts: the system's default language, the active
// table, the dialog's texts and the installer's two message boxes.
#pragma once

#include <windows.h>

#include <cstdint>

#include "setup/ui_strings.h"

// The caption path of show_system_error when its caller gives none: an empty
// text, so such boxes have an empty caption.
extern const WideChar* default_caption_path;

// Writes "DE", "IT" or "US" for the system's default language (3+ bytes).
void system_ui_language(char* buffer);
// Fills setup_state->ui_language when empty and picks setup_state->ui_strings.
void select_ui_strings();
// Sets the window title from ids[0] (when not 0) and the texts of the controls
// named by the following ids, up to the terminating 0.
void set_dialog_texts(HWND window, const UiStringTable* table, const uint16_t* ids);
// A message box whose caption is the caption path's part behind its last
// separator (the whole path when that part is empty). Returns the box's
// result, or 2 without a box when the text is missing or empty.
int show_message(HWND owner, const WideChar* text, const WideChar* caption_path, UINT style);
// show_message with the text of id in the active table.
int show_ui_message(HWND owner, uint16_t id, const WideChar* caption_path, UINT style);
// The system's text for an error code, at most capacity - 2 characters.
void system_error_text(DWORD code, WideChar* buffer, int capacity);
// An error box with the system's text for code (0: the thread's last error).
// Returns 0 when there is no error, 2 when the system has no text, else the
// box's result.
int show_system_error(HWND owner, DWORD code, const WideChar* caption_path);
