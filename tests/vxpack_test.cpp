// vxpack: build's package checks (one row per mistake a vendor makes), what
// goes in and in which order, the stub check, the output read back through the
// installer's reader, times, failures; list, test and extract on setup
// executables built by the writer, damaged ones and unsafe names included.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <set>
#include <sstream>

#include "tests/test_support.h"
#include "tools/vxpack/archive_view.h"
#include "tools/vxpack/build.h"
#include "tools/vxpack/commands.h"
#include "tools/vxpack/package.h"
#include "tools/vxpack/uninstaller.h"

namespace fs = std::filesystem;
using vxtest::Bytes;
using vxtest::bytes_of;

namespace {

struct Built {
  int code;
  std::string out, err;
};

std::string utf16le(const std::string& ascii, bool mark = false) {
  std::string out = mark ? "\xFF\xFE" : "";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// A small PE image with one section whose raw data ends the file and holds
// the version strings vxpack looks for, plus section_payload.
std::string stub_image(const std::string& section_payload = {}) {
  std::string data = utf16le(std::string("ProductName\0vxsetup\0FileDescription\0\0Setup\0", 43)) + section_payload;
  data.resize((data.size() + 511) / 512 * 512, '\0');
  std::string image(0x200, '\0');
  const auto put = [&](std::size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) image[at + i] = static_cast<char>(v >> (8 * i));
  };
  image.replace(0, 2, "MZ");
  put(0x3C, 0x40, 4);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  put(0x44, 0x8664, 2);                                   // machine: x86-64
  put(0x46, 1, 2);                                        // one section
  put(0x56, 0x22, 2);                                     // an executable image
  put(0x58 + 16, static_cast<uint32_t>(data.size()), 4);  // its raw data: size
  put(0x58 + 20, 0x200, 4);                               // and place
  return image + data;
}

// A folder with a complete, clean package and a stub beside it; tests change
// one thing in it.
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
    vxtest::write_file(dir / "stub.exe", bytes_of(stub_image()));
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
  Built build(vxpack::BuildOptions o = {}, const std::string& out_name = "Setup.exe") {
    o.folder = package;
    o.output = dir / out_name;
    if (o.stub.empty()) o.stub = dir / "stub.exe";
    std::ostringstream out, err;
    const int code = vxpack::run_build(o, out, err);
    return {code, out.str(), err.str()};
  }
};

// What a build finds in place of an older output.
const Bytes kOlder = bytes_of("an older build");

TEST(PackageChecks, EachMistakeIsNamedWithItsFix) {
  const std::string keys = "ID=FOO\r\nGroup=Foo Tool\r\nExe=Foo.exe\r\n";
  const std::string long_name = std::string(230, 'n') + ".txt";
  const struct {
    const char* mistake;
    std::vector<std::pair<std::string, std::string>> files;  // written over the clean package
    std::string message;                                     // "file: fragment" as printed, folders with '/'
    int exit;
  } rows[] = {
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
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mistake);
    PackageDir d;
    for (const auto& [name, text] : row.files) d.put(name, text);
    vxtest::write_file(d.dir / "Setup.exe", kOlder);
    EXPECT_EQ(d.build({.strict = true}).code, 7);  // warnings too
    const Built b = d.build();
    EXPECT_EQ(b.code, row.exit) << b.err << b.out;
    EXPECT_NE(b.err.find(row.message), std::string::npos) << b.err << b.out;
    EXPECT_EQ(vxtest::read_file(d.dir / "Setup.exe") == kOlder, row.exit != 0);
  }
}

