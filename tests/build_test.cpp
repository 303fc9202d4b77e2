// vxpack build end to end: the output is stub + archive and reads back
// through the installer's reader; headers carry what the files say; builds
// are reproducible; failures leave nothing behind; a signed output still
// reads every entry and nothing more.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

#include "archive/extract.h"
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

struct BuildDir {
  vxtest::TempDir dir;
  fs::path package = dir / "pkg";
  BuildDir() {
    fs::create_directories(package);
    put("FILE_ID.DIZ", bytes_of("Foo Tool Version 1.2\r\n"));
    put("foo.inf", bytes_of("ID=FOO\r\nGroup=Foo Tool\r\nExe=Foo.exe\r\n"));
    put("Foo_FR.LNG", bytes_of("[Strings]\r\nLanguage=Francais\r\n"));
    put("Foo.exe", vxtest::text_like_bytes(40000, 1));
    put("UnInst.exe", vxtest::text_like_bytes(9000, 2));
    put("empty.dat", {});
    put("noise.bin", vxtest::random_bytes(30000, 3));
    // Larger than the window: text with noise between its repeats.
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
  fs::permissions(d.package / "UnInst.exe", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const Built b = d.build("Setup.exe", level(m, solid));
  ASSERT_EQ(b.code, 0) << b.err;
  EXPECT_NE(b.out.find("8 files"), std::string::npos) << b.out;
  const Bytes setup = vxtest::read_file(d.dir / "Setup.exe");
  ASSERT_GT(setup.size(), kStub.size());
  EXPECT_EQ(std::string(setup.begin(), setup.begin() + kStub.size()), kStub);
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe.partial"));

  vxpack::ArchiveInfo info;
  std::string error;
  ASSERT_TRUE(vxpack::read_archive_info(d.dir / "Setup.exe", &info, &error)) << error;
  EXPECT_EQ(info.offset, static_cast<int32_t>(kStub.size()));
  ASSERT_EQ(info.entries.size(), 8u);
  EXPECT_EQ(info.entries[0].name, "FILE_ID.DIZ");
  EXPECT_EQ(info.entries[1].name, "foo.inf");
  EXPECT_EQ(info.entries[2].name, "Foo_FR.LNG");
  bool chain_started = false;
  for (const auto& e : info.entries) {
    EXPECT_EQ(e.host_os, 2) << e.name;
    EXPECT_EQ(e.unp_ver, 20) << e.name;
    EXPECT_EQ(e.file_attr, e.name == "UnInst.exe" ? 0x21u : 0x20u) << e.name;
    const bool stored = e.method == 0x30;
    if (m == 0 || e.unp_size == 0 || e.name == "noise.bin") {
      EXPECT_TRUE(stored) << e.name;
      EXPECT_EQ(e.pack_size, e.unp_size) << e.name;
    } else if (e.name == "Foo.exe" || e.name == "data\\big.dat") {
      EXPECT_EQ(e.method, 0x30 + m) << e.name;
      EXPECT_LT(e.pack_size, e.unp_size / 2) << e.name;
    }
    if (!stored) {
      // The solid flag marks every compressed entry after the first.
      EXPECT_EQ((e.head_flags & 0x10) != 0, solid && chain_started) << e.name;
      chain_started = true;
    } else {
      EXPECT_EQ(e.head_flags & 0x10, 0) << e.name;
    }
  }
  std::ostringstream out, err;
  EXPECT_EQ(vxpack::run_test(d.dir / "Setup.exe", out, err), 0) << err.str();
  EXPECT_NE(out.str().find("All 8 entries OK"), std::string::npos);
  // Extracted files are the package's files.
  EXPECT_EQ(vxpack::run_extract(d.dir / "Setup.exe", d.dir / "out", out, err), 0) << err.str();
  EXPECT_EQ(vxtest::read_file(d.dir / "out" / "data" / "big.dat"), vxtest::read_file(d.package / "data" / "big.dat"));
  EXPECT_EQ(vxtest::read_file(d.dir / "out" / "Foo.exe"), vxtest::read_file(d.package / "Foo.exe"));
}

INSTANTIATE_TEST_SUITE_P(Build, BuildLevels,
                         ::testing::Values(std::pair{0, true}, std::pair{1, true}, std::pair{vxpack::kDefaultLevel, true},
                                           std::pair{5, true}, std::pair{vxpack::kDefaultLevel, false}));

TEST(Build, ReproducibleOutputIsByteIdentical) {
  BuildDir d;
  vxpack::BuildOptions o = level(vxpack::kDefaultLevel);
  o.reproducible = true;
  ASSERT_EQ(d.build("a.exe", o).code, 0);
  // A different modification time must not matter in a reproducible build.
  fs::last_write_time(d.package / "Foo.exe", fs::last_write_time(d.package / "Foo.exe") - std::chrono::hours(50));
  ASSERT_EQ(d.build("b.exe", o).code, 0);
  EXPECT_EQ(vxtest::read_file(d.dir / "a.exe"), vxtest::read_file(d.dir / "b.exe"));
}

#ifndef _WIN32
// MS-DOS times are local time, except in reproducible builds, which must
// not depend on the machine's time zone.
TEST(Build, TimesFollowTheTimeZoneUnlessReproducible) {
  BuildDir d;
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  auto build_in = [&](const char* tz, const std::string& name, bool reproducible) {
    setenv("TZ", tz, 1);
    tzset();
    vxpack::BuildOptions o = level(0);
    o.reproducible = reproducible;
    EXPECT_EQ(d.build(name, o).code, 0);
    return vxtest::read_file(d.dir / name);
  };
  const Bytes utc = build_in("UTC0", "utc.exe", false);
  const Bytes east = build_in("XST-5", "east.exe", false);
  EXPECT_NE(utc, east);
  vxpack::ArchiveInfo a, b;
  std::string error;
  ASSERT_TRUE(vxpack::read_archive_info(d.dir / "utc.exe", &a, &error));
  ASSERT_TRUE(vxpack::read_archive_info(d.dir / "east.exe", &b, &error));
  const uint32_t hours_a = (a.entries[0].file_time >> 11) & 0x1F, hours_b = (b.entries[0].file_time >> 11) & 0x1F;
  EXPECT_EQ((hours_a + 5) % 24, hours_b);
  setenv("SOURCE_DATE_EPOCH", "1704067200", 1);  // 2024-01-01 00:00:00 UTC
  EXPECT_EQ(build_in("UTC0", "r1.exe", true), build_in("XST-5", "r2.exe", true));
  unsetenv("SOURCE_DATE_EPOCH");
  ASSERT_TRUE(vxpack::read_archive_info(d.dir / "r1.exe", &a, &error));
  EXPECT_EQ(a.entries[0].file_time, (44u << 25) | (1u << 21) | (1u << 16));
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}
#endif

TEST(Build, FailuresWriteNothing) {
  BuildDir d;
  d.put("a/x.txt", bytes_of("1"));
  d.put("b/X.TXT", bytes_of("2"));
  Built b = d.build("Setup.exe", level(0));
  EXPECT_EQ(b.code, vxpack::kExitPackageErrors);
  EXPECT_NE(b.err.find("error: b/X.TXT"), std::string::npos) << b.err;
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe"));
  fs::remove(d.package / "b" / "X.TXT");

  vxpack::BuildOptions o = level(0);
  o.stub = d.dir / "no-such-stub.exe";
  EXPECT_EQ(d.build("Setup.exe", o).code, vxpack::kExitNoArchive);
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe"));

  // Without --stub the built-in stub is used, or the build asks for one.
  o.stub.clear();
  o.folder = d.package;
  o.output = d.dir / "Setup.exe";
  std::ostringstream out, err;
  const int code = vxpack::run_build(o, out, err);
  if (vxpack::embedded_stub().empty()) {
    EXPECT_EQ(code, vxpack::kExitNoStub);
    EXPECT_NE(err.str().find("no stub built in; pass --stub PATH"), std::string::npos);
    EXPECT_FALSE(fs::exists(d.dir / "Setup.exe"));
  } else {
    EXPECT_EQ(code, 0) << err.str();
  }
}

// A stub that carries an archive marker of its own hides the package from
// the reader: the verify pass sees no entries, and the output is removed,
// also an older output of the same name.
TEST(Build, OutputThatDoesNotReadBackIsRemoved) {
  BuildDir d;
  const std::string stub = vxtest::stub_image(std::string("Rar!\x1A\x07\x00", 7) +
                                               std::string("\0\0\x73\0\0\x0D\0\0\0\0\0\0", 13) +
                                               std::string(7, '\0'));  // a block too short: the walk ends there
  vxtest::write_file(d.dir / "marked-stub.exe", bytes_of(stub));
  vxtest::write_file(d.dir / "Setup.exe", bytes_of("an older build"));
  vxpack::BuildOptions o = level(vxpack::kDefaultLevel);
  o.stub = d.dir / "marked-stub.exe";
  const Built b = d.build("Setup.exe", o);
  EXPECT_EQ(b.code, vxpack::kExitVerifyFailed);
  EXPECT_NE(b.err.find("verification failed"), std::string::npos) << b.err;
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe"));
  EXPECT_FALSE(fs::exists(d.dir / "Setup.exe.partial"));
  o.verify = false;
  EXPECT_EQ(d.build("Setup.exe", o).code, 0);
  EXPECT_TRUE(fs::exists(d.dir / "Setup.exe"));
}

TEST(Build, WarningsAreShownUnlessQuiet) {
  BuildDir d;
  fs::remove(d.package / "UnInst.exe");
  vxpack::BuildOptions o = level(0);
  o.uninstaller = false;
  Built b = d.build("Setup.exe", o);
  EXPECT_EQ(b.code, 0);
  EXPECT_NE(b.err.find("warning: UnInst.exe: is missing"), std::string::npos) << b.err;
  vxpack::BuildOptions q = level(0);
  q.quiet = true;
  b = d.build("Setup.exe", q);
  EXPECT_EQ(b.code, 0);
  EXPECT_EQ(b.err, "");
  EXPECT_EQ(b.out, "");
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
// A signature appended behind the archive is never read as entries.
TEST(Build, SignedOutputVerifiesAndReadsEveryEntry) {
  if (std::system("osslsigncode --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "osslsigncode missing";
  BuildDir d;
  vxpack::BuildOptions o = level(vxpack::kDefaultLevel);
  o.stub = VX_TEST_PE_STUB;
  ASSERT_EQ(d.build("Setup.exe", o).code, 0);
  const std::string dir = d.dir.path().string();
  const std::string make_cert = "cd '" + dir +
                                "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
                                "-subj '/CN=vxpack test' >/dev/null 2>&1";
  ASSERT_EQ(std::system(make_cert.c_str()), 0);
  const std::string sign = "cd '" + dir +
                           "' && osslsigncode sign -certs cert.pem -key key.pem -in Setup.exe -out Signed.exe "
                           ">/dev/null 2>&1 && osslsigncode verify -CAfile cert.pem Signed.exe >verify.txt 2>&1";
  ASSERT_EQ(std::system(sign.c_str()), 0);
  const Bytes signed_exe = vxtest::read_file(d.dir / "Signed.exe");
  EXPECT_GT(signed_exe.size(), vxtest::read_file(d.dir / "Setup.exe").size());
  std::ostringstream out, err;
  EXPECT_EQ(vxpack::run_test(d.dir / "Signed.exe", out, err), 0) << err.str();
  EXPECT_NE(out.str().find("All 8 entries OK"), std::string::npos) << out.str();
}
#endif

}  // namespace
