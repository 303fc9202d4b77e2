// The setup program's pure logic: UI language choice, UI text lookup with its
// capacities, tab escapes, the caption rule, the discovery pass's readers
// (entry codes, base name, description line, .INF keys, language packs) and
// the column width rule. Runs natively and under Wine.
#include <gtest/gtest.h>

#include <string>

#include "setup/columns.h"
#include "setup/package_text.h"
#include "setup/ui_strings.h"
#include "setup/uninstall_list.h"
#include "tests/test_support.h"

using vxtest::narrow;
using vxtest::WideString;

namespace {

WideString wide(const char* text) { return vxtest::wide(std::string(text)); }

std::string text_of(const UiStringTable* table, uint16_t id, int capacity) {
  WideChar buffer[600];
  for (WideChar& c : buffer) c = 'x';
  ui_text(table, id, buffer, capacity);
  return narrow(buffer);
}

const UiStringTable* table_of(const char* code) { return find_ui_strings(code); }

TEST(UiLanguage, SystemLanguageIdsMapToTables) {
  for (uint16_t id : {1031, 2055, 3079, 4103, 5127}) EXPECT_STREQ(ui_language_for(id), "DE") << id;
  for (uint16_t id : {1040, 2064}) EXPECT_STREQ(ui_language_for(id), "IT") << id;
  // English (US), Spanish, a neutral German id and a neutral id: English.
  for (uint16_t id : {1033, 3082, 7, 0x0007, 0x0010, 0}) EXPECT_STREQ(ui_language_for(id), "US") << id;

  EXPECT_EQ(table_of("DE"), &ui_string_tables[1]);
  EXPECT_EQ(table_of("de"), &ui_string_tables[1]);
  EXPECT_EQ(table_of("iT"), &ui_string_tables[2]);
  EXPECT_EQ(table_of("FR"), &ui_string_tables[0]);
  EXPECT_EQ(table_of(""), &ui_string_tables[0]);
  EXPECT_EQ(table_of("D"), &ui_string_tables[0]);
  EXPECT_EQ(table_of("DEU"), &ui_string_tables[0]);
  EXPECT_EQ(table_of(nullptr), &ui_string_tables[0]);
  EXPECT_STREQ(ui_string_tables[0].code, "US");
}

TEST(UiText, TablesHoldExactlyTheirIdsInOrder) {
  const uint16_t ids[] = {1000, 99, 2, 1010, 1031, 1041, 1042, 1043, 2001, 2002, 3001,
                          3000, 136,  137, 138,  3100, 3101, 3102, 3103};
  for (const UiStringTable& table : ui_string_tables) {
    EXPECT_EQ(table.encoding, 0);
    int i = 0;
    for (; table.entries[i].id != 0; ++i) {
      ASSERT_LT(i, 19) << table.code;
      EXPECT_EQ(table.entries[i].id, ids[i]) << table.code;
      EXPECT_NE(table.entries[i].text, nullptr);
    }
    EXPECT_EQ(i, 19) << table.code;
    EXPECT_EQ(table.entries[i].text, nullptr);
  }
}

TEST(UiText, TextsOfTheThreeTables) {
  const UiStringTable* us = table_of("US");
  const UiStringTable* de = table_of("DE");
  const UiStringTable* it = table_of("IT");
  EXPECT_EQ(text_of(us, 3001, 510), "Broken file, please download again.");
  EXPECT_EQ(text_of(de, 3001, 510), "Die Datei ist besch\xC3\xA4" "digt, bitte nochmal herunterladen!");
  EXPECT_EQ(text_of(it, 3001, 510), "File danneggiato, esegui di nuovo il download.");
  EXPECT_EQ(text_of(us, 3000, 510), " has been successfully installed.");
  EXPECT_EQ(text_of(it, 3000, 510), " \xC3\xA8 stato installato correttamente.");
  EXPECT_EQ(text_of(de, 1000, 511), "Installation");
  EXPECT_EQ(text_of(it, 1043, 511), "Aggiungi collegamento sulla barra di Avvio veloce");
  EXPECT_EQ(text_of(de, 138, 63), "Markierung &umkehren");
  // The Italian table names the two built-in languages in English.
  EXPECT_EQ(text_of(it, 2001, 31), "English");
  EXPECT_EQ(text_of(it, 2002, 31), "German");
}

TEST(UiText, MissingIdsAndCapacities) {
  const UiStringTable* de = table_of("DE");
  EXPECT_EQ(text_of(de, 1047, 511), "");  // no table holds the status line
  EXPECT_EQ(text_of(de, 0, 511), "");
  EXPECT_EQ(text_of(nullptr, 1000, 511), "");
  EXPECT_EQ(text_of(de, 2001, 1), "");
  EXPECT_EQ(text_of(de, 2001, 31), "Englisch");
  // At most capacity - 2 characters: "Englisch" (8) needs capacity 10.
  EXPECT_EQ(text_of(de, 2001, 10), "Englisch");
  EXPECT_EQ(text_of(de, 2001, 9), "Englisc");
  EXPECT_EQ(text_of(de, 2001, 3), "E");
  // Capacity 0 writes nothing at all.
  WideChar untouched[2] = {'k', 0};
  ui_text(de, 2001, untouched, 0);
  EXPECT_EQ(untouched[0], 'k');
}

TEST(UiText, Utf16TablesAndTabEscapes) {
  static const WideChar kTabbed[] = {'a', '\\', 't', 'x', '\\', 't', '\\', 't', 0};
  static const UiString kEntries[] = {{5, kTabbed}, {6, VX_WIDE("abcdef")}, {0, nullptr}};
  const UiStringTable table = {-1, "XX", kEntries};
  EXPECT_EQ(text_of(&table, 5, 63), "a\tx\t\t");
  EXPECT_EQ(text_of(&table, 6, 5), "abc");
  EXPECT_EQ(text_of(&table, 7, 63), "");

  WideString s = wide("\\tx\\\\tb\\x\\");
  expand_tab_escapes(s.data());
  EXPECT_EQ(narrow(s.c_str()), "\tx\\\tb\\x\\");
  WideString none = wide("no escape \\n here");
  expand_tab_escapes(none.data());
  EXPECT_EQ(narrow(none.c_str()), "no escape \\n here");
}

TEST(MessageCaption, NameBehindLastSeparatorElseWholePath) {
  auto caption = [](const char* path) {
    const WideString w = wide(path);
    return narrow(w.c_str() + caption_offset(w.c_str()));
  };
  EXPECT_EQ(caption("C:\\Temp\\setup.exe"), "setup.exe");
  EXPECT_EQ(caption("C:/Temp/Setup.exe"), "Setup.exe");
  EXPECT_EQ(caption("C:\\Temp\\"), "C:\\Temp\\");
  EXPECT_EQ(caption("setup.exe"), "setup.exe");
  EXPECT_EQ(caption(""), "");
}

TEST(EntryCodes, NamesPickTheirReader) {
  auto code = [](const char* name) { return entry_code_for(wide(name).c_str()); };
  EXPECT_EQ(code("FILE_ID.DIZ"), kEntryDescription);
  EXPECT_EQ(code("file_id.diz"), kEntryDescription);
  EXPECT_EQ(code("Docs\\FILE_ID.DIZ"), kEntryOther);  // only at the top level
  EXPECT_EQ(code("Setup\\Install.inf"), kEntryInstallKeys);
  EXPECT_EQ(code("X.inf"), kEntryInstallKeys);
  EXPECT_EQ(code(".INF"), kEntryOther);  // fewer than 5 characters
  EXPECT_EQ(code("Lang\\Foo_FR.LNG"), kEntryLanguagePack);
  EXPECT_EQ(code("foo_fr.lng"), kEntryLanguagePack);
  EXPECT_EQ(code("ReadMe.txt"), kEntryOther);
  EXPECT_EQ(code("A.LN"), kEntryOther);
  EXPECT_EQ(code(""), kEntryOther);
}

TEST(EntryCodes, BaseNameOfTheFirstPack) {
  auto base = [](const char* name) {
    WideChar buffer[32];
    base_name_from_pack(wide(name).c_str(), buffer, 32);
    return narrow(buffer);
  };
  EXPECT_EQ(base("Lang\\Foo_FR.LNG"), "Foo");
  EXPECT_EQ(base("a/b/Foo Tool_DE.LNG"), "Foo Tool");
  EXPECT_EQ(base("FR.LNG"), "FR.LNG");  // 7 characters or fewer stay whole
  EXPECT_EQ(base("_FR.LNG"), "_FR.LNG");
  // A base name of 31 characters survives whole; a longer one keeps its start.
  EXPECT_EQ(base("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234_IT.LNG"), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  EXPECT_EQ(base("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_IT.LNG"), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
}

struct Description {
  std::string name, version;
};

Description describe(const std::string& text) {
  char name[kProductNameCapacity];
  char version[kVersionCapacity];
  parse_description(text.c_str(), name, version);
  return {name, version};
}

TEST(Description, FirstLineGivesNameAndVersion) {
  Description d = describe("Foo Tool Version 1.2 (beta)\r\nMore text\r\n");
  EXPECT_EQ(d.name, "Foo Tool");
  EXPECT_EQ(d.version, "1.2");
  d = describe("Foo Tool [shareware]\r\n");
  EXPECT_EQ(d.name, "Foo Tool");
  EXPECT_EQ(d.version, "");
  d = describe("Foo Tool  (two blanks)");
  EXPECT_EQ(d.name, "Foo Tool ");  // only one blank is dropped
  d = describe("\r\nFoo Tool Version 2");
  EXPECT_EQ(d.name, "");
  EXPECT_EQ(d.version, "");
  d = describe("Foo Tool version 3\nx");  // " Version " is case-sensitive
  EXPECT_EQ(d.name, "Foo Tool version 3");
  d = describe("Bar Version 10.4.1");
  EXPECT_EQ(d.version, "10.4.1");
  d = describe("");
  EXPECT_EQ(d.name, "");
}

TEST(Description, LongLinesAreCut) {
  // The line is at most 259 bytes; the name keeps 127 of them, the version 31.
  const std::string long_name(300, 'n');
  EXPECT_EQ(describe(long_name).name, std::string(127, 'n'));
  const std::string long_version = "P Version " + std::string(100, '9');
  EXPECT_EQ(describe(long_version).version, std::string(31, '9'));
  // Bytes of 0x80 and above are text like any other.
  EXPECT_EQ(describe("Caf\xE9 Version 1").name, "Caf\xE9");
}

std::string key_of(const char* text, const char* key, int capacity, const char* before = "") {
  char field[32] = {};
  std::string initial = before;
  initial.copy(field, initial.size());
  read_install_key(text, key, field, capacity);
  return field;
}

TEST(InstallKeys, ValuesOfTheFirstKeyLine) {
  const char* inf = "ID=FOO\r\nGroup=Foo Tool\r\nClass=FooToolMain\r\nExe=FooTool.exe\r\n";
  EXPECT_EQ(key_of(inf, "ID", 4), "FOO");
  EXPECT_EQ(key_of(inf, "Group", 32), "Foo Tool");
  EXPECT_EQ(key_of(inf, "Class", 32), "FooToolMain");
  EXPECT_EQ(key_of(inf, "Exe", 32), "FooTool.exe");
  EXPECT_EQ(key_of("ID=abcdef\r\n", "ID", 4), "abc");
  const std::string long_exe = "Exe=" + std::string(40, 'e');
  EXPECT_EQ(key_of(long_exe.c_str(), "Exe", 32), std::string(31, 'e'));
  // An empty value or a missing key leaves the field as it was.
  EXPECT_EQ(key_of("Group=\r\nID=1\r\n", "Group", 32, "Foo Tool"), "Foo Tool");
  EXPECT_EQ(key_of("ID=1\r\n", "Group", 32, "Foo Tool"), "Foo Tool");
  EXPECT_EQ(key_of("Group=Foo Suite\r\n", "Group", 32, "Foo Tool"), "Foo Suite");
  // Keys are case-sensitive; the first line that has the key wins.
  EXPECT_EQ(key_of("id=1\r\nID=2\r\nID=3\r\n", "ID", 4), "2");
  // A value ends at LF alone, or at the end of the text.
  EXPECT_EQ(key_of("Exe=a.exe\nID=1", "Exe", 32), "a.exe");
  EXPECT_EQ(key_of("X=1\nID=77", "ID", 4), "77");
  EXPECT_EQ(key_of("", "ID", 4), "");
}

TEST(InstallKeys, KeyLettersInsideOtherLinesAreNotTheKey) {
  EXPECT_EQ(key_of("GUID=1234\r\nID=7\r\n", "ID", 4), "7");
  EXPECT_EQ(key_of("GUID=1234\r\n", "ID", 4), "");
  EXPECT_EQ(key_of("Class=MyIDWindow\r\nID=FOO\r\n", "ID", 4), "FOO");
  EXPECT_EQ(key_of("Class=MyExeWnd\r\nExe=Foo.exe\r\n", "Exe", 32), "Foo.exe");
  EXPECT_EQ(key_of("IDX=5\r\nID=6", "ID", 4), "6");
  EXPECT_EQ(key_of("ID =5\r\n", "ID", 4), "");
}

std::string pack_name(const vxtest::Bytes& data) {
  WideChar name[kLanguageNameCapacity];
  const bool found = language_pack_name(data.data(), static_cast<uint32_t>(data.size()), name, kLanguageNameCapacity);
  EXPECT_EQ(found, name[0] != 0);
  return narrow(name);
}

vxtest::Bytes utf16_pack(const std::string& ascii, bool bom = true) {
  vxtest::Bytes out;
  if (bom) out = {0xFF, 0xFE};
  for (char c : ascii) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(0);
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

TEST(LanguagePacks, DisplayNameInBothEncodings) {
  EXPECT_EQ(pack_name(vxtest::bytes_of("[Strings]\r\nLanguage=Fran\xE7" "ais\r\nHello=x\r\n")), "Fran\xC3\xA7" "ais");
  EXPECT_EQ(pack_name(utf16_pack("[Strings]\r\nLanguage=Italiano\r\n")), "Italiano");
  // UTF-16 without a terminator, and with an odd byte at its end.
  vxtest::Bytes odd = utf16_pack("[L]Language=Dansk");
  odd.push_back('!');
  EXPECT_EQ(pack_name(odd), "Dansk");
  EXPECT_EQ(pack_name(vxtest::bytes_of("[x]\r\nLanguage French\r\n")), "French");
  EXPECT_EQ(pack_name(vxtest::bytes_of("[x]\r\nLanguage=Danish (Dansk)\r\n")), "Danish ");
  EXPECT_EQ(pack_name(vxtest::bytes_of("[x]Language:Suomi=fi")), "Suomi");
}

TEST(LanguagePacks, PacksThatNameNoLanguage) {
  EXPECT_EQ(pack_name(vxtest::bytes_of("[x]\r\nLanguage = French\r\n")), "");
  EXPECT_EQ(pack_name(vxtest::bytes_of("Language=French\r\n")), "");   // no "[" first
  EXPECT_EQ(pack_name(vxtest::bytes_of("[x]\r\nlanguage=French\r\n")), "");  // case-sensitive
  EXPECT_EQ(pack_name(vxtest::bytes_of("\xEF\xBB\xBF[x]\r\nLanguage=French\r\n")), "");  // UTF-8 BOM
  vxtest::Bytes big_endian = {0xFE, 0xFF};
  for (char c : std::string("[x]Language=French")) {
    big_endian.push_back(0);
    big_endian.push_back(static_cast<uint8_t>(c));
  }
  EXPECT_EQ(pack_name(big_endian), "");
  EXPECT_EQ(pack_name(vxtest::bytes_of("[x]Language")), "");  // the word ends the text
  EXPECT_EQ(pack_name(vxtest::bytes_of("[x]Language=")), "");
  EXPECT_EQ(pack_name(utf16_pack("[x]Language=A", true)).size(), 1u);
  EXPECT_EQ(pack_name(vxtest::Bytes{0xFF, 0xFE}), "");
}

TEST(LanguagePacks, CodeFromTheEntryName) {
  auto code = [](const char* name) { return language_code_from_pack(wide(name).c_str()); };
  EXPECT_EQ(code("Lang\\Foo_FR.LNG"), make_language_code('F', 'R'));
  EXPECT_EQ(code("foo_fr.lng"), make_language_code('F', 'R'));
  EXPECT_EQ(code("Foo_US.LNG"), kLanguageEnglish);
  EXPECT_EQ(code("_de.LNG"), kLanguageGerman);
  // Fewer than two characters in front of ".LNG" besides the first: no code.
  EXPECT_EQ(code("FR.LNG"), 0u);
  EXPECT_EQ(code("X.LNG"), 0u);
}

TEST(Columns, NegativeWidthTakesTheRest) {
  EXPECT_EQ(column_width(language_columns, 0, 128, 17), 107);
  EXPECT_EQ(column_width(language_columns, 0, 120, 17), 100);
  EXPECT_EQ(column_width(language_columns, 0, 0, 17), 100);
  const ColumnSpec two[] = {{1, 50, 0}, {2, -1, 1}, {3, 30, 2}, {0, 0, 0}};
  EXPECT_EQ(column_width(two, 0, 400, 16), 50);
  EXPECT_EQ(column_width(two, 1, 400, 16), 400 - 80 - 20);
  EXPECT_EQ(column_width(two, 2, 400, 16), 30);
}

}  // namespace