// No leftovers of other tools, nor the output, nor what --exclude names; the
// installer's texts first, then by extension and size.
TEST(PackageContents, LeftoversOutputAndExcludesStayOutTheRestInOrder) {
  PackageDir d;
  for (const char* name : {".git/HEAD", ".svn/entries", "Thumbs.db", "docs/desktop.ini", ".DS_Store", "notes.txt~",
                           "Setup.exe", "Setup.exe.partial", "build/log.txt", "keep.log", "a.txt", "c.dll"}) {
    d.put(name, "x");
  }
  d.put("b.dll", "xx");
  d.put("z/a.dll", "xx");
  d.put("Bar_DE.LNG", "[S]\r\nLanguage=Deutsch\r\n");  // sorts before Foo_*, must not lead
  const vxpack::Package p = vxpack::scan_package(d.package, {d.package / "Setup.exe", {"build/", "*.LOG"}});
  std::vector<std::string> names;
  for (const auto& f : p.files) names.push_back(f.name);
  EXPECT_EQ(names, (std::vector<std::string>{"FILE_ID.DIZ", "foo.inf", "Foo_FR.LNG", "Bar_DE.LNG", "Foo_IT.LNG",
                                             "c.dll", "z\\a.dll", "b.dll", "Foo.exe", "UnInst.exe", "a.txt",
                                             "help\\Foo_FR.txt"}));
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
  std::string dll = stub_image();
  dll[0x57] = 0x20;  // the DLL bit
  std::string foreign = stub_image();
  foreign[foreign.find(std::string("v\0x\0s", 5))] = 'w';
  const struct {
    std::string bytes, fault;
  } cases[] = {{"root:x:0:0:root:/root:/bin/bash\n", "does not begin with MZ"},
               {"MZ" + std::string(100, '\0'), "no PE header"},
               {dll, "is a DLL"},
               {foreign, "not a setup stub of vxsetup"},
               {stub_image() + "Rar!", "carries 4 bytes behind its program image"},
               {stub_image(), ""},
               {vxpack::embedded_stub(), vxpack::embedded_stub().empty() ? "does not begin with MZ" : ""}};
  for (const auto& c : cases) {
    const std::string fault = vxpack::stub_fault(c.bytes);
    EXPECT_TRUE(c.fault.empty() ? fault.empty() : fault.find(c.fault) != std::string::npos) << c.fault << ": " << fault;
  }
  // A build given no stub of ours stops before writing; without --stub it
  // takes the built-in stub, or asks for one.
  PackageDir d;
  EXPECT_EQ(d.build({.stub = d.package / "foo.inf"}).code, vxpack::kExitNoStub);
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe"));
  std::ostringstream out, err;
  const bool built_in = !vxpack::embedded_stub().empty();
  EXPECT_EQ(vxpack::run_build({.folder = d.package, .output = d.dir / "Setup.exe"}, out, err),
            built_in ? 0 : vxpack::kExitNoStub)
      << err.str();
  EXPECT_EQ(err.str().find("no stub built in; pass --stub PATH") != std::string::npos, !built_in);
  EXPECT_EQ(fs::exists(d.dir / "Setup.exe"), built_in);
}

class BuildLevels : public ::testing::TestWithParam<std::pair<int, bool>> {};

TEST_P(BuildLevels, OutputReadsBackWithItsHeaders) {
  const auto [m, solid] = GetParam();
  PackageDir d;
  // The clean package plus the built-in German's own pack (which is fine), an
  // empty file, noise and a file larger than the window: text, noise, then the
  // text again from 900 KB back.
  d.put("Foo_DE.LNG", "[S]\r\nLanguage=Deutsch\r\n");
  d.put("empty.dat", "");
  const Bytes noise = vxtest::random_bytes(30000, 3);
  d.put("noise.bin", std::string(noise.begin(), noise.end()));
  Bytes big = vxtest::text_like_bytes(700000, 4);
  const Bytes gap = vxtest::random_bytes(200000, 5);
  big.insert(big.end(), gap.begin(), gap.end());
  big.insert(big.end(), big.begin(), big.begin() + 400000);
  d.put("data/big.dat", std::string(big.begin(), big.end()));
  // A read-only file gets the read-only attribute.
  fs::permissions(d.package / "UnInst.exe", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  // Warnings count: the clean package builds without a word.
  const Built b = d.build({.level = m, .solid = solid, .strict = true});
  ASSERT_EQ(b.code, 0) << b.err;
  const vxpack::PackageFacts f = vxpack::scan_package(d.package).facts;
  EXPECT_EQ(f.product + "|" + f.version + "|" + f.id + "|" + f.exe + "|" + f.base_name, "Foo Tool|1.2|FOO|Foo.exe|Foo");
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe.partial"));

  vxpack::ArchiveInfo info;
  std::string error;
  ASSERT_TRUE(vxpack::read_archive_info(d.dir / "Setup.exe", &info, &error)) << error;
  EXPECT_EQ(info.offset, static_cast<int32_t>(stub_image().size()));
  ASSERT_EQ(info.entries.size(), 11u);
  bool chain_started = false;
  for (const auto& e : info.entries) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.host_os * 100 + e.unp_ver, 220);
    EXPECT_EQ(e.file_attr, e.name == "UnInst.exe" ? 0x21u : 0x20u);
    const bool stored = e.method == 0x30;
    const bool must_store = m == 0 || e.unp_size == 0 || e.name == "noise.bin";
    const bool must_shrink = m != 0 && e.name == "data\\big.dat";
    EXPECT_TRUE(stored ? !must_shrink && e.pack_size == e.unp_size : !must_store && e.method == 0x30 + m);
    EXPECT_TRUE(!must_shrink || e.pack_size < e.unp_size / 2);
    // The solid flag marks every compressed entry after the first.
    EXPECT_EQ((e.head_flags & 0x10) != 0, !stored && solid && chain_started);
    chain_started |= !stored;
  }
  std::ostringstream out, err;
  EXPECT_EQ(vxpack::run_extract(d.dir / "Setup.exe", d.dir / "out", out, err), 0) << err.str();
  EXPECT_EQ(vxtest::read_file(d.dir / "out" / "data" / "big.dat"), vxtest::read_file(d.package / "data" / "big.dat"));
}

