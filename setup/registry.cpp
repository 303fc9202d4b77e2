// Registry helpers: every string is UTF-16 and stored as REG_SZ with its
// terminator (2 x (length + 1) bytes); numbers are REG_DWORD.
#include "setup/registry.h"

const WideChar kVendorKey[] = L"Software\\Vantorix";

void uninstall_key_path(const WideChar* name, WideChar* buffer, int capacity) {
  buffer[0] = 0;
  append_text(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\", buffer, capacity);
  append_text(name, buffer, capacity);
}

bool read_registry_text(HKEY root, const WideChar* key, const WideChar* value, WideChar* buffer, int capacity) {
  if (capacity <= 0) return false;
  buffer[0] = 0;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  // One character is kept back for the terminator: a stored string need not
  // carry its own.
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>(2 * (capacity - 1));
  const LONG status = RegQueryValueExW(opened, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS || type != REG_SZ) {
    buffer[0] = 0;
    return false;
  }
  buffer[bytes / 2] = 0;
  return true;
}

HKEY create_registry_key(HKEY root, const WideChar* key) {
  HKEY created = nullptr;
  if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &created, nullptr) != ERROR_SUCCESS) return nullptr;
  return created;
}

bool write_registry_text(HKEY key, const WideChar* value, const WideChar* text) {
  const DWORD bytes = static_cast<DWORD>(2 * (wide_length(text) + 1));
  return RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) == ERROR_SUCCESS;
}

bool write_registry_number(HKEY key, const WideChar* value, DWORD number) {
  return RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number) ==
         ERROR_SUCCESS;
}
