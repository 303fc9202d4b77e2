// vxpack build's package checks, one row per mistake a vendor makes: the
// message names the file and the fix, errors stop the build (exit 7) and
// warnings do not. Also what goes in (leftovers, the output, --exclude), the
// stub check, and the entry order the installer relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/stub_image.h"
#include "tests/test_support.h"
#include "tools/vxpack/build.h"
#include "tools/vxpack/commands.h"
#include "tools/vxpack/package.h"

namespace fs = std::filesystem;
using vxtest::bytes_of;

namespace {

// A folder with a complete, clean package; rows change one thing in it.
struct PackageDir {
  vxtest::TempDir dir;
  fs::path package = dir / "pkg";
  PackageDir() {
    put("FILE_ID.DIZ", "Foo Tool Version 1.2 (beta)\r\nA tool.\r\n");
    put("foo.inf", "ID=FOO\r\nGroup=Foo Tool\r\nClass=FooWindow\r\nExe=Foo.exe\r\n");
    put("Foo_FR.LNG", "[Strings]\r\nLanguage=Francais\r\n");
    put("Foo_IT.LNG", "[Strings]\r\nLanguage=Italiano\r\n");
    put("Foo.exe", "MZ the program");
    put("UnInst.exe", "MZ the uninstaller");
    put("help/Foo_FR.txt", "aide");
    vxtest::write_file(dir / "stub.exe", bytes_of(vxtest::stub_image()));
  }
  // name is UTF-8 on every platform; text "-" removes the file.
  void put(const std::string& name, const std::string& text) {
    const fs::path path = package / fs::path(std::u8string(name.begin(), name.end()));
    if (text == "-") {
      fs::remove(path);
      return;
    }
    fs::create_directories(path.parent_path());
    vxtest::write_file(path, bytes_of(text));
  }
  vxpack::Package scan() const { return vxpack::scan_package(package); }
  int build(std::string* messages, vxpack::BuildOptions o = {}) {
    o.folder = package;
    o.output = dir / "Setup.exe";
    if (o.stub.empty()) o.stub = dir / "stub.exe";
    std::ostringstream out, err;
    const int code = vxpack::run_build(o, out, err);
    *messages = err.str() + out.str();
    return code;
  }
};

std::string utf16le(const std::string& ascii, bool mark) {
  std::string out = mark ? "\xFF\xFE" : "";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

struct Row {
  const char* mistake;
  std::vector<std::pair<std::string, std::string>> files;  // written over the clean package
  std::string message;  // "file: fragment" as printed, folders with '/'
  int exit;
};

TEST(PackageChecks, EachMistakeIsNamedWithItsFix) {
  const std::string keys = "ID=FOO\r\nGroup=Foo Tool\r\nExe=Foo.exe\r\n";
  const std::string long_name = std::string(230, 'n') + ".txt";
  const Row rows[] = {
      {"misspelt key", {{"foo.inf", keys + "Clas=FooWindow\r\n"}}, "foo.inf: line 4: unknown key \"Clas\"", 0},
      {"misspelt key's fix", {{"foo.inf", keys + "Gruop=Foo\r\n"}}, "did you mean Group?", 0},
      {"unknown key", {{"foo.inf", keys + "Version=2\r\n"}}, "reads only ID, Group, Class, Exe and Publisher", 0},
      {"key in lower case", {{"foo.inf", "id=FOO\r\nGroup=Foo\r\nExe=Foo.exe\r\n"}}, "letter case only: ID", 0},
      {"blanks around =", {{"foo.inf", "ID=FOO\r\nGroup = Foo\r\nExe=Foo.exe\r\n"}}, "between the key and '='", 0},
      {"blank in front of a value", {{"foo.inf", "ID=FOO\r\nGroup= Foo\r\nExe=Foo.exe\r\n"}}, "remove the blank", 0},
      {"repeated key", {{"foo.inf", keys + "Group=Other\r\n"}}, "foo.inf: line 4: repeats Group", 0},
      {"not a key line", {{"foo.inf", keys + "[Setup]\r\n"}}, "is not a key=value line", 0},
      {"UTF-16 .INF", {{"foo.inf", utf16le(keys, false)}}, "foo.inf: is UTF-16 text", 0},
      {"UTF-16 description", {{"FILE_ID.DIZ", utf16le("Foo\r\n", true)}}, "FILE_ID.DIZ: is UTF-16 text", 0},
      {"missing ID", {{"foo.inf", "Group=Foo\r\nExe=Foo.exe\r\n"}}, "foo.inf: gives no ID", 0},
      {"missing Exe", {{"foo.inf", "ID=FOO\r\nGroup=Foo\r\n"}}, "foo.inf: gives no Exe", 0},
      {"missing Group", {{"foo.inf", "ID=FOO\r\nExe=Foo.exe\r\n"}}, "product name from FILE_ID.DIZ (\"Foo Tool\")", 0},
      {"long ID", {{"foo.inf", "ID=ABCDEF\r\nGroup=Foo\r\nExe=Foo.exe\r\n"}}, "cut to \"ABC\"", 0},
      {"Exe names no file", {{"foo.inf", "ID=F\r\nGroup=F\r\nExe=Gone.exe\r\n"}}, "Exe=Gone.exe names no file", 7},
      {"Exe with a folder", {{"foo.inf", "ID=F\r\nGroup=F\r\nExe=..\\Foo.exe\r\n"}}, "is not a plain file name", 7},
      {"no .INF", {{"foo.inf", "-"}}, "(package): has no .INF file", 0},
      {"two .INF", {{"drivers/usb.inf", "x"}}, "drivers/usb.inf: is a second .INF file besides foo.inf", 7},
      {"Group changed", {{"foo.inf", "ID=F\r\nGroup=Kettle\\Timer\r\nExe=Foo.exe\r\n"}}, "becomes \"Kettle_Timer\"", 0},
      {"UTF-8 description", {{"FILE_ID.DIZ", "F\xC3\xBCr Tool\r\n"}}, "\"F\xC3\xBCr\" shows as \"F\xC3\x83\xC2\xBCr\"", 0},
      {"UTF-8 language pack", {{"Foo_DE.LNG", "[S]\r\nLanguage=Fran\xC3\xA7" "ais\r\n"}}, "Foo_DE.LNG: is UTF-8 text", 0},
      {"UTF-8 mark on a pack", {{"Foo_DE.LNG", "\xEF\xBB\xBF[S]\r\nLanguage=D\r\n"}}, "UTF-8 byte-order mark", 0},
      {"no description", {{"FILE_ID.DIZ", "-"}}, "FILE_ID.DIZ: is missing", 0},
      {"description in a folder", {{"FILE_ID.DIZ", "-"}, {"d/FILE_ID.DIZ", "F"}}, "move it to the top", 0},
      {"no product name", {{"FILE_ID.DIZ", "(beta) Foo\r\n"}}, "yields no product name", 0},
      {"English under EN", {{"Foo_EN.LNG", "[S]\r\nLanguage=English\r\n"}}, "Foo_EN.LNG: adds a second English", 0},
      {"German under AT", {{"Foo_AT.LNG", "[S]\r\nLanguage=Deutsch\r\n"}}, "name the pack Foo_DE.LNG", 0},
      {"code of one letter", {{"Foo_F.LNG", "[S]\r\nLanguage=F\r\n"}}, "Foo_F.LNG: does not follow the naming", 0},
      {"other base name", {{"Bar_DE.LNG", "[S]\r\nLanguage=D\r\n"}}, "has the base name \"Bar\"", 0},
      {"base name too long", {{std::string(32, 'b') + "_FR.LNG", "[S]\r\nLanguage=F\r\n"}}, "longer than 31", 0},
      {"blank before = in a pack", {{"Foo_ES.LNG", "[S]\r\nLanguage = Espanol\r\n"}}, "yields no language name", 0},
      {"pack without section", {{"Foo_NL.LNG", "Language=Nederlands\r\n"}}, "section header", 0},
      {"pack without Language", {{"Foo_PT.LNG", "[S]\r\nName=Portugues\r\n"}}, "no \"Language\" line", 0},
      {"caught by the language filter", {{"Lib_DE.dll", "x"}}, "Lib_DE.dll: is skipped when the language DE", 0},
      {"path too long", {{long_name, "x"}}, "(260 characters), longer than the 259", 7},
      {"same name twice", {{"a/readme.txt", "1"}, {"b/README.TXT", "2"}}, "b/README.TXT: lands on the same name", 7},
      {"outside the code page", {{"cyr\xD0\x96.txt", "x"}}, "Windows-1252 code page cannot write", 7},
      {"nothing to install", {{"Foo.exe", "-"}, {"UnInst.exe", "-"}, {"help/Foo_FR.txt", "-"},
                              {"Foo_FR.LNG", "-"}, {"Foo_IT.LNG", "-"}, {"FILE_ID.DIZ", "-"}},
       "has nothing to install", 7},
#ifndef _WIN32  // names only other systems hold
      {"device name", {{"CON.txt", "x"}}, "device name", 7},
      {"refused character", {{"a?b.txt", "x"}}, "character ?", 7},
      {"trailing dot", {{"sub./x.dll", "x"}}, "ends in a dot", 7},
      {"name the installer refuses", {{"COM0.txt", "x"}}, "installer does not write", 7},
#endif
  };
  vxpack::BuildOptions strict;
  strict.strict = true;
  for (const Row& row : rows) {
    PackageDir d;
    for (const auto& [name, text] : row.files) d.put(name, text);
    std::string messages;
    EXPECT_EQ(d.build(&messages, strict), 7) << row.mistake;  // warnings too
    EXPECT_EQ(d.build(&messages), row.exit) << row.mistake << "\n" << messages;
    EXPECT_NE(messages.find(row.message), std::string::npos) << row.mistake << "\n" << messages;
    EXPECT_EQ(fs::exists(d.dir / "Setup.exe"), row.exit == 0) << row.mistake;
  }
}

// The checks ask the installer's own reader, so they say what it does with
// a byte-order mark or blanks in front of a key, whichever way it reads them.
TEST(PackageChecks, KeyLinesAgreeWithTheInstallersReader) {
  for (const std::string& inf : {std::string("\xEF\xBB\xBFID=FOO\r\nGroup=F\r\nExe=Foo.exe\r\n"),
                                 std::string("  ID=FOO\r\nGroup=F\r\nExe=Foo.exe\r\n")}) {
    PackageDir d;
    d.put("foo.inf", inf);
    std::string id;
    const bool read = vxpack::read_install_key(inf, "ID", 4, &id);
    const vxpack::Package p = d.scan();
    const bool warned = std::any_of(p.problems.begin(), p.problems.end(),
                                    [](const auto& pr) { return pr.text.find("not read by") != std::string::npos; });
    EXPECT_EQ(warned, !read) << inf;
    EXPECT_EQ(p.facts.id, read ? "FOO" : "");
  }
}

TEST(PackageChecks, CleanPackageBuildsQuietlyAndReadsLikeTheInstaller) {
  PackageDir d;
  d.put("Foo_DE.LNG", "[S]\r\nLanguage=Deutsch\r\n");  // the built-in German's own pack is fine
  std::string messages;
  vxpack::BuildOptions strict;
  strict.strict = true;
  EXPECT_EQ(d.build(&messages, strict), 0) << messages;
  const vxpack::Package p = d.scan();
  EXPECT_EQ(p.facts.product + "|" + p.facts.version + "|" + p.facts.id + "|" + p.facts.exe + "|" + p.facts.base_name,
            "Foo Tool|1.2|FOO|Foo.exe|Foo");
}

TEST(PackageChecks, LargerThanTheReaderCanAddressStopsBeforeWriting) {
  PackageDir d;
  for (const char* name : {"a.dat", "b.dat"}) {
    d.put(name, "");
    fs::resize_file(d.package / name, 0x40000000);  // sparse on the usual file systems
  }
  std::string messages;
  EXPECT_EQ(d.build(&messages), vxpack::kExitPackageErrors);
  EXPECT_NE(messages.find("could be 2147" ), std::string::npos) << messages;
  EXPECT_NE(messages.find("at most 2,147,483,647 bytes"), std::string::npos);
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe.partial"));
}

TEST(PackageContents, LeftoversOutputAndExcludesStayOut) {
  PackageDir d;
  for (const char* name : {".git/HEAD", ".svn/entries", "Thumbs.db", "docs/desktop.ini", ".DS_Store", "notes.txt~",
                           "Setup.exe", "Setup.exe.partial", "build/log.txt", "keep.log"}) {
    d.put(name, "x");
  }
  const vxpack::Package p = vxpack::scan_package(d.package, {d.package / "Setup.exe", {"build/", "*.LOG"}});
  std::vector<std::string> names;
  for (const auto& f : p.files) names.push_back(f.shown);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"FILE_ID.DIZ", "Foo.exe", "Foo_FR.LNG", "Foo_IT.LNG", "UnInst.exe",
                                             "foo.inf", "help/Foo_FR.txt"}));
  EXPECT_EQ(p.left_out, (std::vector<std::string>{".DS_Store", ".git/", ".svn/", "Thumbs.db", "build/",
                                                  "docs/desktop.ini", "keep.log", "notes.txt~"}));
  struct Match {
    const char* pattern;
    const char* path;
    bool hit;
  } matches[] = {{"*.txt", "help/a.txt", true}, {"help/*.txt", "help/a.txt", true}, {"help/*", "help/x/a.txt", false},
                 {"a?c", "abc", true},          {"a?c", "ac", false},               {"*", "x/y", true},
                 {"x/*/z", "x/y/z", true},      {"h*p", "help/p", false}};
  for (const Match& m : matches) EXPECT_EQ(vxpack::matches_exclude(m.pattern, m.path), m.hit) << m.pattern;
}