INSTANTIATE_TEST_SUITE_P(Build, BuildLevels,
                         ::testing::Values(std::pair{0, true}, std::pair{1, true}, std::pair{vxpack::kDefaultLevel, true},
                                           std::pair{5, true}, std::pair{vxpack::kDefaultLevel, false}));

// MS-DOS times are local time, except in reproducible builds, which depend
// neither on the time zone nor on the files' times.
TEST(Build, TimesAndReproducibleOutput) {
  PackageDir d;
  [[maybe_unused]] const char* old_tz = std::getenv("TZ");
  [[maybe_unused]] const std::string saved_tz = old_tz ? old_tz : "";
  // The output's bytes and its first entry's time.
  auto build_in = [&](const char* tz, const std::string& name, bool reproducible) {
#ifndef _WIN32
    setenv("TZ", tz, 1);
    tzset();
#endif
    d.build({.reproducible = reproducible}, name);
    vxpack::ArchiveInfo info;
    std::string error;
    EXPECT_TRUE(vxpack::read_archive_info(d.dir / name, &info, &error)) << error;
    return std::pair{vxtest::read_file(d.dir / name), info.entries.empty() ? 0u : info.entries[0].file_time};
  };
  const auto a = build_in("UTC0", "a.exe", true);
  fs::last_write_time(d.package / "Foo.exe", fs::last_write_time(d.package / "Foo.exe") - std::chrono::hours(50));
  EXPECT_EQ(build_in("XST-5", "b.exe", true).first, a.first);
#ifndef _WIN32
  const uint32_t utc = build_in("UTC0", "utc.exe", false).second, east = build_in("XST-5", "east.exe", false).second;
  EXPECT_EQ((((utc >> 11) & 0x1F) + 5) % 24, (east >> 11) & 0x1F);
  setenv("SOURCE_DATE_EPOCH", "1704067200", 1);  // 2024-01-01 00:00:00 UTC
  EXPECT_EQ(build_in("XST-5", "epoch.exe", true).second, (44u << 25) | (1u << 21) | (1u << 16));
  unsetenv("SOURCE_DATE_EPOCH");
  if (old_tz) setenv("TZ", saved_tz.c_str(), 1); else unsetenv("TZ");
  tzset();
#endif
}

