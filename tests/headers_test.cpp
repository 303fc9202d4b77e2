// Locating the archive (at offset 0, behind an image, old signature form) and
// the block walk: sub-blocks, unknown types, short and bogus headers, long names.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/checksum.h"
#include "archive/memory.h"
#include "archive/reader.h"
#include "packer/writer.h"
#include "support/files.h"
#include "tests/test_support.h"

using vxtest::Bytes;
using vxtest::wide;

namespace {

// A reader opened on a file, released at the end of the test.
class OpenReader {
 public:
  explicit OpenReader(const std::filesystem::path& file) {
    block_ = alloc_zeroed(sizeof(ArchiveReader));
    r = reinterpret_cast<ArchiveReader*>(block_.data);
    init_crc_table(r);
    path_ = wide(file);
    r->archive_file = open_archive_file(path_.c_str(), 1);
  }
  ~OpenReader() {
    close_stream(r->archive_file);
    release(&block_);
  }
  ArchiveReader* r;

 private:
  OwnedBlock block_;
  vxtest::WideString path_;
};

EntrySpec entry(const std::string& name) {
  EntrySpec e;
  e.name = name;
  return e;
}

Bytes archive_with(const std::vector<std::string>& names, std::size_t image = 0,
                   ArchiveForm form = ArchiveForm::kMarked, uint16_t main_flags = 0) {
  ArchiveWriter w;
  w.bytes.assign(image, 0x90);  // an "image" of NOPs, no 'R' bytes
  begin_archive(&w, form, main_flags);
  for (const auto& n : names) {
    Bytes data = vxtest::bytes_of("data of " + n);
    add_stored_entry(&w, entry(n), data.data(), static_cast<uint32_t>(data.size()));
  }
  end_archive(&w);
  return w.bytes;
}

TEST(FindArchive, PlainArchiveAndVolumeBit) {
  vxtest::TempDir dir;
  vxtest::write_file(dir / "a.rar", archive_with({"x"}));
  vxtest::write_file(dir / "v.rar", archive_with({"x"}, 0, ArchiveForm::kMarked, kMainVolume));
  OpenReader a(dir / "a.rar");
  EXPECT_EQ(find_archive(a.r), kLocationPlain);
  EXPECT_EQ(a.r->archive_format, kFormatMarked);
  EXPECT_FALSE(a.r->main_header_damaged);
  EXPECT_EQ(std::ftell(a.r->archive_file), 7 + 13);
  OpenReader v(dir / "v.rar");
  EXPECT_EQ(find_archive(v.r), kLocationVolume);
}

TEST(FindArchive, ScanFindsArchiveBehindImage) {
  vxtest::TempDir dir;
  vxtest::write_file(dir / "setup.exe", archive_with({"x"}, 123392));
  OpenReader r(dir / "setup.exe");
  EXPECT_EQ(find_archive(r.r), kLocationAppended);
  EXPECT_EQ(r.r->archive_offset, 123392);
  EXPECT_EQ(r.r->archive_format, kFormatMarked);
  EXPECT_EQ(std::memcmp(r.r->marker, kMarker, 7), 0);
}

TEST(FindArchive, ScanLimitIsByteOffset249996) {
  vxtest::TempDir dir;
  vxtest::write_file(dir / "in.exe", archive_with({"x"}, 249996));
  vxtest::write_file(dir / "out.exe", archive_with({"x"}, 249997));
  OpenReader in(dir / "in.exe");
  EXPECT_EQ(find_archive(in.r), kLocationAppended);
  EXPECT_EQ(in.r->archive_offset, 249996);
  OpenReader out(dir / "out.exe");
  EXPECT_EQ(find_archive(out.r), kLocationNone);
}

TEST(FindArchive, DecoysArePassedOver) {
  vxtest::TempDir dir;
  Bytes bytes(4000, 0x90);
  // A marker whose main header type byte is not 0x73.
  std::memcpy(&bytes[100], kMarker, 7);
  bytes[109] = 0x74;
  // The old signature without "RSFX" at offsets 28..31.
  std::memcpy(&bytes[300], kOldSignature, 4);
  Bytes tail = archive_with({"real"});
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  vxtest::write_file(dir / "decoy.exe", bytes);
  OpenReader r(dir / "decoy.exe");
  EXPECT_EQ(find_archive(r.r), kLocationAppended);
  EXPECT_EQ(r.r->archive_offset, 4000);
}

TEST(FindArchive, OldSignatureForm) {
  vxtest::TempDir dir;
  vxtest::write_file(dir / "old.exe", archive_with({"x"}, 600, ArchiveForm::kOld));
  OpenReader r(dir / "old.exe");
  EXPECT_EQ(find_archive(r.r), kLocationAppended);
  EXPECT_EQ(r.r->archive_format, kFormatOld);
  EXPECT_EQ(r.r->archive_offset, 600);
  EXPECT_EQ(r.r->main_header.head_size, 13);
}

TEST(FindArchive, ShortFilesHoldNoArchive) {
  vxtest::TempDir dir;
  vxtest::write_file(dir / "six", Bytes(kMarker, kMarker + 6));
  OpenReader six(dir / "six");
  EXPECT_EQ(find_archive(six.r), kLocationNone);
  // The marker with a main header cut short.
  Bytes cut = archive_with({});
  cut.resize(7 + 10);
  vxtest::write_file(dir / "cut", cut);
  OpenReader c(dir / "cut");
  EXPECT_EQ(find_archive(c.r), kLocationNone);
}

TEST(Checksums, KnownValues) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(~crc32_of(0xFFFFFFFFu, digits, 9), 0xCBF43926u);
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(checksum16_update(0, abc, 3), 0x0556u);
  // The sum continues from the low 16 bits only.
  EXPECT_EQ(checksum16_update(0x10000, abc, 3), 0x0556u);
}

