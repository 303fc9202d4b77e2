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

TEST(BoundedText, ResultsAndContentAtTheEdges) {
  enum Op { kAppend, kCopy, kJoin, kSeparator };
  const struct {
    Op op;
    const char* before;
    const char* text;  // nullptr: a missing text
    int capacity;
    int result;
    const char* after;
  } cases[] = {
      {kAppend, "", "abc", 3, kTextTruncated, "ab"},
      {kAppend, "", "abc", 4, kTextOk, "abc"},
      // A full buffer refuses even an empty text and stays as it was.
      {kAppend, "abc", "", 4, kTextNoRoom, "abc"},
      {kAppend, "abc", "d", 4, kTextNoRoom, "abc"},
      // Capacity 0 or a missing text: 0 and nothing changed.
      {kAppend, "abc", "x", 0, kTextOk, "abc"},
      {kAppend, "abc", nullptr, 8, kTextOk, "abc"},
      // A copy empties the buffer first.
      {kCopy, "xy", "abcdef", 4, kTextTruncated, "abc"},
      {kCopy, "xy", nullptr, 4, kTextOk, ""},
      {kSeparator, "C:\\dir/", nullptr, 16, kTextOk, "C:\\dir/"},
      {kSeparator, "C:", nullptr, 16, kTextOk, "C:\\"},
      {kSeparator, "", nullptr, 16, kTextOk, ""},
      {kSeparator, "abc", nullptr, 4, kTextNoRoom, "abc"},
      {kJoin, "C:\\dir\\", "\\x", 16, kTextOk, "C:\\dir\\x"},
      {kJoin, "C:\\dir", "x", 16, kTextOk, "C:\\dir\\x"},
      {kJoin, "C:\\dir", "", 16, kTextOk, "C:\\dir"},
      {kJoin, "", "name", 16, kTextOk, "name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.before) + " + " + (c.text ? c.text : "(none)"));
    WideChar buf[16] = {};
    const vxtest::WideString before = wide(std::string(c.before)), text = wide(std::string(c.text ? c.text : ""));
    std::copy(before.begin(), before.end(), buf);
    const WideChar* t = c.text ? text.c_str() : nullptr;
    const int result = c.op == kAppend ? append_text(t, buf, c.capacity)
                       : c.op == kCopy ? copy_text(t, buf, c.capacity)
                       : c.op == kJoin ? join_path(t, buf, c.capacity)
                                       : add_separator(buf, c.capacity);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(narrow(buf), c.after);
  }
  EXPECT_EQ(append_text(VX_WIDE("x"), nullptr, 8), kTextOk);
  char narrow_buf[4] = "ab";
  EXPECT_EQ(append_narrow("cd", narrow_buf, 4), kTextTruncated);
  EXPECT_STREQ(narrow_buf, "abc");
}

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

TEST(AnsiText, ConversionsAreCutAndTerminated) {
  WideChar buf[4];
  ansi_to_wide("uvwxyz", buf, 4);
  EXPECT_EQ(narrow(buf), "uvw");
  // Code page 1252: 0xE4 is a-umlaut, 0x80 the euro sign.
  WideChar w[8];
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

  WideChar joined[8];
  copy_text(VX_WIDE("ab"), joined, 8);
  append_ansi_as_wide("cdefghij", joined, 8);
  EXPECT_EQ(narrow(joined), "abcdefg");
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