TEST(StubCheck, OnlyABareSetupStubIsTakenAsStub) {
  std::string dll = vxtest::stub_image();
  dll[0x57] = 0x20;  // the DLL bit
  std::string foreign = vxtest::stub_image();
  foreign.replace(foreign.find(std::string("v\0x\0s", 5)), 1, "w");
  const struct {
    std::string bytes, fault;
  } cases[] = {{"root:x:0:0:root:/root:/bin/bash\n", "does not begin with MZ"},
               {"MZ" + std::string(100, '\0'), "no PE header"},
               {dll, "is a DLL"},
               {foreign, "not a setup stub of vxsetup"},
               {vxtest::stub_image() + "Rar!", "carries 4 bytes behind its program image"},
               {vxtest::stub_image(), ""}};
  for (const auto& c : cases) {
    const std::string fault = vxpack::stub_fault(c.bytes);
    EXPECT_TRUE(c.fault.empty() ? fault.empty() : fault.find(c.fault) != std::string::npos) << c.fault << ": " << fault;
  }
  if (!vxpack::embedded_stub().empty()) {
    EXPECT_EQ(vxpack::stub_fault(vxpack::embedded_stub()), "");
  }
  PackageDir d;
  vxtest::write_file(d.dir / "passwd", bytes_of("root:x:0:0\n"));
  vxpack::BuildOptions o;
  o.stub = d.dir / "passwd";
  std::string messages;
  EXPECT_EQ(d.build(&messages, o), vxpack::kExitNoStub);
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe"));
}

TEST(PackageOrder, InstallerTextFirstThenByExtensionAndSize) {
  PackageDir d;
  d.put("Bar_DE.LNG", "[S]\r\nLanguage=Deutsch\r\n");  // sorts before Foo_*, must not lead
  d.put("b.dll", "xx");
  d.put("a.txt", "x");
  d.put("c.dll", "x");
  d.put("z/a.dll", "xx");
  std::vector<std::string> order;
  for (const auto& f : d.scan().files) order.push_back(f.name);
  const std::vector<std::string> want = {"FILE_ID.DIZ", "foo.inf",    "Foo_FR.LNG", "Bar_DE.LNG", "Foo_IT.LNG",
                                         "c.dll",       "z\\a.dll",   "b.dll",      "Foo.exe",    "UnInst.exe",
                                         "a.txt",       "help\\Foo_FR.txt"};
  EXPECT_EQ(order, want);
}

}  // namespace
