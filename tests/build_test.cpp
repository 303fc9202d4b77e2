// vxpack build end to end: the output is stub + archive and reads back
// through the installer's reader with the headers the files call for; times
// and reproducible builds; failures leave no output behind; a signature
// appended later is never read as entries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <sstream>

#include "tests/stub_image.h"
#include "tests/test_support.h"
#include "tools/vxpack/archive_view.h"
#include "tools/vxpack/build.h"
#include "tools/vxpack/commands.h"
#include "tools/vxpack/uninstaller.h"

namespace fs = std::filesystem;
using vxtest::Bytes;
using vxtest::bytes_of;

namespace {

const std::string kStub = vxtest::stub_image("stub end");

struct Built {
  int code;
  std::string out, err;
};

// A package folder of eight files (one empty, one noise, one larger than the
// window) and a stub beside it.
struct BuildDir {
  vxtest::TempDir dir;
  fs::path package = dir / "pkg";
  BuildDir() {
    put("FILE_ID.DIZ", bytes_of("Foo Tool Version 1.2\r\n"));
    put("foo.inf", bytes_of("ID=FOO\r\nGroup=Foo Tool\r\nExe=Foo.exe\r\n"));
    put("Foo_FR.LNG", bytes_of("[Strings]\r\nLanguage=Francais\r\n"));
    put("Foo.exe", vxtest::text_like_bytes(40000, 1));
    put("UnInst.exe", vxtest::text_like_bytes(9000, 2));
    put("empty.dat", {});
    put("noise.bin", vxtest::random_bytes(30000, 3));
    // Text, noise, then the text again from 900 KB back.
    Bytes big = vxtest::text_like_bytes(700000, 4);
    const Bytes gap = vxtest::random_bytes(200000, 5);
    big.insert(big.end(), gap.begin(), gap.end());
    big.insert(big.end(), big.begin(), big.begin() + 400000);
    put("data/big.dat", big);
    vxtest::write_file(dir / "stub.exe", bytes_of(kStub));
  }
  void put(const std::string& name, const Bytes& bytes) {
    fs::create_directories((package / name).parent_path());
    vxtest::write_file(package / name, bytes);
  }
  Built build(const std::string& out_name, vxpack::BuildOptions o) {
    o.folder = package;
    o.output = dir / out_name;
    if (o.stub.empty()) o.stub = dir / "stub.exe";
    std::ostringstream out, err;
    const int code = vxpack::run_build(o, out, err);
    return {code, out.str(), err.str()};
  }
};

vxpack::BuildOptions level(int m, bool solid = true) {
  vxpack::BuildOptions o;
  o.level = m;
  o.solid = solid;
  return o;
}

class BuildLevels : public ::testing::TestWithParam<std::pair<int, bool>> {};

TEST_P(BuildLevels, OutputReadsBackWithItsHeaders) {
  const auto [m, solid] = GetParam();
  BuildDir d;
  // A read-only file gets the read-only attribute.
  fs::permissions(d.package / "UnInst.exe", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const Built b = d.build("Setup.exe", level(m, solid));
  ASSERT_EQ(b.code, 0) << b.err;
  EXPECT_NE(b.out.find("8 files"), std::string::npos) << b.out;
  const Bytes setup = vxtest::read_file(d.dir / "Setup.exe");
  EXPECT_EQ(std::string(setup.begin(), setup.begin() + kStub.size()), kStub);
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe.partial"));

  vxpack::ArchiveInfo info;
  std::string error;
  ASSERT_TRUE(vxpack::read_archive_info(d.dir / "Setup.exe", &info, &error)) << error;
  EXPECT_EQ(info.offset, static_cast<int32_t>(kStub.size()));
  ASSERT_EQ(info.entries.size(), 8u);
  // The package's texts come first, in the order the installer reads them.
  EXPECT_EQ(info.entries[0].name + info.entries[1].name + info.entries[2].name, "FILE_ID.DIZfoo.infFoo_FR.LNG");
  bool chain_started = false;
  for (const auto& e : info.entries) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.host_os * 100 + e.unp_ver, 220);
    EXPECT_EQ(e.file_attr, e.name == "UnInst.exe" ? 0x21u : 0x20u);
    const bool stored = e.method == 0x30;
    const bool must_store = m == 0 || e.unp_size == 0 || e.name == "noise.bin";
    const bool must_shrink = m != 0 && (e.name == "Foo.exe" || e.name == "data\\big.dat");
    EXPECT_TRUE(stored ? !must_shrink && e.pack_size == e.unp_size : !must_store && e.method == 0x30 + m);
    EXPECT_TRUE(!must_shrink || e.pack_size < e.unp_size / 2);
    // The solid flag marks every compressed entry after the first.
    EXPECT_EQ((e.head_flags & 0x10) != 0, !stored && solid && chain_started);
    chain_started |= !stored;
  }
  std::ostringstream out, err;
  EXPECT_EQ(vxpack::run_test(d.dir / "Setup.exe", out, err), 0) << err.str();
  EXPECT_EQ(vxpack::run_extract(d.dir / "Setup.exe", d.dir / "out", out, err), 0) << err.str();
  EXPECT_EQ(vxtest::read_file(d.dir / "out" / "data" / "big.dat"), vxtest::read_file(d.package / "data" / "big.dat"));
}