// Walks all entries, recording names and stop types.
std::vector<std::string> walk(ArchiveReader* r) {
  std::vector<std::string> seen;
  std::fseek(r->archive_file, r->main_header.head_size - r->main_header_read, SEEK_CUR);
  for (;;) {
    const int n = read_block(r, 0x8000 | kBlockFile);
    if (n <= 0) break;
    if (r->block.head_type == kBlockSub) {
      seen.push_back("<sub>");
      std::fseek(r->archive_file, r->next_block, SEEK_SET);
      continue;
    }
    seen.push_back(r->entry_name);
    std::fseek(r->archive_file, r->next_block, SEEK_SET);
  }
  return seen;
}

TEST(ReadBlock, SubBlocksAndUnknownTypes) {
  vxtest::TempDir dir;
  ArchiveWriter w;
  begin_archive(&w, ArchiveForm::kMarked);
  Bytes one = vxtest::bytes_of("1");
  add_stored_entry(&w, entry("first"), one.data(), 1);
  add_raw_block(&w, 0x75, 0, {1, 2, 3});       // unknown type with a plain body
  // A long block: bit 0x8000 with 5 data bytes behind the 11-byte header.
  add_raw_block(&w, 0x79, 0x8000, {5, 0, 0, 0});
  w.bytes.insert(w.bytes.end(), 5, 0xEE);
  add_raw_block(&w, kBlockSub, 0, {9, 9});
  add_stored_entry(&w, entry("second/inner\\name"), one.data(), 1);
  end_archive(&w);
  vxtest::write_file(dir / "a.rar", w.bytes);

  OpenReader r(dir / "a.rar");
  ASSERT_EQ(find_archive(r.r), kLocationPlain);
  EXPECT_EQ(walk(r.r), (std::vector<std::string>{"first", "<sub>", "second\\inner\\name"}));
}

