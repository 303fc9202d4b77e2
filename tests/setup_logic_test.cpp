// The setup program's portable logic: UI language and texts, the readers of
// the package's text files, and the name rules of the installation. Runs
// natively and under Wine (there also in a double-byte code page).
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "setup/install_names.h"
#include "setup/package_text.h"
#include "setup/ui_strings.h"
#include "setup/uninstall_list.h"
#include "support/charset.h"
#include "tests/test_support.h"

using vxtest::narrow;
using vxtest::WideString;

namespace {

WideString wide(const std::string& text) { return vxtest::wide(text); }

std::string text_of(const UiStringTable* table, uint16_t id, int capacity = 511) {
  WideChar buffer[600];
  for (WideChar& c : buffer) c = 'x';
  ui_text(table, id, buffer, capacity);
  return narrow(buffer);
}

TEST(UiText, EveryTextOfTheThreeTables) {
  const std::tuple<uint16_t, const char*, const char*, const char*> rows[] = {
      {1000, "Setup", "Installation", "Installazione"},
      {99, "&OK", "&OK", "&OK"},
      {2, "Cancel", "Abbruch", "Annulla"},
      {1010, "Language", "Sprache", "Lingua"},
      {1031, "Destination folder", "Zielpfad:", "Destinazione"},
      {1041, "Put entry to Start Menu", "Programmgruppe erstellen", "Aggiungi collegamento nel menu Programmi"},
      {1042, "Create a Desktop icon", "Desktop-Symbol anlegen", "Aggiungi collegamento sul desktop"},
      {1043, "Create a Quick Launch icon", "Symbol in der Schnellstartleiste anlegen",
       "Aggiungi collegamento sulla barra di Avvio veloce"},
      {2001, "English", "Englisch", "English"},
      {2002, "German", "Deutsch", "German"},
      {3001, "Broken file, please download again.", "Die Datei ist besch\xC3\xA4" "digt, bitte nochmal herunterladen!",
       "File danneggiato, esegui di nuovo il download."},
      {3000, " has been successfully installed.", " wurde erfolgreich installiert.",
       " \xC3\xA8 stato installato correttamente."},
      {136, "Select &all", "Alles &markieren", "Seleziona tutto"},
      {137, "&Deselect all", "Markierung &aufheben", "Deseleziona tutto"},
      {138, "&Invert selection", "Markierung &umkehren", "Inverti selezione"},
      {3100, "Remove this program and its shortcuts from the computer? Files you added to its folder are kept.",
       "Dieses Programm und seine Verkn\xC3\xBC" "pfungen vom Computer entfernen? Dateien, die Sie selbst in seinen "
       "Ordner gelegt haben, bleiben erhalten.",
       "Rimuovere questo programma e i suoi collegamenti dal computer? I file aggiunti alla sua cartella "
       "vengono conservati."},
      {3101, " has been removed.", " wurde entfernt.", " \xC3\xA8 stato rimosso."},
      {3102, "These files are in use and could not be removed. Close the program and run the uninstaller again:",
       "Diese Dateien werden verwendet und konnten nicht entfernt werden. Schlie\xC3\x9F" "en Sie das Programm und "
       "starten Sie die Deinstallation erneut:",
       "Questi file sono in uso e non \xC3\xA8 stato possibile rimuoverli. Chiudi il programma ed esegui di nuovo "
       "la disinstallazione:"},
      {3103, "The uninstaller is damaged: it cannot tell which files belong to the program. Nothing was removed.",
       "Das Deinstallationsprogramm ist besch\xC3\xA4" "digt: Es kann nicht feststellen, welche Dateien zum Programm "
       "geh\xC3\xB6" "ren. Es wurde nichts entfernt.",
       "Il programma di disinstallazione \xC3\xA8 danneggiato: non sa quali file appartengono al programma. Non "
       "\xC3\xA8 stato rimosso nulla."},
  };
  for (const UiStringTable& table : ui_string_tables) {
    int count = 0;
    while (table.entries[count].id != 0) ++count;
    EXPECT_EQ(count, 19) << table.code << ": no text beyond these";
  }
  for (auto [id, us, de, it] : rows) {
    EXPECT_EQ(text_of(find_ui_strings("US"), id), us) << id;
    EXPECT_EQ(text_of(find_ui_strings("de"), id), de) << id;
    EXPECT_EQ(text_of(find_ui_strings("It"), id), it) << id;
  }
}

TEST(UiText, LanguageChoiceLookupAndCapacities) {
  for (uint16_t id : {0x0407, 0x0807, 0x0C07, 0x1007, 0x1407}) EXPECT_STREQ(ui_language_for(id), "DE") << id;
  for (uint16_t id : {0x0410, 0x0810}) EXPECT_STREQ(ui_language_for(id), "IT") << id;
  for (uint16_t id : {0x0409, 0x0C0A, 0x0007, 0x0010, 0}) EXPECT_STREQ(ui_language_for(id), "US") << id;
  for (const char* code : {"FR", "", "D", "DEU"}) EXPECT_EQ(find_ui_strings(code), &ui_string_tables[0]) << code;
  EXPECT_EQ(find_ui_strings(nullptr), &ui_string_tables[0]);

  // No table holds the status line (1047); at most capacity - 2 characters
  // ("Englisch" needs capacity 10); UTF-16 tables, and the tab escapes of
  // every table.
  const UiStringTable* de = find_ui_strings("DE");
  static const WideChar kTabbed[] = {'a', '\\', 't', 'x', '\\', 't', '\\', 't', 0};
  static const UiString kEntries[] = {{5, kTabbed}, {6, VX_WIDE("abcdef")}, {0, nullptr}};
  const UiStringTable table = {-1, "XX", kEntries};
  const std::tuple<const UiStringTable*, uint16_t, int, const char*> texts[] = {
      {de, 1047, 511, ""},      {de, 0, 511, ""},  {nullptr, 1000, 511, ""},     {de, 2001, 10, "Englisch"},
      {de, 2001, 9, "Englisc"}, {de, 2001, 1, ""}, {&table, 5, 511, "a\tx\t\t"}, {&table, 6, 5, "abc"}};
  for (auto [t, id, capacity, text] : texts) EXPECT_EQ(text_of(t, id, capacity), text) << id << " " << capacity;
  WideChar untouched[2] = {'k', 0};
  ui_text(de, 2001, untouched, 0);
  EXPECT_EQ(untouched[0], 'k');
  WideString s = wide("\\tx\\\\tb\\x\\ \\n");
  expand_tab_escapes(s.data());
  EXPECT_EQ(narrow(s.c_str()), "\tx\\\tb\\x\\ \\n");

  for (auto [path, caption] : {std::pair{"C:\\Temp\\setup.exe", "setup.exe"}, {"C:/T/Setup.exe", "Setup.exe"},
                               {"C:\\Temp\\", "C:\\Temp\\"}, {"setup.exe", "setup.exe"}, {"", ""}}) {
    const WideString w = wide(path);
    EXPECT_EQ(narrow(w.c_str() + caption_offset(w.c_str())), caption) << path;
  }
}

TEST(PackageText, EntryCodesBaseNamesAndPackCodes) {
  const std::pair<const char*, EntryCode> codes[] = {
      {"FILE_ID.DIZ", kEntryDescription}, {"file_id.diz", kEntryDescription}, {"Docs\\FILE_ID.DIZ", kEntryOther},
      {"Setup\\Install.inf", kEntryInstallKeys}, {"X.inf", kEntryInstallKeys}, {".INF", kEntryOther},
      {"Lang\\Foo_FR.LNG", kEntryLanguagePack}, {"foo_fr.lng", kEntryLanguagePack}, {"ReadMe.txt", kEntryOther},
      {"A.LN", kEntryOther}, {"", kEntryOther}};
  for (auto [name, code] : codes) EXPECT_EQ(entry_code_for(wide(name).c_str()), code) << name;

  const std::pair<const char*, const char*> bases[] = {
      {"Lang\\Foo_FR.LNG", "Foo"}, {"a/b/Foo Tool_DE.LNG", "Foo Tool"}, {"FR.LNG", "FR.LNG"}, {"_FR.LNG", "_FR.LNG"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_IT.LNG", "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"}};
  for (auto [name, base] : bases) {
    WideChar buffer[32];
    base_name_from_pack(wide(name).c_str(), buffer, 32);
    EXPECT_EQ(narrow(buffer), base) << name;
  }

  const std::pair<const char*, LanguageCode> packs[] = {
      {"Lang\\Foo_FR.LNG", make_language_code('F', 'R')}, {"foo_fr.lng", make_language_code('F', 'R')},
      {"_de.LNG", kLanguageGerman}, {"FR.LNG", 0}, {"X.LNG", 0}};
  for (auto [name, code] : packs) EXPECT_EQ(language_code_from_pack(wide(name).c_str()), code) << name;
}

TEST(PackageText, DescriptionLine) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"Foo Tool Version 1.2 (beta)\r\nMore text\r\n", "Foo Tool", "1.2"},
      {"Foo Tool [shareware]\r\n", "Foo Tool", ""},
      {"Foo Tool  (two blanks)", "Foo Tool ", ""},  // one blank at most is dropped
      {"\r\nFoo Tool Version 2", "", ""},
      {"Foo Tool version 3\nx", "Foo Tool version 3", ""},  // " Version " is case-sensitive
      {"\xEF\xBB\xBF  \tFoo Tool Version 4\r\n", "Foo Tool", "4"},  // byte order mark and blanks
      {"Caf\xE9 Version 1", "Caf\xE9", "1"},
      {std::string(300, 'n'), std::string(127, 'n'), ""},
      {"P Version " + std::string(100, '9'), "P", std::string(31, '9')},
      {"", "", ""},
  };
  for (const auto& [text, product, number] : cases) {
    char name[kProductNameCapacity];
    char version[kVersionCapacity];
    parse_description(text.c_str(), name, version);
    EXPECT_EQ(name, product) << text;
    EXPECT_EQ(version, number) << text;
  }
}

