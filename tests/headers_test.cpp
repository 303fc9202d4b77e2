// Locating the archive (at offset 0, behind an image, old signature form) and
// the block walk: other block types, sub-blocks, long names, attributes, and
// where the walk ends or finds damage.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/checksum.h"
#include "archive/reader.h"
#include "packer/writer.h"
#include "support/files.h"
#include "tests/test_support.h"

using vxtest::Bytes;

namespace {

// A reader opened on bytes written to a file, released at the end.
class OpenReader {
 public:
  explicit OpenReader(const Bytes& bytes) {
    vxtest::write_file(dir_ / "a.rar", bytes);
    block_ = alloc_zeroed(sizeof(ArchiveReader));
    r = reinterpret_cast<ArchiveReader*>(block_.data);
    init_crc_table(r);
    r->archive_file = open_archive_file(vxtest::wide(dir_ / "a.rar").c_str(), 1);
  }
  ~OpenReader() {
    close_stream(r->archive_file);
    release(&block_);
  }
  // Names of the entries the walk yields; "!" for damage.
  std::vector<std::string> walk() {
    std::vector<std::string> seen;
    if (begin_walk(r) != 0) seen.push_back("!");
    int n;
    while ((n = next_entry(r)) > 0) seen.push_back(r->entry_name);
    if (n < 0) seen.push_back("!");
    return seen;
  }
  ArchiveReader* r;

 private:
  vxtest::TempDir dir_;
  OwnedBlock block_;
};

Bytes archive_with(const std::vector<std::string>& names, std::size_t image = 0,
                   ArchiveForm form = ArchiveForm::kMarked, uint16_t flags = 0) {
  vxtest::Archive a(form, image, flags);
  for (const auto& n : names) a.stored(n, n.substr(0, 1));
  return a.finish();
}

TEST(FindArchive, Locations) {
  Bytes decoys(4000, 0x90);
  std::memcpy(&decoys[100], kMarker, 7);  // its main header type byte is not 0x73
  decoys[109] = 0x74;
  std::memcpy(&decoys[300], kOldSignature, 4);  // no "RSFX" at offsets 28..31
  const Bytes tail = archive_with({"x"});
  decoys.insert(decoys.end(), tail.begin(), tail.end());
  Bytes cut = archive_with({});
  cut.resize(7 + 10);
  const Bytes scan_cut = archive_with({}, 100), old_cut = archive_with({}, 600, ArchiveForm::kOld);
  struct Case {
    const char* what;
    Bytes bytes;
    int32_t location, offset;
    uint32_t format;
  } cases[] = {
      {"plain", archive_with({"x"}), kLocationPlain, 0, kFormatMarked},
      {"volume", archive_with({"x"}, 0, ArchiveForm::kMarked, kMainVolume), kLocationVolume, 0, kFormatMarked},
      {"behind an image", archive_with({"x"}, 123392), kLocationAppended, 123392, kFormatMarked},
      {"last offset the scan sees", archive_with({"x"}, 249996), kLocationAppended, 249996, kFormatMarked},
      {"beyond the scan", archive_with({"x"}, 249997), kLocationNone, 0, kFormatMarked},
      {"old signature form", archive_with({"x"}, 600, ArchiveForm::kOld), kLocationAppended, 600, kFormatOld},
      {"decoys first", decoys, kLocationAppended, 4000, kFormatMarked},
      {"six bytes", Bytes(kMarker, kMarker + 6), kLocationNone, 0, kFormatNone},
      {"main header cut short", cut, kLocationNone, 0, kFormatMarked},
      {"main header behind an image cut short", Bytes(scan_cut.begin(), scan_cut.begin() + 117), kLocationNone, 0,
       kFormatMarked},
      {"old form main header cut short", Bytes(old_cut.begin(), old_cut.begin() + 610), kLocationNone, 0, kFormatOld},
  };
  for (const Case& c : cases) {
    OpenReader o(c.bytes);
    EXPECT_EQ(find_archive(o.r), c.location) << c.what;
    if (c.location == kLocationNone) continue;
    EXPECT_EQ(o.r->archive_offset, c.offset) << c.what;
    EXPECT_EQ(o.r->archive_format, c.format) << c.what;
    EXPECT_EQ(o.walk(), std::vector<std::string>{"x"}) << c.what;
  }
}

TEST(Checksums, KnownValues) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(entry_checksum(ArchiveForm::kMarked, digits, 9), 0xCBF43926u);
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(checksum16_update(0x10000, abc, 3), 0x0556u);  // continues from the low 16 bits
  // Long runs (folded 64 bytes a step where the processor can) equal the
  // bit-by-bit definition at any alignment and tail length.
  const Bytes data = vxtest::random_bytes(70000, 3);
  OpenReader o({});
  for (uint32_t n : {255u, 256u, 319u, 4111u, 65599u}) {
    for (uint32_t at : {0u, 1u, 7u}) {
      uint32_t crc = 0x12345678u;
      for (uint32_t i = 0; i < n; ++i) {
        crc ^= data[at + i];
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
      }
      EXPECT_EQ(crc32_update(o.r, 0x12345678u, data.data() + at, n), crc) << n << " at " << at;
    }
  }
}