TEST(ReadBlock, SubBlockKeepsThePreviousEntry) {
  vxtest::TempDir dir;
  ArchiveWriter w;
  begin_archive(&w, ArchiveForm::kMarked);
  Bytes one = vxtest::bytes_of("1");
  add_stored_entry(&w, entry("first"), one.data(), 1);
  const std::size_t sub_at = w.bytes.size();
  add_raw_block(&w, kBlockSub, 0, {1, 2, 3});
  add_stored_entry(&w, entry("second"), one.data(), 1);
  vxtest::write_file(dir / "a.rar", w.bytes);

  OpenReader r(dir / "a.rar");
  ASSERT_EQ(find_archive(r.r), kLocationPlain);
  ASSERT_GT(read_block(r.r, 0x8074), 0);
  std::fseek(r.r->archive_file, r.r->next_block, SEEK_SET);
  EXPECT_GT(read_block(r.r, 0x8074), 0);
  EXPECT_EQ(r.r->block.head_type, kBlockSub);
  EXPECT_EQ(std::string(r.r->entry_name), "first");
  EXPECT_EQ(r.r->entry.head_type, kBlockFile);
  EXPECT_EQ(r.r->entry.unp_size, 1u);
  EXPECT_EQ(std::ftell(r.r->archive_file), static_cast<long>(sub_at));
  EXPECT_EQ(r.r->next_block, static_cast<int32_t>(sub_at + 10));
  // Without the sub-block bit in the request the walk passes over it.
  EXPECT_GT(read_block(r.r, kBlockFile), 0);
  EXPECT_EQ(std::string(r.r->entry_name), "second");
}

TEST(ReadBlock, HeadSizeBelowSevenEndsTheWalk) {
  for (int size = 0; size < 7; ++size) {
    vxtest::TempDir dir;
    Bytes bytes = archive_with({"a", "b"});
    // Patch the second entry's head_size (offset 5 of its header).
    const std::size_t first = 7 + 13;
    const std::size_t first_size = 32 + 1 + std::strlen("data of a");
    bytes[first + first_size + 5] = static_cast<uint8_t>(size);
    bytes[first + first_size + 6] = 0;
    vxtest::write_file(dir / "a.rar", bytes);
    OpenReader r(dir / "a.rar");
    ASSERT_EQ(find_archive(r.r), kLocationPlain);
    EXPECT_EQ(walk(r.r), std::vector<std::string>{"a"}) << "head_size " << size;
  }
}

TEST(ReadBlock, LongNameIsCutAndMarkedDamaged) {
  vxtest::TempDir dir;
  const std::string name(300, 'n');
  vxtest::write_file(dir / "a.rar", archive_with({name, "next"}));
  OpenReader r(dir / "a.rar");
  ASSERT_EQ(find_archive(r.r), kLocationPlain);
  std::fseek(r.r->archive_file, 0, SEEK_CUR);
  EXPECT_EQ(read_block(r.r, 0x8074), 32 + 259);
  EXPECT_EQ(std::string(r.r->entry_name), name.substr(0, 259));
  EXPECT_EQ(r.r->entry.name_size, 259);
  EXPECT_TRUE(r.r->entry_header_damaged);
  // The data is found from the end of the block, so the walk goes on.
  std::fseek(r.r->archive_file, r.r->next_block, SEEK_SET);
  EXPECT_GT(read_block(r.r, 0x8074), 0);
  EXPECT_EQ(std::string(r.r->entry_name), "next");
  EXPECT_FALSE(r.r->entry_header_damaged);
}

TEST(EntryNormalising, HostsAndSeparators) {
  ArchiveReader* r = reinterpret_cast<ArchiveReader*>(alloc_zeroed(sizeof(ArchiveReader)).data);
  OwnedBlock own{reinterpret_cast<uint8_t*>(r)};
  r->entry.host_os = 5;
  r->entry.head_flags = kFlagDirectoryMask;
  r->entry.file_attr = 0x01;
  std::strcpy(r->entry_name, "a/b\\c");
  normalise_entry(r);
  EXPECT_EQ(r->entry.host_os, 0);
  EXPECT_EQ(r->entry.file_attr, kAttrDirectory);
  EXPECT_STREQ(r->entry_name, "a\\b\\c");

  r->entry.host_os = 3;  // Unix keeps its host; attributes come from the mapping
  r->entry.head_flags = 0;
  r->entry.file_attr = 0x81A4;
  normalise_entry(r);
  EXPECT_EQ(r->entry.host_os, 3);
  map_entry_attributes(r);
  EXPECT_EQ(r->entry.file_attr, kAttrArchive);

  r->entry.host_os = 2;
  r->entry.file_attr = 0x21;
  map_entry_attributes(r);
  EXPECT_EQ(r->entry.file_attr, 0x21u);
  release(&own);
}

}  // namespace