INSTANTIATE_TEST_SUITE_P(Build, BuildLevels,
                         ::testing::Values(std::pair{0, true}, std::pair{1, true}, std::pair{vxpack::kDefaultLevel, true},
                                           std::pair{5, true}, std::pair{vxpack::kDefaultLevel, false}));

// MS-DOS times are local time, except in reproducible builds, which depend
// neither on the time zone nor on the files' times.
TEST(Build, TimesAndReproducibleOutput) {
  BuildDir d;
  const char* old_tz = std::getenv("TZ");
  const std::string saved_tz = old_tz ? old_tz : "";
  auto build_in = [&](const char* tz, const std::string& name, bool reproducible) {
#ifndef _WIN32
    setenv("TZ", tz, 1);
    tzset();
#endif
    vxpack::BuildOptions o = level(vxpack::kDefaultLevel);
    o.reproducible = reproducible;
    EXPECT_EQ(d.build(name, o).code, 0);
    return vxtest::read_file(d.dir / name);
  };
  auto first_time = [&](const std::string& name) {
    vxpack::ArchiveInfo info;
    std::string error;
    EXPECT_TRUE(vxpack::read_archive_info(d.dir / name, &info, &error)) << error;
    return info.entries.empty() ? 0u : info.entries[0].file_time;
  };
  const Bytes a = build_in("UTC0", "a.exe", true);
  fs::last_write_time(d.package / "Foo.exe", fs::last_write_time(d.package / "Foo.exe") - std::chrono::hours(50));
  EXPECT_EQ(build_in("XST-5", "b.exe", true), a);
#ifndef _WIN32
  build_in("UTC0", "utc.exe", false);
  build_in("XST-5", "east.exe", false);
  EXPECT_EQ((((first_time("utc.exe") >> 11) & 0x1F) + 5) % 24, (first_time("east.exe") >> 11) & 0x1F);
  setenv("SOURCE_DATE_EPOCH", "1704067200", 1);  // 2024-01-01 00:00:00 UTC
  build_in("XST-5", "epoch.exe", true);
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(first_time("epoch.exe"), (44u << 25) | (1u << 21) | (1u << 16));
  if (old_tz) setenv("TZ", saved_tz.c_str(), 1); else unsetenv("TZ");
  tzset();
#endif
}

// A stub that carries an archive marker of its own: the verify pass sees no
// entries of the package (a block too short ends the walk).
std::string marked_stub() {
  return vxtest::stub_image(std::string("Rar!\x1A\x07\x00", 7) + std::string("\0\0\x73\0\0\x0D\0\0\0\0\0\0", 13) +
                            std::string(7, '\0'));
}

// A build that fails before writing leaves an older output alone; one whose
// output does not read back removes it.
constexpr const char* kOlder = "an older build";

