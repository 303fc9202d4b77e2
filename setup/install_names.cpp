// Name rules of the installation pass. The device names and the refused
// characters are those of the Win32 file namespace: a device name is
// recognised in front of any extension and with trailing blanks, so "nul.txt"
// and "COM1 .log" name devices too.
#include "setup/install_names.h"

#include <type_traits>

#include "support/charset.h"

namespace {

template <typename Char>
unsigned upper_ascii(Char c) {
  const unsigned u = static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c));
  return u >= 'a' && u <= 'z' ? u - 'a' + 'A' : u;
}

template <typename Char>
bool refused_character(Char c) {
  const unsigned u = static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c));
  if (u < 32) return true;
  switch (u) {
    case '<': case '>': case ':': case '"': case '/': case '\\': case '|': case '?': case '*':
      return true;
    default:
      return false;
  }
}

int length_of(const WideChar* text) { return wide_length(text); }
int length_of(const char* text) { return narrow_length(text); }

// Length of the name less its trailing dots and blanks.
template <typename Char>
int trimmed_length(const Char* name) {
  int n = length_of(name);
  while (n > 0 && (name[n - 1] == '.' || name[n - 1] == ' ')) --n;
  return n;
}

// True when the first n characters of text equal the ASCII word, case ignored.
template <typename Char>
bool equals_word(const Char* text, int n, const char* word) {
  int i = 0;
  for (; i < n && word[i] != 0; ++i) {
    if (upper_ascii(text[i]) != upper_ascii(word[i])) return false;
  }
  return i == n && word[i] == 0;
}

// The digit of COMn and LPTn: 0-9 and the superscripts 1, 2, 3 (the same
// values in UTF-16 and in the Western ANSI code page).
template <typename Char>
bool device_digit(Char c) {
  const unsigned u = static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c));
  return (u >= '0' && u <= '9') || u == 0xB9 || u == 0xB2 || u == 0xB3;
}

template <typename Char>
bool is_device_name(const Char* name) {
  // The part in front of the first dot, less trailing blanks.
  int n = 0;
  while (name[n] != 0 && name[n] != '.') ++n;
  while (n > 0 && name[n - 1] == ' ') --n;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (equals_word(name, n, device)) return true;
  }
  return n == 4 && (equals_word(name, 3, "COM") || equals_word(name, 3, "LPT")) && device_digit(name[3]);
}

bool ends_with_nocase(const WideChar* text, int n, const char* suffix) {
  const int k = length_of(suffix);
  return n >= k && equals_word(text + n - k, k, suffix);
}

}  // namespace

bool is_safe_file_name(const WideChar* name) {
  if (name == nullptr || trimmed_length(name) == 0) return false;
  for (const WideChar* c = name; *c != 0; ++c) {
    if (refused_character(*c)) return false;
  }
  return !is_device_name(name);
}

LanguageCode entry_language_code(const WideChar* file, int base_length) {
  const int n = wide_length(file);
  if (base_length < 0 || n <= base_length || file[base_length] != '_') return 0;
  WideChar code[5];
  int k = 0;
  for (const WideChar* c = file + base_length + 1; *c != 0 && *c != '.'; ++c) {
    if (k == 4) return 0;  // five characters or more: not a language code
    code[k++] = static_cast<WideChar>(upper_ascii(*c));
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
  if (equals_word(file, n, "UnInst.exe")) return kRoleUninstaller;
  if (n <= 4) return kRoleFile;
  if (ends_with_nocase(file, n, ".INF")) return kRoleScript;
  if ((file[0] == 'V' || file[0] == 'v') && ends_with_nocase(file, n, ".EXE")) return kRoleMainProgram;
  return kRoleFile;
}

uint32_t file_name_key(const WideChar* name) {
  uint32_t key = 2166136261u;  // FNV-1a over the upper-cased characters
  for (int i = 0, n = trimmed_length(name); i < n; ++i) {
    if (name[i] >= 0x80 || name[i] == '~') return 0;
    key = (key ^ upper_ascii(name[i])) * 16777619u;
  }
  return key != 0 ? key : 1;
}

void make_group_name_safe(char* group, int capacity) {
  if (group == nullptr || capacity <= 0) return;
  for (char* c = group; *c != 0; ++c) {
    if (refused_character(*c)) *c = '_';
  }
  group[trimmed_length(group)] = 0;
  if (group[0] == 0 || !is_device_name(group)) return;
  const int n = narrow_length(group);
  if (n + 1 < capacity) {
    group[n] = '_';
    group[n + 1] = 0;
  } else {
    group[n - 1] = '_';
  }
}
