// Name rules of the installation pass. The device names and the refused
// characters are those of the Win32 file namespace: a device name is
// recognised in front of any extension and with trailing blanks, so "nul.txt"
// and "COM1 .log" name devices too. The rules work on UTF-16 text, so that a
// Group in a double-byte code page is judged by its characters, never by the
// second byte of one of them.
#include "setup/install_names.h"

#include "support/charset.h"

namespace {

bool refused_character(WideChar c) {
  if (c < 32) return true;
  switch (c) {
    case '<': case '>': case ':': case '"': case '/': case '\\': case '|': case '?': case '*':
      return true;
    default:
      return false;
  }
}

// Length of the name less its trailing dots and blanks.
int trimmed_length(const WideChar* name) {
  int n = wide_length(name);
  while (n > 0 && (name[n - 1] == '.' || name[n - 1] == ' ')) --n;
  return n;
}

// The digit of COMn and LPTn: 0-9 and the superscripts 1, 2, 3.
bool device_digit(WideChar c) { return (c >= '0' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3; }

// The length of the device name that name begins with (the part in front of
// the first dot, less trailing blanks), or 0 when it names no device.
int device_name_length(const WideChar* name) {
  int n = 0;
  while (name[n] != 0 && name[n] != '.') ++n;
  while (n > 0 && name[n - 1] == ' ') --n;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (equals_ascii_nocase(name, n, device)) return n;
  }
  const bool port = n == 4 && (equals_ascii_nocase(name, 3, "COM") || equals_ascii_nocase(name, 3, "LPT")) &&
                    device_digit(name[3]);
  return port ? n : 0;
}

bool ends_with_nocase(const WideChar* text, int n, const char* suffix) {
  const int k = narrow_length(suffix);
  return n >= k && equals_ascii_nocase(text + n - k, k, suffix);
}

}  // namespace

bool is_safe_file_name(const WideChar* name) {
  if (name == nullptr || trimmed_length(name) == 0) return false;
  for (const WideChar* c = name; *c != 0; ++c) {
    if (refused_character(*c)) return false;
  }
  return device_name_length(name) == 0;
}

bool exe_names_file(const WideChar* exe, const WideChar* file) {
  if (!is_safe_file_name(exe)) return false;
  const int n = wide_length(exe);
  if (wide_length(file) != n) return false;
  for (int i = 0; i < n; ++i) {
    if (ascii_upper(exe[i]) != ascii_upper(file[i])) return false;
  }
  return true;
}

LanguageCode entry_language_code(const WideChar* file, int base_length) {
  const int n = wide_length(file);
  if (base_length < 0 || n <= base_length || file[base_length] != '_') return 0;
  WideChar code[5];
  int k = 0;
  for (const WideChar* c = file + base_length + 1; *c != 0 && *c != '.'; ++c) {
    if (k == 4) return 0;  // five characters or more: not a language code
    code[k++] = static_cast<WideChar>(ascii_upper(*c));
  }
  code[k] = 0;
  char text[4] = {};
  wide_to_ansi(code, text, sizeof text);
  LanguageCode packed = 0;
  for (int i = 0; i < k && i < 4; ++i) packed |= static_cast<LanguageCode>(static_cast<uint8_t>(text[i])) << (8 * i);
  return packed;
}

EntryRole entry_role(const WideChar* file) {
  const int n = wide_length(file);
  if (equals_ascii_nocase(file, n, "UnInst.exe")) return kRoleUninstaller;
  if (n <= 4) return kRoleFile;
  if (ends_with_nocase(file, n, ".INF")) return kRoleScript;
  if ((file[0] == 'V' || file[0] == 'v') && ends_with_nocase(file, n, ".EXE")) return kRoleMainProgram;
  return kRoleFile;
}

uint32_t file_name_key(const WideChar* name) {
  uint32_t key = 2166136261u;  // FNV-1a over the upper-cased characters
  for (int i = 0, n = trimmed_length(name); i < n; ++i) {
    if (name[i] >= 0x80 || name[i] == '~') return 0;
    key = (key ^ ascii_upper(name[i])) * 16777619u;
  }
  return key != 0 ? key : 1;
}

void make_group_name_safe(char* group, int capacity) {
  if (group == nullptr || capacity <= 0) return;
  WideChar name[kFieldCapacity + 1];
  ansi_to_wide(group, name, kFieldCapacity);
  for (WideChar* c = name; *c != 0; ++c) {
    if (refused_character(*c)) *c = '_';
  }
  name[trimmed_length(name)] = 0;
  wide_to_ansi(name, group, capacity);
  const int device = device_name_length(name);
  if (device == 0) return;
  // The mark goes right behind the device's letters, where it makes the name
  // another one also in front of an extension; without room it replaces the
  // last of them. A device name is ASCII, one byte per character.
  if (narrow_length(group) + 1 < capacity) {
    for (int i = wide_length(name); i >= device; --i) name[i + 1] = name[i];
    name[device] = '_';
  } else {
    name[device - 1] = '_';
  }
  wide_to_ansi(name, group, capacity);
}
