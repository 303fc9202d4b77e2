// vxpack list, test and extract on archives and setup executables built by
// the writer, including damaged archives and names that try to leave the
// output folder.
#include <gtest/gtest.h>

#include <sstream>

#include "packer/writer.h"
#include "tests/test_support.h"
#include "tools/vxpack/commands.h"

using vxtest::Bytes;

namespace {

std::filesystem::path setup_exe(const vxtest::TempDir& dir, const std::vector<std::pair<std::string, std::string>>& files,
                                std::size_t image = 70000, ArchiveForm form = ArchiveForm::kMarked) {
  ArchiveWriter w;
  w.bytes.assign(image, 0);
  w.bytes[0] = 'M';
  w.bytes[1] = 'Z';
  begin_archive(&w, form);
  for (const auto& [name, text] : files) {
    EntrySpec e;
    e.name = name;
    e.file_time = dos_time_from_parts(2020, 2, 29, 12, 0, 0);
    Bytes data = vxtest::bytes_of(text);
    add_stored_entry(&w, e, data.data(), static_cast<uint32_t>(data.size()));
  }
  end_archive(&w);
  vxtest::write_file(dir / "Setup.exe", w.bytes);
  return dir / "Setup.exe";
}

struct Outcome {
  int code;
  std::string out, err;
};

template <typename F>
Outcome capture(F f) {
  std::ostringstream out, err;
  const int code = f(out, err);
  return {code, out.str(), err.str()};
}

TEST(VxpackList, ShowsLocationAndEntries) {
  vxtest::TempDir dir;
  auto exe = setup_exe(dir, {{"FILE_ID.DIZ", "Foo Tool Version 1.2"}, {"bin\\Foo.exe", "MZ program"}});
  Outcome r = capture([&](auto& o, auto& e) { return vxpack::run_list(exe, o, e); });
  EXPECT_EQ(r.code, vxpack::kExitOk) << r.err;
  EXPECT_NE(r.out.find("behind a program image at offset 70000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("marked form"), std::string::npos);
  EXPECT_NE(r.out.find("FILE_ID.DIZ"), std::string::npos);
  EXPECT_NE(r.out.find("bin\\Foo.exe"), std::string::npos);
  EXPECT_NE(r.out.find("2020-02-29 12:00:00"), std::string::npos);
  EXPECT_NE(r.out.find("2 entries"), std::string::npos);
  EXPECT_EQ(r.out.find("damaged"), std::string::npos);
}

TEST(VxpackList, MarksDamageAndOldForm) {
  vxtest::TempDir dir;
  auto exe = setup_exe(dir, {{"a.txt", "alpha"}, {"b.txt", "beta"}}, 1000);
  Bytes bytes = vxtest::read_file(exe);
  bytes[1000 + 7 + 13 + 32] ^= 0x20;  // first name byte: 'a' becomes 'A'
  bytes.resize(bytes.size() - 14);    // the end blocks are gone
  vxtest::write_file(exe, bytes);
  Outcome r = capture([&](auto& o, auto& e) { return vxpack::run_list(exe, o, e); });
  EXPECT_EQ(r.code, vxpack::kExitDamaged);
  EXPECT_NE(r.out.find("A.txt [header checksum damaged]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("b.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("damaged behind entry 2"), std::string::npos) << r.err;

  auto old = setup_exe(dir, {{"a.txt", "alpha"}}, 1000, ArchiveForm::kOld);
  Outcome o = capture([&](auto& out, auto& e) { return vxpack::run_list(old, out, e); });
  EXPECT_EQ(o.code, vxpack::kExitOk);
  EXPECT_NE(o.out.find("old signature form"), std::string::npos) << o.out;
}

TEST(VxpackTest, ReportsEveryEntryAndTheFailure) {
  vxtest::TempDir dir;
  auto exe = setup_exe(dir, {{"one.txt", "first"}, {"two.txt", "second"}});
  Outcome ok = capture([&](auto& o, auto& e) { return vxpack::run_test(exe, o, e); });
  EXPECT_EQ(ok.code, vxpack::kExitOk) << ok.err;
  EXPECT_NE(ok.out.find("OK      two.txt"), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find("All 2 entries OK"), std::string::npos);

  Bytes bytes = vxtest::read_file(exe);
  bytes[bytes.size() - 14 - 6] ^= 1;  // a byte of "second"
  vxtest::write_file(exe, bytes);
  Outcome bad = capture([&](auto& o, auto& e) { return vxpack::run_test(exe, o, e); });
  EXPECT_EQ(bad.code, vxpack::kExitDamaged);
  EXPECT_NE(bad.out.find("FAILED  two.txt"), std::string::npos) << bad.out;
  EXPECT_NE(bad.err.find("damaged"), std::string::npos) << bad.err;
  // Cut at an entry boundary: both entries pass, then the end is missing.
  bytes[bytes.size() - 14 - 6] ^= 1;
  bytes.resize(bytes.size() - 14);
  vxtest::write_file(exe, bytes);
  Outcome cut = capture([&](auto& o, auto& e) { return vxpack::run_test(exe, o, e); });
  EXPECT_EQ(cut.code, vxpack::kExitDamaged);
  EXPECT_EQ(cut.out.find("FAILED"), std::string::npos) << cut.out;

  Outcome missing = capture([&](auto& o, auto& e) { return vxpack::run_test(dir / "nope.exe", o, e); });
  EXPECT_EQ(missing.code, vxpack::kExitNoArchive);
  EXPECT_NE(missing.err.find("no such file"), std::string::npos);
  vxtest::write_file(dir / "plain.exe", Bytes(3000, 'x'));
  Outcome none = capture([&](auto& o, auto& e) { return vxpack::run_list(dir / "plain.exe", o, e); });
  EXPECT_EQ(none.code, vxpack::kExitNoArchive);
  EXPECT_NE(none.err.find("no archive found"), std::string::npos);
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
  Outcome r = capture([&](auto& o, auto& e) { return vxpack::run_extract(exe, out, o, e); });
  EXPECT_EQ(r.code, vxpack::kExitUnsafeName);
  EXPECT_EQ(vxtest::read_file(out / "top.txt"), vxtest::bytes_of("top"));
  EXPECT_EQ(vxtest::read_file(out / "sub" / "deeper" / "file.txt"), vxtest::bytes_of("deep"));
  EXPECT_EQ(vxtest::read_file(out / "last.txt"), vxtest::bytes_of("last"));
  EXPECT_FALSE(std::filesystem::exists(dir / "escape.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "escape2.txt"));
  EXPECT_FALSE(std::filesystem::exists(out / "rooted.txt"));
  EXPECT_NE(r.err.find("refusing entry \"..\\escape.txt\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("C:\\windows\\evil.dll"), std::string::npos);
  EXPECT_NE(r.err.find("4 entries were not extracted"), std::string::npos);
}

}  // namespace
