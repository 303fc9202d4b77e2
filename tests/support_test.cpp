// Path text (the cut at the last separator, the name offset), the ANSI
// conversions and the file layer (existence probe, full path, folder trees).
#include <gtest/gtest.h>

#include "support/charset.h"
#include "support/files.h"
#include "support/text.h"
#include "tests/test_support.h"

using vxtest::narrow;
using vxtest::wide;

namespace {

TEST(PathText, CutAndNameOffset) {
  struct Case {
    const char* in;
    const char* out;
    int index;
  } cases[] = {{"C:\\dir\\file", "C:\\dir", 6}, {"C:\\dir", "C:\\", 3}, {"C:\\", "C:\\", 3},
               {"dir\\", "dir", 3},             {"plain", "", 0},      {"\\top", "", 0},
               {"X:/", "X:/", 3}};
  for (const Case& c : cases) {
    vxtest::WideString s = wide(std::filesystem::path(c.in));
    WideChar buf[32];
    copy_text(s.c_str(), buf, 32);
    EXPECT_EQ(cut_at_last_separator(buf), c.index) << c.in;
    EXPECT_EQ(narrow(buf), c.out) << c.in;
  }
  EXPECT_EQ(name_offset(VX_WIDE("a\\b/c.txt")), 4);
  EXPECT_EQ(name_offset(VX_WIDE("c.txt")), 0);
  EXPECT_EQ(name_offset(VX_WIDE("dir\\")), 4);
}

// Code page 1252 both ways (0xE4 is a-umlaut, 0x80 the euro sign), cut to
// the buffer and terminated.
TEST(AnsiText, ConversionsAreCutAndTerminated) {
  WideChar w[8];
  ansi_to_wide("uvwxyz", w, 4);
  EXPECT_EQ(narrow(w), "uvw");
  ansi_to_wide("\xE4\x80", w, 8);
  EXPECT_EQ(w[0], 0xE4);
  EXPECT_EQ(w[1], 0x20AC);
  char back[8];
  wide_to_ansi(w, back, 8);
  EXPECT_STREQ(back, "\xE4\x80");
  wide_to_ansi(VX_WIDE("abcdef"), back, 3);
  EXPECT_STREQ(back, "ab");
  EXPECT_TRUE(wide_fits_ansi(w));
  const WideChar cyrillic[] = {0x0416, 0};
  EXPECT_FALSE(wide_fits_ansi(cyrillic));
  copy_text(VX_WIDE("ab"), w, 8);
  append_ansi_as_wide("cdefghij", w, 8);
  EXPECT_EQ(narrow(w), "abcdefg");
}

TEST(FileLayer, ProbeFullPathAndFolderTrees) {
  vxtest::TempDir dir;
  EXPECT_EQ(path_missing(wide(dir.path()).c_str()), 0);
  EXPECT_EQ(path_missing(wide(dir / "absent").c_str()), -1);

  // Only the first level exists: both missing levels are created.
  const auto deep = dir / "a" / "b";
  EXPECT_EQ(create_folder_tree(wide(deep).c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  // An existing folder counts as a failure (2), as the installer expects.
  EXPECT_EQ(create_folder_tree(wide(deep).c_str()), 2);
  // A file in the way of a parent: the parent cannot be made.
  vxtest::write_file(dir / "file", vxtest::bytes_of("x"));
  EXPECT_NE(create_folder_tree(wide(dir / "file" / "sub").c_str()), 0);

  WideChar rel[260];
  copy_text(VX_WIDE("relative.txt"), rel, 260);
  full_path(rel);
  EXPECT_EQ(std::filesystem::path(narrow(rel)), std::filesystem::current_path() / "relative.txt");
}

}  // namespace
