// vxpack list, test and extract on archives and setup executables built by
// the writer, including damaged archives and names that try to leave the
// output folder.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/test_support.h"
#include "tools/vxpack/commands.h"

using vxtest::Bytes;

namespace {

// A setup executable: files stored behind a program image.
std::filesystem::path setup_exe(const vxtest::TempDir& dir, const std::vector<std::pair<std::string, std::string>>& files,
                                std::size_t image = 70000, ArchiveForm form = ArchiveForm::kMarked) {
  vxtest::Archive a(form, image);
  a.w.bytes[0] = 'M';
  a.w.bytes[1] = 'Z';
  EntrySpec e;
  e.file_time = dos_time_from_parts(2020, 2, 29, 12, 0, 0);
  for (const auto& [name, text] : files) a.stored(name, text, e);
  return a.save(dir, "Setup.exe");
}

struct Outcome {
  int code;
  std::string out, err;
};

Outcome run(int (*command)(const std::filesystem::path&, std::ostream&, std::ostream&),
            const std::filesystem::path& file) {
  std::ostringstream out, err;
  const int code = command(file, out, err);
  return {code, out.str(), err.str()};
}

TEST(VxpackList, ShowsLocationEntriesDamageAndOldForm) {
  vxtest::TempDir dir;
  auto exe = setup_exe(dir, {{"FILE_ID.DIZ", "Foo Tool Version 1.2"}, {"bin\\Foo.exe", "MZ program"}});
  Outcome r = run(vxpack::run_list, exe);
  EXPECT_EQ(r.code, vxpack::kExitOk) << r.err;
  for (const char* shown : {"behind a program image at offset 70000", "marked form", "FILE_ID.DIZ", "bin\\Foo.exe",
                            "2020-02-29 12:00:00", "2 entries"}) {
    EXPECT_NE(r.out.find(shown), std::string::npos) << shown << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("damaged"), std::string::npos);

  exe = setup_exe(dir, {{"a.txt", "alpha"}, {"b.txt", "beta"}}, 1000);
  Bytes bytes = vxtest::read_file(exe);
  bytes[1000 + 7 + 13 + 32] ^= 0x20;  // first name byte: 'a' becomes 'A'
  bytes.resize(bytes.size() - 14);    // the end blocks are gone
  vxtest::write_file(exe, bytes);
  r = run(vxpack::run_list, exe);
  EXPECT_EQ(r.code, vxpack::kExitDamaged);
  EXPECT_NE(r.out.find("A.txt [header checksum damaged]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("b.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("damaged behind entry 2"), std::string::npos) << r.err;

  r = run(vxpack::run_list, setup_exe(dir, {{"a.txt", "alpha"}}, 1000, ArchiveForm::kOld));
  EXPECT_EQ(r.code, vxpack::kExitOk);
  EXPECT_NE(r.out.find("old signature form"), std::string::npos) << r.out;
}

TEST(VxpackTest, ReportsEveryEntryAndTheFailure) {
  vxtest::TempDir dir;
  auto exe = setup_exe(dir, {{"one.txt", "first"}, {"two.txt", "second"}});
  Outcome r = run(vxpack::run_test, exe);
  EXPECT_EQ(r.code, vxpack::kExitOk) << r.err;
  EXPECT_NE(r.out.find("OK      two.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("All 2 entries OK"), std::string::npos);

  Bytes bytes = vxtest::read_file(exe);
  bytes[bytes.size() - 14 - 6] ^= 1;  // a byte of "second"
  vxtest::write_file(exe, bytes);
  r = run(vxpack::run_test, exe);
  EXPECT_EQ(r.code, vxpack::kExitDamaged);
  EXPECT_NE(r.out.find("FAILED  two.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
  // Cut at an entry boundary: both entries pass, then the end is missing.
  bytes[bytes.size() - 14 - 6] ^= 1;
  bytes.resize(bytes.size() - 14);
  vxtest::write_file(exe, bytes);
  r = run(vxpack::run_test, exe);
  EXPECT_EQ(r.code, vxpack::kExitDamaged);
  EXPECT_EQ(r.out.find("FAILED"), std::string::npos) << r.out;

  r = run(vxpack::run_test, dir / "nope.exe");
  EXPECT_EQ(r.code, vxpack::kExitNoArchive);
  EXPECT_NE(r.err.find("no such file"), std::string::npos);
  vxtest::write_file(dir / "plain.exe", Bytes(3000, 'x'));
  r = run(vxpack::run_list, dir / "plain.exe");
  EXPECT_EQ(r.code, vxpack::kExitNoArchive);
  EXPECT_NE(r.err.find("no archive found"), std::string::npos);
}

TEST(VxpackExtract, KeepsFoldersAndStaysInsideTheOutputFolder) {
  vxtest::TempDir dir;
  auto exe = setup_exe(dir, {{"top.txt", "top"},
                             {"sub/deeper/file.txt", "deep"},
                             {"..\\escape.txt", "evil"},
                             {"sub\\..\\..\\escape2.txt", "evil"},
                             {"C:\\windows\\evil.dll", "evil"},
                             {"\\rooted.txt", "evil"},
                             {"last.txt", "last"}});
  const auto out = dir / "out";
  std::ostringstream o, e;
  EXPECT_EQ(vxpack::run_extract(exe, out, o, e), vxpack::kExitUnsafeName);
  EXPECT_EQ(vxtest::read_file(out / "top.txt"), vxtest::bytes_of("top"));
  EXPECT_EQ(vxtest::read_file(out / "sub" / "deeper" / "file.txt"), vxtest::bytes_of("deep"));
  EXPECT_EQ(vxtest::read_file(out / "last.txt"), vxtest::bytes_of("last"));
  EXPECT_FALSE(std::filesystem::exists(dir / "escape.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "escape2.txt"));
  EXPECT_FALSE(std::filesystem::exists(out / "rooted.txt"));
  EXPECT_NE(e.str().find("refusing entry \"..\\escape.txt\""), std::string::npos) << e.str();
  EXPECT_NE(e.str().find("C:\\windows\\evil.dll"), std::string::npos);
  EXPECT_NE(e.str().find("4 entries were not extracted"), std::string::npos);
}

}  // namespace