TEST(Build, FailuresLeaveNoOutputAndWarningsShowUnlessQuiet) {
  const struct Case {
    const char* what;
    std::function<void(BuildDir&, vxpack::BuildOptions&)> set_up;
    int code;
    const char* err;  // expected in standard error; "": nothing on either stream; nullptr: not checked
    const char* output;  // what Setup.exe holds after: the older build, a new one (""), or nothing (nullptr)
  } cases[] = {
      {"names that differ in case only", [](BuildDir& d, vxpack::BuildOptions&) {
         d.put("a/x.txt", bytes_of("1"));
         d.put("b/X.TXT", bytes_of("2"));
       }, vxpack::kExitPackageErrors, "error: b/X.TXT", kOlder},
      {"missing stub", [](BuildDir& d, vxpack::BuildOptions& o) { o.stub = d.dir / "no-such-stub.exe"; },
       vxpack::kExitNoArchive, "no-such-stub.exe", kOlder},
      {"output that does not read back", [](BuildDir& d, vxpack::BuildOptions& o) {
         vxtest::write_file(d.dir / "marked.exe", bytes_of(marked_stub()));
         o.stub = d.dir / "marked.exe";
       }, vxpack::kExitVerifyFailed, "verification failed", nullptr},
      {"no check, no failure", [](BuildDir& d, vxpack::BuildOptions& o) {
         vxtest::write_file(d.dir / "marked.exe", bytes_of(marked_stub()));
         o.stub = d.dir / "marked.exe";
         o.verify = false;
       }, 0, nullptr, ""},
      {"warning", [](BuildDir& d, vxpack::BuildOptions& o) {
         fs::remove(d.package / "UnInst.exe");
         o.uninstaller = false;
       }, 0, "warning: UnInst.exe: is missing", ""},
      {"quiet", [](BuildDir& d, vxpack::BuildOptions& o) {
         fs::remove(d.package / "UnInst.exe");
         o.uninstaller = false;
         o.quiet = true;
       }, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BuildDir d;
    vxtest::write_file(d.dir / "Setup.exe", bytes_of(kOlder));
    vxpack::BuildOptions o = level(vxpack::kDefaultLevel);
    c.set_up(d, o);
    const Built b = d.build("Setup.exe", o);
    EXPECT_EQ(b.code, c.code) << b.err;
    if (c.err) {
      EXPECT_TRUE(*c.err ? b.err.find(c.err) != std::string::npos : b.out + b.err == "") << b.out << b.err;
    }
    ASSERT_EQ(fs::exists(d.dir / "Setup.exe"), c.output != nullptr);
    const bool older_kept = c.output && vxtest::read_file(d.dir / "Setup.exe") == bytes_of(kOlder);
    EXPECT_EQ(older_kept, c.output && *c.output);
    EXPECT_FALSE(fs::exists(d.dir / "Setup.exe.partial"));
  }
  // Without --stub: the built-in stub, or the build asks for one.
  BuildDir d;
  vxpack::BuildOptions o = level(0);
  o.folder = d.package;
  o.output = d.dir / "Setup.exe";
  std::ostringstream out, err;
  const bool built_in = !vxpack::embedded_stub().empty();
  EXPECT_EQ(vxpack::run_build(o, out, err), built_in ? 0 : vxpack::kExitNoStub) << err.str();
  EXPECT_EQ(err.str().find("no stub built in; pass --stub PATH") != std::string::npos, !built_in);
  EXPECT_EQ(fs::exists(d.dir / "Setup.exe"), built_in);
}

// The package's own UnInst.exe wins; without one the standard uninstaller
// goes in (unless left out), carrying the list of what the installer writes.
TEST(Build, AddsTheStandardUninstallerWhenThePackageHasNone) {
  BuildDir d;
  EXPECT_NE(d.build("Own.exe", level(0)).out.find("uninstaller: the package's own UnInst.exe"), std::string::npos);
  fs::remove(d.package / "UnInst.exe");
  vxpack::BuildOptions o = level(0);
  o.uninstaller = false;
  EXPECT_NE(d.build("None.exe", o).out.find("uninstaller: none\n"), std::string::npos);
  if (vxpack::embedded_uninstaller().empty()) GTEST_SKIP() << "no uninstaller built in";
  const Built b = d.build("Setup.exe", level(2));
  ASSERT_EQ(b.code, 0) << b.err;
  EXPECT_NE(b.out.find("uninstaller: the standard UnInst.exe"), std::string::npos) << b.out;
  EXPECT_EQ(b.err.find("UnInst.exe"), std::string::npos) << b.err;
  std::ostringstream out, err;
  ASSERT_EQ(vxpack::run_extract(d.dir / "Setup.exe", d.dir / "out", out, err), 0) << err.str();
  ASSERT_EQ(vxpack::run_extract(d.dir / "out" / "UnInst.exe", d.dir / "list", out, err), 0) << err.str();
  const Bytes list = vxtest::read_file(d.dir / "list" / "UNINST.LST");
  EXPECT_EQ(std::string(list.begin(), list.end()),
            "ID=FOO\r\nGroup=Foo Tool\r\nExe=Foo.exe\r\nFile=FILE_ID.DIZ\r\nFile=Foo_FR.LNG\r\nFile=noise.bin\r\n"
            "File=empty.dat\r\nFile=big.dat\r\nFile=Foo.exe\r\nFile=UnInst.exe\r\n");
}

#if !defined(_WIN32) && defined(VX_TEST_PE_STUB)
TEST(Build, SignedOutputVerifiesAndReadsEveryEntry) {
  if (std::system("osslsigncode --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "osslsigncode missing";
  BuildDir d;
  vxpack::BuildOptions o = level(vxpack::kDefaultLevel);
  o.stub = VX_TEST_PE_STUB;
  ASSERT_EQ(d.build("Setup.exe", o).code, 0);
  const std::string in_dir = "cd '" + d.dir.path().string() + "' && ";
  ASSERT_EQ(std::system((in_dir + "openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
                                  "-subj '/CN=vxpack test' >/dev/null 2>&1 && "
                                  "osslsigncode sign -certs cert.pem -key key.pem -in Setup.exe -out Signed.exe "
                                  ">/dev/null 2>&1 && osslsigncode verify -CAfile cert.pem Signed.exe >verify.txt 2>&1")
                            .c_str()),
            0);
  EXPECT_GT(fs::file_size(d.dir / "Signed.exe"), fs::file_size(d.dir / "Setup.exe"));
  std::ostringstream out, err;
  EXPECT_EQ(vxpack::run_test(d.dir / "Signed.exe", out, err), 0) << err.str();
  EXPECT_NE(out.str().find("All 8 entries OK"), std::string::npos) << out.str();
}
#endif

}  // namespace
