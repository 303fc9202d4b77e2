// Conversion between 8-bit text in the system ANSI code page and UTF-16.
// On Windows the real CP_ACP; elsewhere Windows-1252, through a table.
#pragma once

#include "support/text.h"

// Converts text (with its terminator) into buffer, at most capacity-1
// characters, always terminated when capacity > 0. Missing text: empty buffer.
// Returns 0.
int ansi_to_wide(const char* text, WideChar* buffer, int capacity);
// Converts text behind the buffer's current content when there is room.
void append_ansi_as_wide(const char* text, WideChar* buffer, int capacity);
// Converts wide text to the ANSI code page, at most capacity-1 bytes.
void wide_to_ansi(const WideChar* text, char* buffer, int capacity);
// True when every character of text has an exact ANSI code page form.
bool wide_fits_ansi(const WideChar* text);

// The platform's half (charset_posix.cpp, charset_win32.cpp): converts
// text into room characters at most plus a terminator. Called by the two
// conversions above with present text and room > 0.
void convert_ansi_to_wide(const char* text, WideChar* buffer, int room);
void convert_wide_to_ansi(const WideChar* text, char* buffer, int room);