TEST(ReadBlock, OtherBlocksSubBlocksNamesAndAttributes) {
  vxtest::Archive a;
  ArchiveWriter& w = a.w;
  EntrySpec other_host = vxtest::entry_header("a/b\\c", kAttrReadOnly, kFlagDirectoryMask);
  other_host.host_os = 5;
  add_entry(&w, other_host, nullptr, 0);
  a.stored("first", "1");
  add_raw_block(&w, 0x75, 0, {1, 2, 3});          // unknown type with a plain body
  add_raw_block(&w, 0x79, 0x8000, {5, 0, 0, 0});  // 5 data bytes behind the header
  w.bytes.insert(w.bytes.end(), 5, 0xEE);
  const std::size_t sub_at = w.bytes.size();
  add_raw_block(&w, kBlockSub, 0, {9, 9});
  EntrySpec unix_host = vxtest::entry_header("", 0x81A5);
  unix_host.host_os = 3;
  a.stored("second/inner\\" + std::string(300, 'n'), "1", unix_host);

  OpenReader o(a.finish());
  ASSERT_EQ(find_archive(o.r), kLocationPlain);
  // Name, host and attributes as the walk gives them: unknown hosts become
  // MS-DOS, other hosts' attributes plain files, '/' becomes '\'.
  std::vector<std::string> seen;
  ASSERT_EQ(begin_walk(o.r), 0);
  while (next_entry(o.r) > 0) {
    seen.push_back(std::string(o.r->entry_name) + " " + std::to_string(o.r->entry.host_os) + " " +
                   std::to_string(o.r->entry.file_attr));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"a\\b\\c 0 16", "first 2 32",
                                            "second\\inner\\" + std::string(246, 'n') + " 3 32"}));
  EXPECT_EQ(o.r->entry.name_size, kMaxNameBytes);
  EXPECT_FALSE(o.r->entry_header_damaged);  // the checksum covers the whole name

  // Asked to stop at sub-blocks, the walk reports one with the previous entry kept.
  std::fseek(o.r->archive_file, static_cast<long>(sub_at), SEEK_SET);
  EXPECT_GT(read_block(o.r, 0x8000 | kBlockFile), 0);
  EXPECT_EQ(o.r->block.head_type, kBlockSub);
  EXPECT_EQ(o.r->entry.head_type, kBlockFile);
  EXPECT_EQ(std::ftell(o.r->archive_file), static_cast<long>(sub_at));
  EXPECT_EQ(o.r->next_block, static_cast<int32_t>(sub_at + 9));
}

// Where the walk ends, and where it finds damage, with and without the end mark.
TEST(ReadBlock, EndAndDamage) {
  const Bytes marked = archive_with({"a", "b"});
  const std::size_t second = 7 + 13 + 33 + 1;  // behind the main header and entry "a"
  const Bytes old = archive_with({"a", "b"}, 0, ArchiveForm::kOld);
  const std::size_t old_second = 32 + 13 + 33 + 1;
  auto patched = [](Bytes b, std::size_t at, std::vector<uint8_t> v) {
    return std::copy(v.begin(), v.end(), b.begin() + static_cast<long>(at)), b;
  };
  auto cut = [](Bytes b, std::size_t size) { return b.resize(size), b; };
  Bytes signed_later = marked;  // a code signature appended behind the end blocks
  const Bytes signature = vxtest::random_bytes(300, 1);
  signed_later.insert(signed_later.end(), signature.begin(), signature.end());
  vxtest::Archive unsummed;  // an end block without the archive checksum, as written before it
  add_raw_block(&unsummed.w, kBlockEnd, 0x4000, {});
  unsummed.w.bytes.insert(unsummed.w.bytes.end(), 7, 0);
  const std::vector<std::string> both{"a", "b"}, first{"a"}, damaged{"a", "!"};
  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<std::string> seen;
  } cases[] = {
      {"marked, whole", marked, both},
      {"marked, signed later", signed_later, both},
      {"marked, no archive checksum", unsummed.w.bytes, {}},
      {"marked, cut at a block boundary", cut(marked, second), damaged},
      {"marked, a changed entry name", patched(marked, second + 32, {'c'}), {"a", "c"}},
      {"marked, a changed main header", patched(marked, 7 + 9, {1}), {"!", "a", "b"}},
      {"old form, whole", old, both},
      {"old form, cut at a block boundary", cut(old, old_second), first},
      {"old form, head_size below 7", patched(old, old_second + 5, {6, 0}), first},
      {"old form, main head_size below 13", patched(old, 32 + 5, {12, 0}), {"!", "a", "b"}},
      {"old form, cut inside a header", cut(old, old_second + 20), damaged},
      {"old form, cut inside a name", cut(old, old_second + 32), damaged},
      {"old form, an empty name cut inside its header",
       cut(patched(patched(old, old_second + 5, {32, 0}), old_second + 26, {0, 0}), old_second + 30), damaged},
      {"old form, directory with data, no data-size flag", patched(old, old_second + 3, {0xE0, 0}), damaged},
      {"old form, packed size past 2 GiB", patched(old, old_second + 7, {0xF0, 0xFF, 0xFF, 0x7F}), damaged},
      {"old form, head_size below what the name needs", patched(old, old_second + 5, {32, 0}), damaged},
  };
  for (const Case& c : cases) {
    OpenReader o(c.bytes);
    ASSERT_NE(find_archive(o.r), kLocationNone) << c.what;
    EXPECT_EQ(o.walk(), c.seen) << c.what;
  }
}

}  // namespace