TEST(PackageText, InstallKeys) {
  // A key counts at the start of a line only, behind a byte order mark and
  // blanks; the field starts as "old".
  const char kKeys[] = "ID=FOO\r\nGroup=Foo Tool\r\nClass=FooMain\r\nExe=Foo.exe\r\n";
  const std::tuple<const char*, const char*, int, const char*> cases[] = {
      {kKeys, "Group", 32, "Foo Tool"},
      {kKeys, "Exe", 32, "Foo.exe"},
      {"ID=abcdef\r\n", "ID", 4, "abc"},
      {"Group=\r\nID=1\r\n", "Group", 32, "old"},
      {"ID=1\r\n", "Group", 32, "old"},
      {"id=1\r\nID=2\r\nID=3\r\n", "ID", 4, "2"},
      {"Exe=a.exe\nID=1", "Exe", 32, "a.exe"},
      {"GUID=1234\r\nID=7\r\n", "ID", 4, "7"},
      {"Class=MyExeWnd\r\nExe=Foo.exe\r\n", "Exe", 32, "Foo.exe"},
      {"IDX=5\r\nID =5\r\n", "ID", 4, "old"},
      {"\xEF\xBB\xBFID=BOM\r\n", "ID", 4, "BOM"},
      {"  ID=SP\r\n", "ID", 4, "SP"},
      {"ID=1\r\n\tExe=Tab.exe\r\n", "Exe", 32, "Tab.exe"},
      {"", "ID", 4, "old"}};
  for (const auto& [text, key, capacity, result] : cases) {
    char field[32] = "old";
    read_install_key(text, key, field, capacity);
    EXPECT_STREQ(field, result) << text;
  }
}

