// The installation pass's name rules: which entry names may be written at
// all, the language code of a language-specific file, the special names, and
// the Group made fit for folders and shortcuts. Runs natively and under Wine.
#include <gtest/gtest.h>

#include <string>

#include "setup/install_names.h"
#include "tests/test_support.h"

namespace {

bool safe(const std::string& name) { return is_safe_file_name(vxtest::wide(name).c_str()); }

LanguageCode code_of(const std::string& file, int base_length) {
  return entry_language_code(vxtest::wide(file).c_str(), base_length);
}

EntryRole role_of(const std::string& file) { return entry_role(vxtest::wide(file).c_str()); }

uint32_t key_of(const std::string& file) { return file_name_key(vxtest::wide(file).c_str()); }

std::string group_after(std::string group, int capacity = 32) {
  char buffer[64] = {};
  group.copy(buffer, sizeof buffer - 1);
  make_group_name_safe(buffer, capacity);
  return buffer;
}

TEST(SafeFileName, OrdinaryNamesPass) {
  for (const char* name : {"FooTool.exe", "Foo_DE.LNG", "a", ".profile", "read me.txt", "CONSOLE.txt", "COM10",
                           "LPT", "nul_file", "com1x.txt", "x..y", "\xC3\xA4rger.txt"}) {
    EXPECT_TRUE(safe(name)) << name;
  }
}

TEST(SafeFileName, NamesThatWouldNotLandAsThemselves) {
  // Empty, the folder itself or its parent (also with the dots and blanks the
  // system drops at the end of a name).
  for (const char* name : {"", ".", "..", "...", ". .", "..  ", " "}) EXPECT_FALSE(safe(name)) << '"' << name << '"';
  // Characters the system refuses; a colon opens an alternate data stream.
  for (const char* name : {"a:b", "file.txt:stream", "C:evil", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a/b",
                           "a\\b", "tab\there", "cr\r"}) {
    EXPECT_FALSE(safe(name)) << name;
  }
  // Devices, in any case, with an extension or blanks in front of it.
  for (const char* name : {"CON", "con", "Prn.txt", "AUX", "nul.tar.gz", "COM1", "com9.log", "LPT1", "lpt9",
                           "COM0", "NUL .txt", "CONIN$", "conout$.x", "COM\xC2\xB9", "LPT\xC2\xB3.txt"}) {
    EXPECT_FALSE(safe(name)) << name;
  }
  EXPECT_FALSE(is_safe_file_name(nullptr));
}

TEST(LanguageCode, CodeBehindTheUnderscoreAtTheBaseLength) {
  EXPECT_EQ(code_of("Foo_DE.txt", 3), make_language_code('D', 'E'));
  EXPECT_EQ(code_of("Foo_fr.LNG", 3), make_language_code('F', 'R'));
  EXPECT_EQ(code_of("Foo_US.CHM", 3), make_language_code('U', 'S'));
  // The base name's own letters are not compared.
  EXPECT_EQ(code_of("Abcd_DE.txt", 4), make_language_code('D', 'E'));
  // No extension: the code runs to the end.
  EXPECT_EQ(code_of("Foo_IT", 3), make_language_code('I', 'T'));
  // One, three and four characters; a four-character code keeps three.
  EXPECT_EQ(code_of("Foo_X.txt", 3), static_cast<LanguageCode>('X'));
  EXPECT_EQ(code_of("Foo_ABC.txt", 3), make_language_code('A', 'B') | static_cast<LanguageCode>('C') << 16);
  EXPECT_EQ(code_of("Foo_ABCD.txt", 3), make_language_code('A', 'B') | static_cast<LanguageCode>('C') << 16);
}

TEST(LanguageCode, FilesThatAreNotLanguageSpecific) {
  EXPECT_EQ(code_of("Foo_ABCDE.txt", 3), 0u) << "five characters are no code";
  EXPECT_EQ(code_of("FooTool.exe", 3), 0u);
  EXPECT_EQ(code_of("Fo_DE.txt", 3), 0u) << "the underscore falls elsewhere";
  EXPECT_EQ(code_of("Foo", 3), 0u);
  EXPECT_EQ(code_of("Foo_", 3), 0u) << "an empty code";
  EXPECT_EQ(code_of("Foo_.txt", 3), 0u);
  EXPECT_EQ(code_of("_DE.txt", 0), make_language_code('D', 'E')) << "an empty base name";
}

TEST(EntryRoles, SpecialNames) {
  EXPECT_EQ(role_of("UnInst.exe"), kRoleUninstaller);
  EXPECT_EQ(role_of("UNINST.EXE"), kRoleUninstaller);
  EXPECT_EQ(role_of("UnInst.exe.bak"), kRoleFile);
  EXPECT_EQ(role_of("Foo.inf"), kRoleScript);
  EXPECT_EQ(role_of("X.INF"), kRoleScript);
  EXPECT_EQ(role_of(".INF"), kRoleFile) << "four characters are installed";
  EXPECT_EQ(role_of("Vtool.exe"), kRoleMainProgram);
  EXPECT_EQ(role_of("vTOOL.EXE"), kRoleMainProgram);
  EXPECT_EQ(role_of("V.exe"), kRoleMainProgram);
  EXPECT_EQ(role_of("FooTool.exe"), kRoleFile);
  EXPECT_EQ(role_of("Vtool.exe.txt"), kRoleFile);
  EXPECT_EQ(role_of("Vinf"), kRoleFile);
}

// The key lets the installation skip looking for names it has not written
// yet: spellings of one file must share it, and a name it cannot vouch for
// has none.
TEST(FileNameKey, SpellingsOfOneFileShareIt) {
  for (const char* same : {"readme.txt", "ReadMe.TXT", "README.TXT.", "readme.txt ", "readme.txt. ."}) {
    EXPECT_EQ(key_of(same), key_of("README.txt")) << same;
  }
  for (const char* other : {"readme.txt2", "readme.tx", "read me.txt", ".readme.txt", "readme_txt", "eadme.txt"}) {
    EXPECT_NE(key_of(other), key_of("readme.txt")) << other;
    EXPECT_NE(key_of(other), 0u) << other;
  }
  // Outside ASCII the system's own case mapping decides; a '~' may be the
  // short name of another file.
  for (const char* unknown : {"\xC3\xA4rger.txt", "PROGRA~1.TXT", "a~b"}) EXPECT_EQ(key_of(unknown), 0u) << unknown;
}

TEST(GroupName, MadeFitForFoldersAndShortcuts) {
  EXPECT_EQ(group_after("Foo Tool"), "Foo Tool");
  EXPECT_EQ(group_after("Foo: A/B Tool"), "Foo_ A_B Tool");
  EXPECT_EQ(group_after("..\\..\\Windows"), ".._.._Windows");
  EXPECT_EQ(group_after("Foo Tool. "), "Foo Tool");
  EXPECT_EQ(group_after("..."), "");
  EXPECT_EQ(group_after(""), "");
  EXPECT_EQ(group_after("CON"), "CON_");
  EXPECT_EQ(group_after("nul.x"), "nul.x_");
  EXPECT_EQ(group_after("LPT1", 5), "LPT_") << "no room for one more character";
}

}  // namespace
