// Small registry helpers of the installer and the uninstaller: the names of
// the keys they share, a string value read, a key created for writing, string
// and number values written. Each releases what it acquired.
#pragma once

#include <windows.h>

#include "support/text.h"

// Below HKEY_CURRENT_USER: one value per package ID holding its destination.
extern const WideChar kVendorKey[];
inline constexpr int kKeyPathCapacity = 512;

// The uninstall key of an entry name (the Group): the system's list of
// installed software, SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall,
// with the name as its last component, cut to capacity.
void uninstall_key_path(const WideChar* name, WideChar* buffer, int capacity);

// Reads the REG_SZ value of root\key into buffer (capacity in characters),
// always terminated. Returns false, with an empty buffer, when the key or the
// value cannot be read or the value is not a string.
bool read_registry_text(HKEY root, const WideChar* key, const WideChar* value, WideChar* buffer, int capacity);
// Creates or opens root\key for writing (non-volatile, KEY_WRITE); nullptr
// when that fails. The caller closes it with RegCloseKey.
HKEY create_registry_key(HKEY root, const WideChar* key);
// Sets a REG_SZ value, stored with its terminator. True on success.
bool write_registry_text(HKEY key, const WideChar* value, const WideChar* text);
// Sets a REG_DWORD value. True on success.
bool write_registry_number(HKEY key, const WideChar* value, DWORD number);