// A build that cannot start leaves an older output alone; one whose output
// does not read back (a stub with an archive of its own) removes it; without
// the verify pass it stands. --quiet hides the warnings, not the errors.
TEST(Build, FailuresLeaveNoOutputAndQuietHidesWarnings) {
  PackageDir d;
  vxtest::write_file(d.dir / "Setup.exe", kOlder);
  Built b = d.build({.stub = d.dir / "no-such-stub.exe"});
  EXPECT_EQ(b.code, vxpack::kExitNoArchive);
  EXPECT_NE(b.err.find("no-such-stub.exe"), std::string::npos) << b.err;
  EXPECT_EQ(vxtest::read_file(d.dir / "Setup.exe"), kOlder);
  vxpack::BuildOptions o{.stub = d.dir / "marked.exe"};
  vxtest::write_file(o.stub, bytes_of(stub_image(std::string("Rar!\x1A\x07\x00", 7) +
                                                 std::string("\0\0\x73\0\0\x0D\0\0\0\0\0\0", 13) +
                                                 std::string(7, '\0'))));
  b = d.build(o);
  EXPECT_EQ(b.code, vxpack::kExitVerifyFailed);
  EXPECT_NE(b.err.find("verification failed"), std::string::npos) << b.err;
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe"));
  fs::remove(d.package / "UnInst.exe");  // a warning
  o.uninstaller = o.verify = false;
  o.quiet = true;
  b = d.build(o);
  EXPECT_EQ(b.code, 0);
  EXPECT_EQ(b.out + b.err, "");
  const Bytes built = vxtest::read_file(d.dir / "Setup.exe");
  // Files larger together than the reader can address stop the build before writing.
  for (const char* name : {"a.dat", "b.dat"}) {
    d.put(name, "");
    fs::resize_file(d.package / name, 0x40000000);  // sparse on the usual file systems
  }
  b = d.build(o);
  EXPECT_EQ(b.code, vxpack::kExitPackageErrors);
  EXPECT_NE(b.err.find("could be 2147"), std::string::npos) << b.err;
  EXPECT_EQ(vxtest::read_file(d.dir / "Setup.exe"), built);
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe.partial"));
}

// The package's own UnInst.exe wins; without one the standard uninstaller
// goes in (unless left out), carrying the list of what the installer writes.
TEST(Build, AddsTheStandardUninstallerWhenThePackageHasNone) {
  PackageDir d;
  EXPECT_NE(d.build({}, "Own.exe").out.find("uninstaller: the package's own UnInst.exe"), std::string::npos);
  fs::remove(d.package / "UnInst.exe");
  EXPECT_NE(d.build({.uninstaller = false}, "None.exe").out.find("uninstaller: none\n"), std::string::npos);
  if (vxpack::embedded_uninstaller().empty()) GTEST_SKIP() << "no uninstaller built in";
  const Built b = d.build();
  ASSERT_EQ(b.code, 0) << b.err;
  EXPECT_NE(b.out.find("uninstaller: the standard UnInst.exe"), std::string::npos) << b.out;
  EXPECT_EQ(b.err.find("UnInst.exe"), std::string::npos) << b.err;
  std::ostringstream out, err;
  ASSERT_EQ(vxpack::run_extract(d.dir / "Setup.exe", d.dir / "out", out, err), 0) << err.str();
  ASSERT_EQ(vxpack::run_extract(d.dir / "out" / "UnInst.exe", d.dir / "list", out, err), 0) << err.str();
  EXPECT_EQ(vxtest::read_file(d.dir / "list" / "UNINST.LST"),
            bytes_of("ID=FOO\r\nGroup=Foo Tool\r\nExe=Foo.exe\r\nFile=FILE_ID.DIZ\r\nFile=Foo_FR.LNG\r\nFile=Foo_IT.LNG\r\n"
                     "File=Foo.exe\r\nFile=Foo_FR.txt\r\nFile=UnInst.exe\r\n"));
}