vxtest::Bytes utf16_pack(const std::string& ascii, uint8_t first = 0xFF, uint8_t second = 0xFE) {
  vxtest::Bytes out = {first, second};
  for (char c : ascii) {
    out.push_back(first == 0xFF ? static_cast<uint8_t>(c) : 0);
    out.push_back(first == 0xFF ? 0 : static_cast<uint8_t>(c));
  }
  return out;
}

// Only "File=" lines name files; a name too long for the buffer comes back
// empty, never cut into the name of another file.
TEST(UninstallList, FileLinesInOrder) {
  const std::string long_name(20, 'x');
  const std::string text = "Exe=a.exe\nFile=a.exe\r\n\r\n file=no\nFiles=no\nFile=" + long_name + "\nFile=\nFile=b c";
  const char* cursor = text.c_str();
  std::string names;
  char name[16];
  while (next_listed_file(&cursor, name, sizeof name)) names += std::string(name) + "|";
  EXPECT_EQ(names, "a.exe|||b c|");
  EXPECT_EQ(*cursor, 0);
}

TEST(PackageText, LanguagePackNames) {
  vxtest::Bytes odd = utf16_pack("[L]Language=Dansk");
  odd.push_back('!');  // no terminator, an odd byte at the end
  const std::pair<vxtest::Bytes, const char*> cases[] = {
      {vxtest::bytes_of("[Strings]\r\nLanguage=Fran\xE7" "ais\r\n"), "Fran\xC3\xA7" "ais"},
      {utf16_pack("[Strings]\r\nLanguage=Italiano\r\n"), "Italiano"},
      {odd, "Dansk"},
      {vxtest::bytes_of("[x]\r\nLanguage French\r\n"), "French"},
      {vxtest::bytes_of("[x]\r\nLanguage=Danish (Dansk)\r\n"), "Danish "},
      {vxtest::bytes_of("[x]Language:Suomi=fi"), "Suomi"},
      {vxtest::bytes_of("[x]\r\nLanguage = French\r\n"), ""},
      {vxtest::bytes_of("Language=French\r\n"), ""},
      {vxtest::bytes_of("[x]\r\nlanguage=French\r\n"), ""},
      {vxtest::bytes_of("\xEF\xBB\xBF[x]\r\nLanguage=French\r\n"), ""},
      {utf16_pack("[x]Language=French", 0xFE, 0xFF), ""},
      {vxtest::bytes_of("[x]Language"), ""},
      {vxtest::bytes_of("[x]Language="), ""},
      {vxtest::Bytes{0xFF, 0xFE}, ""},
  };
  for (const auto& [data, expected] : cases) {
    WideChar name[kLanguageNameCapacity];
    const bool found = language_pack_name(data.data(), static_cast<uint32_t>(data.size()), name, kLanguageNameCapacity);
    EXPECT_EQ(narrow(name), expected);
    EXPECT_EQ(found, expected[0] != 0) << expected;
  }
}

