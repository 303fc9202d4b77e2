// The package checks of vxpack build: every error stops the build, every
// warning names its file, and the entry order puts the installer's own text
// files first with the right language pack leading.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/test_support.h"
#include "tools/vxpack/package.h"

namespace fs = std::filesystem;
using vxtest::bytes_of;

namespace {

// A folder with a complete, clean package; cases change one thing in it.
struct PackageDir {
  vxtest::TempDir dir;
  PackageDir() {
    put("FILE_ID.DIZ", "Foo Tool Version 1.2 (beta)\r\nA tool.\r\n");
    put("foo.inf", "ID=FOO\r\nGroup=Foo Tool\r\nClass=FooWindow\r\nExe=Foo.exe\r\n");
    put("Foo_FR.LNG", "[Strings]\r\nLanguage=Francais\r\n");
    put("Foo_IT.LNG", "[Strings]\r\nLanguage=Italiano\r\n");
    put("Foo.exe", "MZ the program");
    put("UnInst.exe", "MZ the uninstaller");
    put("help/Foo_FR.txt", "aide");
  }
  // name is UTF-8 on every platform.
  static fs::path utf8(const std::string& name) { return fs::path(std::u8string(name.begin(), name.end())); }
  void put(const std::string& name, const std::string& text) {
    fs::create_directories((dir.path() / utf8(name)).parent_path());
    vxtest::write_file(dir.path() / utf8(name), bytes_of(text));
  }
  void remove(const std::string& name) { fs::remove(dir.path() / utf8(name)); }
  vxpack::Package scan() const { return vxpack::scan_package(dir.path()); }
};

// The problems about file, as "E: text" or "W: text" lines.
std::vector<std::string> problems(const vxpack::Package& p) {
  std::vector<std::string> out;
  for (const auto& pr : p.problems) out.push_back(std::string(pr.error ? "E " : "W ") + pr.file + ": " + pr.text);
  return out;
}

bool has(const vxpack::Package& p, bool error, const std::string& file, const std::string& words) {
  return std::any_of(p.problems.begin(), p.problems.end(), [&](const vxpack::Problem& pr) {
    return pr.error == error && pr.file == file && pr.text.find(words) != std::string::npos;
  });
}

TEST(PackageChecks, CleanPackageHasNoProblemsAndReadsLikeTheInstaller) {
  PackageDir d;
  const vxpack::Package p = d.scan();
  EXPECT_TRUE(p.problems.empty()) << ::testing::PrintToString(problems(p));
  EXPECT_EQ(p.facts.product, "Foo Tool");
  EXPECT_EQ(p.facts.version, "1.2");
  EXPECT_EQ(p.facts.id, "FOO");
  EXPECT_EQ(p.facts.exe, "Foo.exe");
  EXPECT_EQ(p.facts.base_name, "Foo");
  // Folders in names are kept with backslashes; the file name is what lands.
  auto it = std::find_if(p.files.begin(), p.files.end(), [](const auto& f) { return f.file_name == "Foo_FR.txt"; });
  ASSERT_NE(it, p.files.end());
  EXPECT_EQ(it->name, "help\\Foo_FR.txt");
}

TEST(PackageChecks, NamesWindowsCannotCreateAreErrors) {
  {
    PackageDir d;
    d.put("cyr\xd0\x96.txt", "x");
    EXPECT_TRUE(has(d.scan(), true, "cyr\xd0\x96.txt", "Windows-1252"));
  }
  // Latin-1 letters fit the code page: no problem.
  PackageDir d;
  d.put("caf\xc3\xa9.txt", "x");
  EXPECT_FALSE(d.scan().has_errors());
}

#ifndef _WIN32
// Names that only a non-Windows file system holds.
TEST(PackageChecks, NamesOnlyOtherSystemsHoldAreErrors) {
  struct Case {
    std::string name, words;
  } cases[] = {
      {"CON.txt", "device name"},       {"lpt1", "device name"},   {"a?b.txt", "character ?"},
      {"dots.", "ends in a dot"},       {"blank ", "ends in a dot or a blank"},
      {"sub./x.dll", "ends in a dot"},  {"tab\there", "control character"},
      {"COM0.txt", "installer does not write"}, {"conin$", "installer does not write"},
  };
  for (const Case& c : cases) {
    PackageDir d;
    d.put(c.name, "x");
    const vxpack::Package p = d.scan();
    EXPECT_TRUE(p.has_errors()) << c.name;
    const bool named = std::any_of(p.problems.begin(), p.problems.end(), [&](const auto& pr) {
      return pr.error && pr.text.find(c.words) != std::string::npos;
    });
    EXPECT_TRUE(named) << c.name << ": " << ::testing::PrintToString(problems(p));
  }
  PackageDir d;
  const std::string deep = std::string(130, 'd') + "/" + std::string(130, 'f');
  d.put(deep, "x");
  EXPECT_TRUE(has(d.scan(), true, deep, "at most 259"));
}
#endif

TEST(PackageChecks, CollisionsLengthAndEmptyPackages) {
  {
    PackageDir d;
    d.put("a/readme.txt", "1");
    d.put("b/README.TXT", "2");
    const vxpack::Package p = d.scan();
    EXPECT_TRUE(has(p, true, "b/README.TXT", "same name as a/readme.txt")) << ::testing::PrintToString(problems(p));
  }
  {
    vxtest::TempDir empty;
    vxtest::write_file(empty / "only.inf", bytes_of("ID=X\r\n"));
    EXPECT_TRUE(has(vxpack::scan_package(empty.path()), true, "(package)", "nothing to install"));
    EXPECT_TRUE(vxpack::scan_package(empty / "missing").has_errors());
  }
}

#ifndef _WIN32
TEST(PackageChecks, UnreadableFileIsAnError) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  PackageDir d;
  fs::permissions(d.dir / "Foo.exe", fs::perms::none);
  EXPECT_TRUE(has(d.scan(), true, "Foo.exe", "cannot be opened"));
}
#endif