// list and test on a setup executable, damaged ones (cut at an entry boundary:
// both entries pass, then the end is missing), and files without an archive;
// extract keeps folders and refuses names that would leave the output folder.
TEST(VxpackCommands, ListTestAndExtract) {
  vxtest::TempDir dir;
  // A setup executable: files stored behind a program image.
  const auto setup_exe = [&](const std::string& file, const std::vector<std::pair<std::string, std::string>>& files,
                             std::size_t image = 70000, ArchiveForm form = ArchiveForm::kMarked) {
    vxtest::Archive a(form, image);
    std::copy_n("MZ", 2, a.w.bytes.begin());
    const EntrySpec e{.file_time = dos_time_from_parts(2020, 2, 29, 12, 0, 0)};
    for (const auto& [name, text] : files) a.stored(name, text, e);
    return a.save(dir, file);
  };
  const auto exe = setup_exe("Setup.exe", {{"FILE_ID.DIZ", "Foo Tool Version 1.2"}, {"bin\\Foo.exe", "MZ program"}});
  const Bytes whole = vxtest::read_file(exe);
  const auto changed = [&](const std::string& name, std::size_t at, uint8_t x, std::size_t cut) {
    Bytes b = whole;
    b[at] ^= x;
    b.resize(b.size() - cut);
    vxtest::write_file(dir / name, b);
    return dir / name;
  };
  vxtest::write_file(dir / "plain.exe", Bytes(3000, 'x'));
  using Command = int (*)(const fs::path&, std::ostream&, std::ostream&);
  const Command list = vxpack::run_list, test = vxpack::run_test;
  const Command extract = [](const fs::path& file, std::ostream& out, std::ostream& err) {
    return vxpack::run_extract(file, file.parent_path() / "out", out, err);
  };
  const struct {
    Command command;
    fs::path file;
    int code;
    std::vector<std::string> out, err;  // shown there; "!text": not shown
  } cases[] = {
      {list, exe, vxpack::kExitOk, {"behind a program image at offset 70000", "marked form", "FILE_ID.DIZ",
                                    "bin\\Foo.exe", "2020-02-29 12:00:00", "2 entries", "!damaged"}, {}},
      {test, exe, vxpack::kExitOk, {"OK      bin\\Foo.exe", "All 2 entries OK"}, {}},
      // 'F' of the first name becomes 'f'.
      {list, changed("name.exe", 70000 + 7 + 13 + 32, 0x20, 14), vxpack::kExitDamaged,
       {"fILE_ID.DIZ [header checksum damaged]", "bin\\Foo.exe"}, {"damaged behind entry 2"}},
      {test, changed("data.exe", whole.size() - 14 - 6, 1, 0), vxpack::kExitDamaged,  // a byte of "MZ program"
       {"FAILED  bin\\Foo.exe"}, {"damaged"}},
      {test, changed("cut.exe", 0, 0, 14), vxpack::kExitDamaged, {"!FAILED"}, {}},
      {test, dir / "nope.exe", vxpack::kExitNoArchive, {}, {"no such file"}},
      {list, dir / "plain.exe", vxpack::kExitNoArchive, {}, {"no archive found"}},
      {list, setup_exe("old.exe", {{"a.txt", "alpha"}}, 1000, ArchiveForm::kOld), vxpack::kExitOk,
       {"offset 1000, old signature form"}, {}},
      {extract,
       setup_exe("unsafe.exe", {{"top.txt", "top"}, {"su/deeper/file.txt", "deep"}, {"..\\escape.txt", "evil"},
                       {"su\\..\\..\\escape2.txt", "evil"}, {"C:\\windows\\evil.dll", "evil"},
                       {"\\rooted.txt", "evil"}, {"last.txt", "last"}}),
       vxpack::kExitUnsafeName, {},
       {"refusing entry \"..\\escape.txt\"", "C:\\windows\\evil.dll", "4 entries were not extracted"}},
  };
  for (const auto& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(c.command(c.file, out, err), c.code) << c.file << "\n" << out.str() << err.str();
    for (const auto& [shown, text] : {std::pair{&c.out, out.str()}, std::pair{&c.err, err.str()}}) {
      for (const std::string& f : *shown) {
        EXPECT_EQ(text.find(f.substr(f[0] == '!')) == std::string::npos, f[0] == '!') << f << "\n" << text;
      }
    }
  }
  // What extract wrote: the safe entries in their folders (a two-letter one too), nothing else on the way.
  std::set<std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(dir / "out")) {
    const Bytes b = e.is_directory() ? bytes_of("/") : vxtest::read_file(e.path());
    tree.insert(e.path().lexically_relative(dir / "out").generic_string() + ":" + std::string(b.begin(), b.end()));
  }
  EXPECT_EQ(tree, (std::set<std::string>{"last.txt:last", "su:/", "su/deeper:/", "su/deeper/file.txt:deep",
                                         "top.txt:top"}));
  for (const fs::path& p : {dir / "escape.txt", dir / "escape2.txt"}) {
    EXPECT_FALSE(fs::exists(p)) << p;
  }
}

}  // namespace
