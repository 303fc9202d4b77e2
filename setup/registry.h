// Small registry helpers of the installer: a string value read, a key created
// for writing, a string value written. Each releases what it acquired.
#pragma once

#include <windows.h>

#include "support/text.h"

// Reads the REG_SZ value of root\key into buffer (capacity in characters),
// always terminated. Returns false, with an empty buffer, when the key or the
// value cannot be read or the value is not a string.
bool read_registry_text(HKEY root, const WideChar* key, const WideChar* value, WideChar* buffer, int capacity);
// Creates or opens root\key for writing (non-volatile, KEY_WRITE); nullptr
// when that fails. The caller closes it with RegCloseKey.
HKEY create_registry_key(HKEY root, const WideChar* key);
// Sets a REG_SZ value, stored with its terminator. True on success.
bool write_registry_text(HKEY key, const WideChar* value, const WideChar* text);