TEST(PackageChecks, DescriptionAndInstallKeyWarnings) {
  {
    PackageDir d;
    d.remove("FILE_ID.DIZ");
    EXPECT_TRUE(has(d.scan(), false, "FILE_ID.DIZ", "is missing"));
    d.put("docs/FILE_ID.DIZ", "Foo\r\n");
    EXPECT_TRUE(has(d.scan(), false, "docs/FILE_ID.DIZ", "move it to the top"));
  }
  {
    PackageDir d;
    d.put("FILE_ID.DIZ", "(beta) Foo Tool\r\n");
    EXPECT_TRUE(has(d.scan(), false, "FILE_ID.DIZ", "no product name"));
  }
  {
    PackageDir d;
    d.remove("foo.inf");
    EXPECT_TRUE(has(d.scan(), false, "(package)", "no .INF"));
  }
  {
    PackageDir d;
    d.put("foo.inf", "ID=ABCDEF\r\nClass=X\r\n");
    const vxpack::Package p = d.scan();
    EXPECT_TRUE(has(p, false, "foo.inf", "cut to \"ABC\"")) << ::testing::PrintToString(problems(p));
    EXPECT_TRUE(has(p, false, "foo.inf", "gives no Group"));
    EXPECT_TRUE(has(p, false, "foo.inf", "gives no Exe"));
    EXPECT_EQ(p.facts.id, "ABC");
    EXPECT_EQ(p.facts.group, "Foo Tool");  // from FILE_ID.DIZ
  }
  {
    // The checks read keys as the installer does: only at the start of a
    // line, so the letters ID inside an earlier value hide nothing.
    PackageDir d;
    d.put("foo.inf", "Class=VIDEO\r\nGUID=1234\r\nID=FOO\r\nGroup=Foo\r\nExe=Foo.exe\r\n");
    const vxpack::Package p = d.scan();
    EXPECT_EQ(p.facts.id, "FOO");
    EXPECT_EQ(p.facts.window_class, "VIDEO");
  }
  {
    PackageDir d;
    d.put("foo.inf", "ID=FOO\r\nGroup=Foo\r\nExe=Missing.exe\r\n");
    EXPECT_TRUE(has(d.scan(), true, "foo.inf", "Exe=Missing.exe names no file"));
    d.put("foo.inf", "ID=FOO\r\nGroup=Foo\r\nExe=..\\Foo.exe\r\n");
    EXPECT_TRUE(has(d.scan(), true, "foo.inf", "is not a plain file name"));
    d.remove("UnInst.exe");
    EXPECT_TRUE(has(d.scan(), false, "UnInst.exe", "is missing"));
  }
}

TEST(PackageChecks, LanguagePackWarnings) {
  PackageDir d;
  d.put("Bar_DE.LNG", "[Strings]\r\nLanguage=Deutsch\r\n");       // other base
  d.put("French.LNG", "[Strings]\r\nLanguage=Francais\r\n");      // not base_XX
  d.put("Foo_ES.LNG", "[Strings]\r\nLanguage = Espanol\r\n");     // blank before '='
  d.put("Foo_NL.LNG", "Language=Nederlands\r\n");                 // no section header
  d.put("Foo_PT.LNG", "[Strings]\r\nName=Portugues\r\n");         // no Language line
  const vxpack::Package p = d.scan();
  EXPECT_TRUE(has(p, false, "Bar_DE.LNG", "base name \"Bar\"")) << ::testing::PrintToString(problems(p));
  EXPECT_TRUE(has(p, false, "French.LNG", "base_XX.LNG"));
  EXPECT_TRUE(has(p, false, "Foo_ES.LNG", "yields no language name"));
  EXPECT_TRUE(has(p, false, "Foo_NL.LNG", "section header"));
  EXPECT_TRUE(has(p, false, "Foo_PT.LNG", "no \"Language\" line"));
  EXPECT_FALSE(p.has_errors());
  EXPECT_EQ(p.facts.base_name, "Foo");

  // UTF-16 packs with their byte order mark are read.
  std::string name;
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("[S]\r\nLanguage=Dansk (DK)\r\n")) utf16 += std::string{c, '\0'};
  EXPECT_EQ(vxpack::read_language_name(utf16, &name), "");
  EXPECT_EQ(name, "Dansk ");
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

TEST(InstallerReading, DescriptionLineRules) {
  std::string name, version;
  vxpack::read_description("Foo Tool [shareware]\r\n", &name, &version);
  EXPECT_EQ(name, "Foo Tool");
  EXPECT_EQ(version, "");
  vxpack::read_description("Foo  (x)", &name, &version);
  EXPECT_EQ(name, "Foo ");  // one blank dropped, not two
  vxpack::read_description("\r\nFoo", &name, &version);
  EXPECT_EQ(name, "");
  std::string value;
  EXPECT_FALSE(vxpack::read_install_key("Group =Foo", "Group", 32, &value));
  EXPECT_TRUE(vxpack::read_install_key("ID=abcdef\r\n", "ID", 4, &value));
  EXPECT_EQ(value, "abc");
}

}  // namespace
