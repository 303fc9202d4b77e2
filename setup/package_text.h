// Reading the package's own text files during the discovery pass: which entry
// is which (entry codes), the first line of FILE_ID.DIZ, the .INF keys, the
// display name in a .LNG pack and the language code in its file name. Pure
// logic: the dialog side is in discovery.h.
#pragma once

#include <cstdint>

#include "setup/state.h"
#include "support/text.h"

// What the discovery pass does with an entry; written into the first
// character of its name, so that every entry goes to memory (codes 1..31).
enum EntryCode : WideChar {
  kEntryDescription = 1,   // FILE_ID.DIZ at the archive's top level
  kEntryInstallKeys = 2,   // any .INF
  kEntryLanguagePack = 4,  // any .LNG
  kEntryOther = 7,         // everything else: decoded, tested, dropped
};

inline constexpr int kDescriptionLineCapacity = 260;
inline constexpr int kProductNameCapacity = 128;
inline constexpr int kVersionCapacity = 32;
inline constexpr int kLanguageNameCapacity = 260;

// The code for an entry's archive path (UTF-16).
EntryCode entry_code_for(const WideChar* name);
// The package base name from a language pack's archive path: the file name
// less its last 7 characters ("_XX.LNG") when longer than 7, cut to capacity.
void base_name_from_pack(const WideChar* name, WideChar* base_name, int capacity);

// The product name and version from FILE_ID.DIZ: its first line (behind a
// UTF-8 byte order mark and blanks), ended at CR, LF, "(" or "[" (one blank
// in front dropped), split at " Version ".
// name holds kProductNameCapacity bytes, version kVersionCapacity.
void parse_description(const char* text, char* name, char* version);
// Stores the value of the first line that begins with "key=" (case-sensitive;
// a UTF-8 byte order mark and blanks in front of it are skipped) into field,
// at most capacity - 1 bytes up to CR, LF or the end of the text; an empty
// value or a missing key leaves the field as it was.
void read_install_key(const char* text, const char* key, char* field, int capacity);

// The display name that a language pack gives itself: UTF-16 LE behind FF FE,
// else 8-bit ANSI text; the text must begin with "[" and the name follows the
// word "Language" and one separator character, up to "(", "=", CR or LF.
// Returns false (name empty) when the pack names no language.
bool language_pack_name(const uint8_t* data, uint32_t size, WideChar* name, int capacity);
// The code of a pack from the two characters in front of ".LNG" in its
// archive path, upper-cased; 0 when the path has fewer than two characters
// there besides its first (which the discovery pass overwrites).
LanguageCode language_code_from_pack(const WideChar* name);
