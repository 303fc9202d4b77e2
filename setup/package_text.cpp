// The discovery pass's readers of FILE_ID.DIZ, the .INF keys and the .LNG
// packs. Texts arrive from the extraction driver with a zero byte behind their
// data, so every 8-bit reader stops at the first zero; UTF-16 packs are read
// within their size.
#include "setup/package_text.h"

#include "support/charset.h"

namespace {

// Index of the first occurrence of the ASCII word in text, or -1.
template <typename Char>
int find_word(const Char* text, const char* word) {
  for (int i = 0; text[i] != 0; ++i) {
    int k = 0;
    while (word[k] != 0 && text[i + k] == static_cast<Char>(word[k])) ++k;
    if (word[k] == 0) return i;
  }
  return -1;
}

// The text behind a UTF-8 byte order mark and the blanks (spaces and tabs)
// that an editor may leave in front of a line.
const char* skip_line_lead(const char* text) {
  if (static_cast<uint8_t>(text[0]) == 0xEF && static_cast<uint8_t>(text[1]) == 0xBB &&
      static_cast<uint8_t>(text[2]) == 0xBF) {
    text += 3;
  }
  while (*text == ' ' || *text == '\t') ++text;
  return text;
}

}  // namespace

EntryCode entry_code_for(const WideChar* name) {
  const int n = wide_length(name);
  if (n < 5) return kEntryOther;
  if (equals_ascii_nocase(name, n, "FILE_ID.DIZ")) return kEntryDescription;
  if (equals_ascii_nocase(name + n - 4, 4, ".INF")) return kEntryInstallKeys;
  if (equals_ascii_nocase(name + n - 4, 4, ".LNG")) return kEntryLanguagePack;
  return kEntryOther;
}

void base_name_from_pack(const WideChar* name, WideChar* base_name, int capacity) {
  // "_XX.LNG" comes off the whole file name before the name is cut to the
  // capacity, so that a long base name keeps its first characters.
  const WideChar* file = name + name_offset(name);
  int n = wide_length(file);
  if (n > 7) n -= 7;
  if (n > capacity - 1) n = capacity - 1;
  for (int i = 0; i < n; ++i) base_name[i] = file[i];
  base_name[n] = 0;
}

void parse_description(const char* text, char* name, char* version) {
  char line[kDescriptionLineCapacity] = {};
  name[0] = 0;
  version[0] = 0;
  append_narrow(skip_line_lead(text), line, kDescriptionLineCapacity);
  int end = 0;
  while (line[end] != 0 && line[end] != '\n' && line[end] != '\r' && line[end] != '(' && line[end] != '[') ++end;
  if (end == 0) return;
  if (line[end - 1] == ' ') --end;  // one blank at most
  line[end] = 0;
  const int at = find_word(line, " Version ");
  if (at >= 0) {
    append_narrow(line + at + 9, version, kVersionCapacity);
    line[at] = 0;
  }
  append_narrow(line, name, kProductNameCapacity);
}

void read_install_key(const char* text, const char* key, char* field, int capacity) {
  // A key counts only at the start of a line: the same letters inside another
  // line (GUID=... holds "ID", Class=MyExeWnd holds "Exe") are not the key.
  const int key_length = narrow_length(key);
  const char* line = text;
  for (;;) {
    line = skip_line_lead(line);
    int k = 0;
    while (k < key_length && line[k] == key[k]) ++k;
    if (k == key_length && line[k] == '=') break;
    while (*line != 0 && *line != '\r' && *line != '\n') ++line;
    while (*line == '\r' || *line == '\n') ++line;
    if (*line == 0) return;
  }
  const char* value = line + key_length + 1;
  int n = 0;
  while (n < capacity - 1 && value[n] != 0 && value[n] != '\r' && value[n] != '\n') ++n;
  if (n == 0) return;
  for (int i = 0; i < n; ++i) field[i] = value[i];
  field[n] = 0;
}

bool language_pack_name(const uint8_t* data, uint32_t size, WideChar* name, int capacity) {
  WideChar text[kLanguageNameCapacity];
  name[0] = 0;
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    const uint32_t units = (size - 2) / 2;
    uint32_t n = 0;
    for (; n < units && n < kLanguageNameCapacity - 1; ++n) {
      const WideChar c = static_cast<WideChar>(data[2 + 2 * n] | data[3 + 2 * n] << 8);
      if (c == 0) break;
      text[n] = c;
    }
    text[n] = 0;
  } else {
    ansi_to_wide(reinterpret_cast<const char*>(data), text, kLanguageNameCapacity);
  }
  if (text[0] != '[') return false;
  const int at = find_word(text, "Language");
  if (at < 0) return false;
  // The word, one separator character of any kind, then the name. A text that
  // ends right behind the word has no separator and no name.
  const WideChar* start = text + at + 8;
  if (*start == 0) return false;
  ++start;
  int n = 0;
  while (n < capacity - 1 && start[n] != 0 && start[n] != '(' && start[n] != '=' && start[n] != '\r' &&
         start[n] != '\n') {
    name[n] = start[n];
    ++n;
  }
  name[n] = 0;
  return n > 0;
}

LanguageCode language_code_from_pack(const WideChar* name) {
  const int n = wide_length(name);
  if (n < 7) return 0;
  const WideChar letters[3] = {name[n - 6], name[n - 5], 0};
  char code[4] = {};
  wide_to_ansi(letters, code, sizeof code);
  if (code[0] == 0 || code[1] == 0) return 0;
  return make_language_code(static_cast<char>(ascii_upper(static_cast<uint8_t>(code[0]))),
                            static_cast<char>(ascii_upper(static_cast<uint8_t>(code[1]))));
}
