// The installer's single state record, the language code packing shared by the
// language list and the language packs, and the one global that the rest of
// setup/ reads the record through. Portable: no Win32 header is needed here.
#pragma once

#include <cstdint>

#include "support/text.h"

struct HICON__;
struct HFONT__;
struct UiStringTable;

// Two upper-case letters, first letter in the low byte: its four bytes read in
// memory order are the code as 8-bit text with its terminator.
using LanguageCode = uint32_t;

constexpr LanguageCode make_language_code(char first, char second) {
  return static_cast<uint8_t>(first) | static_cast<uint32_t>(static_cast<uint8_t>(second)) << 8;
}
inline constexpr LanguageCode kLanguageEnglish = make_language_code('U', 'S');  // 21333
inline constexpr LanguageCode kLanguageGerman = make_language_code('D', 'E');   // 17732
static_assert(kLanguageEnglish == 21333 && kLanguageGerman == 17732);

// Capacities of the package fields, terminator included.
inline constexpr int kIdCapacity = 4;
inline constexpr int kFieldCapacity = 32;
inline constexpr int kPathCapacity = 260;

struct SetupState {
  HICON__* icon;                     // icon resource 1, the dialog class's icon
  char ui_language[4];               // "US", "DE" or "IT"
  const UiStringTable* ui_strings;   // the active UI string table
  char ID[kIdCapacity];              // .INF "ID": names the registry record
  char Group[kFieldCapacity];        // .INF "Group", else the FILE_ID.DIZ name
  char Class[kFieldCapacity];        // window class of the packaged program, else Group
  char Exe[kFieldCapacity];          // .INF "Exe": file name of the main program
  char Publisher[kFieldCapacity];    // .INF "Publisher"; empty: the Apps list shows "Vantorix"
  char version[kFieldCapacity];      // the version from FILE_ID.DIZ's first line
  WideChar base_name[kFieldCapacity];  // first language pack's name less "_XX.LNG"
  WideChar setup_path[kPathCapacity];  // full path of the running executable
  HFONT__* title_font;               // font of the title label, made once, freed at the end
  bool unsafe_entry_name;            // the discovery pass met an entry that cannot be installed
                                     // under its own name: the package counts as damaged
};

// The record of the running program; set by setup_main for its whole run.
extern SetupState* setup_state;
