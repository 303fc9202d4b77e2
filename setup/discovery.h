// The discovery pass: the EntryCallback that takes every entry into memory and
// reads FILE_ID.DIZ, the .INF keys and the .LNG packs as they arrive, what it
// writes into the dialog, and the thread that closes running copies of the
// packaged program.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/text.h"

// The pass's EntryCallback; user is the dialog. 0, or 1 (which ends the pass)
// for an entry name that cannot be installed as itself; it sets
// setup_state->unsafe_entry_name.
int32_t discovery_callback(WideChar* name, const uint8_t* data, uint32_t size, void* user);
// Title, title label (with its font), Group and version from FILE_ID.DIZ.
void read_description(HWND dialog, const char* text);
// ID, Group, Class, Exe and Publisher from an .INF text.
void read_install_keys(const char* text);
// Adds the pack's language to list 1010 unless an item has its code already.
void read_language_pack(HWND dialog, const uint8_t* data, uint32_t size, const WideChar* name);
// Creates the title label's font once and gives it to the label.
void set_title_font(HWND dialog);
// Thread body: asks every top-level window of the class named by argument (a
// heap copy that the thread releases) that another process owns to close
// (WM_CLOSE, posted once per window) and waits for each to go; returns 0 when
// none is left.
DWORD WINAPI close_running_instances(void* argument);
// Starts close_running_instances for window_class; its handle is not kept.
void start_closing_thread(const char* window_class);
