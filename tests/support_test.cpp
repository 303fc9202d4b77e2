// The bounded text operations at their edges, the ANSI conversions and the
// file layer (existence probe, full path, folder trees).
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
    vxtest::WideString s = wide(std::string(c.in));
    WideChar buf[32];
    copy_text(s.c_str(), buf, 32);
    EXPECT_EQ(cut_at_last_separator(buf), c.index) << c.in;
    EXPECT_EQ(narrow(buf), c.out) << c.in;
  }
  EXPECT_EQ(name_offset(VX_WIDE("a\\b/c.txt")), 4);
  EXPECT_EQ(name_offset(VX_WIDE("c.txt")), 0);
  EXPECT_EQ(name_offset(VX_WIDE("dir\\")), 4);
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