bool safe(const std::string& name) { return is_safe_file_name(wide(name).c_str()); }

TEST(InstallNames, SafeFileNames) {
  for (const char* name : {"FooTool.exe", "Foo_DE.LNG", "a", ".profile", "read me.txt", "CONSOLE.txt", "COM10", "LPT",
                           "nul_file", "com1x.txt", "x..y", "\xC3\xA4rger.txt"}) {
    EXPECT_TRUE(safe(name)) << name;
  }
  for (const char* name : {"", ".", "..", "...", ". .", "..  ", " ", "a:b", "file.txt:stream", "a<b", "a>b", "a\"b",
                           "a|b", "a?b", "a*b", "a/b", "a\\b", "tab\there", "CON", "con", "Prn.txt", "AUX",
                           "nul.tar.gz", "COM1", "com9.log", "LPT1", "COM0", "NUL .txt", "CONIN$", "conout$.x",
                           "COM\xC2\xB9", "LPT\xC2\xB3.txt"}) {
    EXPECT_FALSE(safe(name)) << '"' << name << '"';
  }
  EXPECT_FALSE(is_safe_file_name(nullptr));
}

TEST(InstallNames, LanguageCodesRolesAndExe) {
  const std::tuple<const char*, int, LanguageCode> codes[] = {
      {"Foo_DE.txt", 3, make_language_code('D', 'E')}, {"Foo_fr.LNG", 3, make_language_code('F', 'R')},
      {"Abcd_DE.txt", 4, make_language_code('D', 'E')}, {"Foo_IT", 3, make_language_code('I', 'T')},
      {"Foo_X.txt", 3, 'X'}, {"Foo_ABCD.txt", 3, make_language_code('A', 'B') | LanguageCode{'C'} << 16},
      {"Foo_ABCDE.txt", 3, 0}, {"FooTool.exe", 3, 0}, {"Fo_DE.txt", 3, 0}, {"Foo", 3, 0}, {"Foo_", 3, 0},
      {"Foo_.txt", 3, 0}, {"_DE.txt", 0, make_language_code('D', 'E')},
  };
  for (auto [file, base, code] : codes) EXPECT_EQ(entry_language_code(wide(file).c_str(), base), code) << file;

  const std::pair<const char*, EntryRole> roles[] = {
      {"UnInst.exe", kRoleUninstaller}, {"UNINST.EXE", kRoleUninstaller}, {"UnInst.exe.bak", kRoleFile},
      {"Foo.inf", kRoleScript}, {"X.INF", kRoleScript}, {".INF", kRoleFile}, {"Vtool.exe", kRoleMainProgram},
      {"vTOOL.EXE", kRoleMainProgram}, {"V.exe", kRoleMainProgram}, {"FooTool.exe", kRoleFile},
      {"Vtool.exe.txt", kRoleFile}, {"Vinf", kRoleFile}};
  for (auto [file, role] : roles) EXPECT_EQ(entry_role(wide(file).c_str()), role) << file;

  const std::tuple<const char*, const char*, bool> exes[] = {
      {"Foo.exe", "Foo.exe", true}, {"foo.EXE", "Foo.exe", true}, {"Foo.exe", "Foo.exe2", false},
      {"Foo.ex", "Foo.exe", false}, {"", "", false}, {"..", "..", false}, {"Bin\\Foo.exe", "Bin\\Foo.exe", false},
      {"..\\..\\Windows\\notepad.exe", "notepad.exe", false}, {"CON", "CON", false}};
  for (auto [exe, file, names] : exes) EXPECT_EQ(exe_names_file(wide(exe).c_str(), wide(file).c_str()), names) << exe;
}

