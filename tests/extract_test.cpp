// The extraction driver: the callback protocol, the three sinks, the stored
// copy, checksum tests in both forms, deletion on a mismatch, result codes,
// times and attributes; and ByteBuffer's growth rule.
#include <gtest/gtest.h>

#include <ctime>

#include "archive/extract.h"
#include "packer/writer.h"
#include "tests/test_support.h"

using vxtest::Bytes;
using vxtest::narrow;
using vxtest::wide;

namespace {

// What a test callback does on its first call for each entry, and what it saw.
struct Recorder {
  enum Mode { kDrop, kMemory, kFile } mode = kMemory;
  std::filesystem::path folder;     // for kFile
  int stop_at = -1;                 // first-call index that ends the pass
  std::vector<std::string> first;   // names on first calls
  std::vector<Bytes> second;        // data on second calls (including the zero)
  std::vector<uint32_t> sizes;
};

int32_t record(WideChar* name, const uint8_t* data, uint32_t size, void* user) {
  auto* rec = static_cast<Recorder*>(user);
  if (data != nullptr) {
    rec->second.emplace_back(data, data + size + 1);
    return 0;
  }
  if (static_cast<int>(rec->first.size()) == rec->stop_at) return 1;
  rec->first.push_back(narrow(name));
  rec->sizes.push_back(size);
  switch (rec->mode) {
    case Recorder::kDrop: name[0] = 0; break;
    case Recorder::kMemory: name[0] = 1; break;
    case Recorder::kFile: {
      vxtest::WideString path = wide(rec->folder / narrow(name));
      copy_text(path.c_str(), name, kNameCapacity);
      break;
    }
  }
  return 0;
}

EntrySpec named(const std::string& name) {
  EntrySpec e;
  e.name = name;
  return e;
}

struct Archive {
  ArchiveWriter w;
  explicit Archive(ArchiveForm form = ArchiveForm::kMarked) { begin_archive(&w, form); }
  Archive& stored(const std::string& name, const std::string& text, EntrySpec header = {}) {
    header.name = name;
    Bytes data = vxtest::bytes_of(text);
    add_stored_entry(&w, header, data.data(), static_cast<uint32_t>(data.size()));
    return *this;
  }
  std::filesystem::path save(const vxtest::TempDir& dir, const std::string& file = "a.rar") {
    end_archive(&w);
    vxtest::write_file(dir / file, w.bytes);
    return dir / file;
  }
};

int run(const std::filesystem::path& archive, Recorder* rec) {
  return extract_archive(wide(archive).c_str(), record, rec);
}

TEST(ExtractCallback, DroppedEntriesAreReadThroughAndNothingIsWritten) {
  vxtest::TempDir dir;
  auto file = Archive().stored("a", "alpha").stored("b", "beta").save(dir);
  Recorder rec;
  rec.mode = Recorder::kDrop;
  EXPECT_EQ(run(file, &rec), kExtractOk);
  EXPECT_EQ(rec.first, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(rec.second.empty());
}

TEST(ExtractCallback, NonzeroResultEndsThePassWithSuccess) {
  vxtest::TempDir dir;
  auto file = Archive().stored("a", "1").stored("b", "2").stored("c", "3").stored("d", "4").save(dir);
  Recorder rec;
  rec.stop_at = 2;
  EXPECT_EQ(run(file, &rec), kExtractOk);
  EXPECT_EQ(rec.first.size(), 2u);
  EXPECT_EQ(rec.second.size(), 2u);
}

TEST(ExtractCallback, MemoryEntriesArriveWithATrailingZero) {
  vxtest::TempDir dir;
  auto file = Archive().stored("text", "hello").stored("empty", "").save(dir);
  Recorder rec;
  EXPECT_EQ(run(file, &rec), kExtractOk);
  ASSERT_EQ(rec.second.size(), 2u);
  EXPECT_EQ(rec.second[0], (Bytes{'h', 'e', 'l', 'l', 'o', 0}));
  EXPECT_EQ(rec.second[1], (Bytes{0}));
  EXPECT_EQ(rec.sizes, (std::vector<uint32_t>{5, 0}));
}

TEST(ExtractCallback, DirectoriesAndVolumeLabels) {
  vxtest::TempDir dir;
  EntrySpec folder;
  folder.head_flags = kFlagDirectoryMask;
  folder.file_attr = kAttrDirectory;
  EntrySpec label;
  label.file_attr = kAttrVolumeLabel;
  auto file = Archive().stored("folder", "", folder).stored("label", "", label).stored("file", "x").save(dir);
  Recorder rec;
  EXPECT_EQ(run(file, &rec), kExtractOk);
  // No callback for the directory; the label gets its first call only.
  EXPECT_EQ(rec.first, (std::vector<std::string>{"label", "file"}));
  ASSERT_EQ(rec.second.size(), 1u);
  EXPECT_EQ(rec.second[0][0], 'x');
}

TEST(ExtractResult, FirstEntryContinuedFromAVolumeRefusesTheArchive) {
  vxtest::TempDir dir;
  EntrySpec cont;
  cont.head_flags = kFlagContinuedFromPrevious;
  auto file = Archive().stored("part", "x", cont).save(dir);
  Recorder rec;
  EXPECT_EQ(run(file, &rec), kExtractNoArchive);
  EXPECT_TRUE(rec.first.empty());
  // The same flag on a later entry is not acted on.
  auto later = Archive().stored("a", "1").stored("part", "x", cont).save(dir, "b.rar");
  Recorder rec2;
  EXPECT_EQ(run(later, &rec2), kExtractOk);
  EXPECT_EQ(rec2.first.size(), 2u);
}

TEST(ExtractResult, MissingFileOrNoArchive) {
  vxtest::TempDir dir;
  Recorder rec;
  EXPECT_EQ(run(dir / "absent.exe", &rec), kExtractNoArchive);
  vxtest::write_file(dir / "plain.exe", Bytes(5000, 0x90));
  EXPECT_EQ(run(dir / "plain.exe", &rec), kExtractNoArchive);
}

TEST(ExtractSinks, StoredCopyStopsAtTheUnpackedSize) {
  vxtest::TempDir dir;
  Archive a;
  EntrySpec header = named("short");
  const Bytes packed = vxtest::bytes_of("abcdefgh");
  header.unp_size = 3;
  header.file_crc = entry_checksum(ArchiveForm::kMarked, packed.data(), 3);
  add_entry(&a.w, header, packed.data(), static_cast<uint32_t>(packed.size()));
  auto file = a.save(dir);
  Recorder rec;
  EXPECT_EQ(run(file, &rec), kExtractOk);
  ASSERT_EQ(rec.second.size(), 1u);
  EXPECT_EQ(rec.second[0], (Bytes{'a', 'b', 'c', 0}));
}

TEST(ExtractSinks, LargeStoredEntryThroughFileAndMemory) {
  vxtest::TempDir dir;
  const Bytes big = vxtest::random_bytes(3 * 32768 + 17, 7);
  Archive a;
  add_stored_entry(&a.w, named("big.bin"), big.data(), static_cast<uint32_t>(big.size()));
  auto file = a.save(dir);
  Recorder mem;
  EXPECT_EQ(run(file, &mem), kExtractOk);
  ASSERT_EQ(mem.second.size(), 1u);
  EXPECT_EQ(Bytes(mem.second[0].begin(), mem.second[0].end() - 1), big);
  Recorder out;
  out.mode = Recorder::kFile;
  out.folder = dir.path();
  EXPECT_EQ(run(file, &out), kExtractOk);
  EXPECT_EQ(vxtest::read_file(dir / "big.bin"), big);
}

TEST(ExtractSinks, OutputInAMissingFolderCannotBeCreated) {
  vxtest::TempDir dir;
  auto file = Archive().stored("a", "1").stored("b", "2").save(dir);
  Recorder rec;
  rec.mode = Recorder::kFile;
  rec.folder = dir / "missing";
  EXPECT_EQ(run(file, &rec), kExtractCannotCreate);
  EXPECT_EQ(rec.first.size(), 1u);
}

TEST(ExtractChecksum, MismatchDeletesTheOutputAndEndsThePass) {
  vxtest::TempDir dir;
  EntrySpec bad;
  bad.file_crc = 0;
  Archive a;
  Bytes good = vxtest::bytes_of("good");
  add_stored_entry(&a.w, named("good.txt"), good.data(), 4);
  EntrySpec header = named("bad.txt");
  header.unp_size = 4;
  header.file_crc = 0x12345678;
  add_entry(&a.w, header, good.data(), 4);
  add_stored_entry(&a.w, named("after.txt"), good.data(), 4);
  auto file = a.save(dir);
  Recorder rec;
  rec.mode = Recorder::kFile;
  rec.folder = dir.path();
  EXPECT_EQ(run(file, &rec), kExtractBadChecksum);
  EXPECT_TRUE(std::filesystem::exists(dir / "good.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "after.txt"));
  // A dropped entry is never tested, so the same archive passes without sinks.
  Recorder drop;
  drop.mode = Recorder::kDrop;
  EXPECT_EQ(run(file, &drop), kExtractOk);
  EXPECT_EQ(drop.first.size(), 3u);
}

TEST(ExtractChecksum, OldFormUsesTheSixteenBitSum) {
  vxtest::TempDir dir;
  Archive a(ArchiveForm::kOld);
  a.stored("abc", "abc");
  auto file = a.save(dir, "old.exe");
  Recorder rec;
  EXPECT_EQ(run(file, &rec), kExtractOk);
  ASSERT_EQ(rec.second.size(), 1u);
  // The sum of "abc" is 0x0556, stored as is; a CRC in its place fails.
  Bytes bytes = vxtest::read_file(file);
  Archive b(ArchiveForm::kOld);
  EntrySpec header = named("abc");
  header.unp_size = 3;
  header.file_crc = entry_checksum(ArchiveForm::kMarked, reinterpret_cast<const uint8_t*>("abc"), 3);
  add_entry(&b.w, header, reinterpret_cast<const uint8_t*>("abc"), 3);
  auto wrong = b.save(dir, "wrong.exe");
  Recorder rec2;
  EXPECT_EQ(run(wrong, &rec2), kExtractBadChecksum);
}

TEST(ExtractChecksum, ShortDataFailsEvenWhenTheSumMatches) {
  // Old form: the 16-bit sum of the four bytes present is stored, but the
  // header claims ten bytes. The entry must not pass as complete.
  vxtest::TempDir dir;
  Archive a(ArchiveForm::kOld);
  EntrySpec header = named("short.txt");
  const Bytes data = vxtest::bytes_of("abcd");
  header.unp_size = 10;
  header.file_crc = entry_checksum(ArchiveForm::kOld, data.data(), 4);
  add_entry(&a.w, header, data.data(), 4);
  auto file = a.save(dir, "short.exe");
  Recorder mem;
  EXPECT_EQ(run(file, &mem), kExtractBadChecksum);
  EXPECT_TRUE(mem.second.empty());
  Recorder out;
  out.mode = Recorder::kFile;
  out.folder = dir.path();
  EXPECT_EQ(run(file, &out), kExtractBadChecksum);
  EXPECT_FALSE(std::filesystem::exists(dir / "short.txt"));
}

TEST(ExtractChecksum, UndecodableEntriesFailOnlyWithASink) {
  vxtest::TempDir dir;
  Archive a;
  EntrySpec old = named("old15");
  old.unp_ver = 15;
  old.method = 0x33;
  old.unp_size = 4;
  old.file_crc = entry_checksum(ArchiveForm::kMarked, reinterpret_cast<const uint8_t*>("data"), 4);
  add_entry(&a.w, old, reinterpret_cast<const uint8_t*>("xxxx"), 4);
  auto file = a.save(dir);
  Recorder mem;
  EXPECT_EQ(run(file, &mem), kExtractBadChecksum);
  Recorder drop;
  drop.mode = Recorder::kDrop;
  EXPECT_EQ(run(file, &drop), kExtractOk);
  // A stored entry is copied whatever its version.
  Archive b;
  EntrySpec stored = named("s");
  stored.unp_ver = 10;
  Bytes data = vxtest::bytes_of("data");
  add_stored_entry(&b.w, stored, data.data(), 4);
  auto file2 = b.save(dir, "b.rar");
  Recorder rec;
  EXPECT_EQ(run(file2, &rec), kExtractOk);
}

TEST(ExtractChecksum, SizesOfTwoGigabytesAndMoreAreDamaged) {
  vxtest::TempDir dir;
  Archive a;
  EntrySpec huge = named("huge");
  huge.method = 0x33;
  huge.unp_size = 0x80000000u;
  add_entry(&a.w, huge, reinterpret_cast<const uint8_t*>("xxxx"), 4);
  auto file = a.save(dir);
  Recorder drop;
  drop.mode = Recorder::kDrop;
  EXPECT_EQ(run(file, &drop), kExtractBadChecksum);
  EXPECT_EQ(drop.first.size(), 1u);
}

TEST(ExtractedFiles, GetTheEntryTimeAndAttributes) {
  vxtest::TempDir dir;
  EntrySpec header;
  header.file_time = dos_time_from_parts(2021, 6, 15, 13, 45, 30);
  header.file_attr = kAttrArchive | kAttrReadOnly;
  EntrySpec plain;
  plain.file_time = dos_time_from_parts(1999, 12, 31, 23, 59, 58);
  auto file = Archive().stored("ro.txt", "read only", header).stored("rw.txt", "plain", plain).save(dir);
  Recorder rec;
  rec.mode = Recorder::kFile;
  rec.folder = dir.path();
  ASSERT_EQ(run(file, &rec), kExtractOk);

  auto local_time = [](const std::filesystem::path& p) {
    const auto ft = std::filesystem::last_write_time(p);
    const auto sys = std::chrono::file_clock::to_sys(ft);
    const std::time_t t = std::chrono::system_clock::to_time_t(sys);
    std::tm tm = *std::localtime(&t);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return std::string(buf);
  };
  EXPECT_EQ(local_time(dir / "ro.txt"), "2021-06-15 13:45:30");
  EXPECT_EQ(local_time(dir / "rw.txt"), "1999-12-31 23:59:58");
  const auto ro = std::filesystem::status(dir / "ro.txt").permissions();
  EXPECT_EQ(ro & std::filesystem::perms::owner_write, std::filesystem::perms::none);
  const auto rw = std::filesystem::status(dir / "rw.txt").permissions();
  EXPECT_NE(rw & std::filesystem::perms::owner_write, std::filesystem::perms::none);
}

TEST(MemoryBuffer, GrowthSteps) {
  ByteBuffer b;
  byte_buffer_init(&b);
  Bytes ten(10, 1), five_k(5000, 2);
  EXPECT_EQ(byte_buffer_append(&b, ten.data(), 10), 0);
  EXPECT_EQ(b.capacity, 4096u);
  EXPECT_EQ(byte_buffer_append(&b, five_k.data(), 5000), 0);
  EXPECT_EQ(b.capacity, 9096u);
  EXPECT_EQ(b.size, 5010u);
  EXPECT_EQ(byte_buffer_append(&b, nullptr, 0), 0);  // an empty append succeeds
  EXPECT_EQ(b.append_count, 3);
  byte_buffer_clear(&b);
  EXPECT_EQ(b.size, 0u);
  EXPECT_EQ(b.capacity, 9096u);
  byte_buffer_reset(&b);
  EXPECT_EQ(b.data.data, nullptr);
  EXPECT_EQ(b.capacity, 0u);
}

TEST(MemoryBuffer, LargeEntriesGrowGeometrically) {
  ByteBuffer b;
  byte_buffer_init(&b);
  Bytes piece(1000, 3);
  int grows = 0;
  uint32_t last = 0;
  for (int i = 0; i < 20000; ++i) {  // 20 MB in 1000-byte appends
    ASSERT_EQ(byte_buffer_append(&b, piece.data(), 1000), 0);
    if (b.capacity != last) ++grows, last = b.capacity;
  }
  EXPECT_EQ(b.size, 20000000u);
  EXPECT_LT(grows, 40);  // a fixed 4096-byte step would need almost 5000
  EXPECT_EQ(b.data.data[19999999], 3);
  byte_buffer_reset(&b);
}

}  // namespace