// The key lets the installation skip looking for names it has not written
// yet: spellings of one file must share it, and a name it cannot vouch for
// has none.
TEST(InstallNames, FileNameKeys) {
  auto key = [](const std::string& name) { return file_name_key(wide(name).c_str()); };
  for (const char* same : {"readme.txt", "ReadMe.TXT", "README.TXT.", "readme.txt ", "readme.txt. ."}) {
    EXPECT_EQ(key(same), key("README.txt")) << same;
  }
  for (const char* other : {"readme.txt2", "readme.tx", "read me.txt", ".readme.txt", "readme_txt", "eadme.txt"}) {
    EXPECT_NE(key(other), key("readme.txt")) << other;
    EXPECT_NE(key(other), 0u) << other;
  }
  // Outside ASCII the system's own case mapping decides; a '~' may be the
  // short name of another file.
  for (const char* unknown : {"\xC3\xA4rger.txt", "PROGRA~1.TXT", "a~b"}) EXPECT_EQ(key(unknown), 0u) << unknown;
}

std::string group_after(const std::string& group, int capacity = kFieldCapacity) {
  char buffer[kFieldCapacity] = {};
  group.copy(buffer, kFieldCapacity - 1);
  make_group_name_safe(buffer, capacity);
  return buffer;
}

TEST(InstallNames, GroupMadeFitForFolders) {
  const std::pair<const char*, const char*> cases[] = {
      {"Foo Tool", "Foo Tool"}, {"Foo: A/B Tool", "Foo_ A_B Tool"}, {"..\\..\\Windows", ".._.._Windows"},
      {"Foo Tool. ", "Foo Tool"}, {"...", ""}, {"", ""}, {"CON", "CON_"}, {"nul.x", "nul_.x"},
      {"Caf\xE9|Bar", "Caf\xE9_Bar"}};
  for (auto [group, safe] : cases) EXPECT_EQ(group_after(group), safe) << group;
  EXPECT_EQ(group_after("LPT1", 5), "LPT_") << "no room for one more character";
}

TEST(InstallNames, GroupKeepsDoubleByteCharacters) {
  // "ソフト|" in Shift-JIS: the second byte of "ソ" is the backslash's.
  const std::string group = "\x83\x5C\x83\x74\x83\x67|";
  WideChar first[16] = {};
  ansi_to_wide(group.c_str(), first, 16);
  if (first[0] != 0x30BD) GTEST_SKIP() << "the ANSI code page is not Shift-JIS";
  EXPECT_EQ(group_after(group), "\x83\x5C\x83\x74\x83\x67_");
}

}  // namespace
