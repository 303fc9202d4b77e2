// The extraction driver: the callback protocol, the sinks, checksum and size
// tests, times and attributes, ByteBuffer's growth; and the property that no
// cut and no changed byte of a written archive passes as sound.
#include <gtest/gtest.h>

#include <ctime>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "archive/checksum.h"
#include "archive/extract.h"
#include "packer/pack20_codes.h"
#include "tests/test_support.h"

using vxtest::Archive;
using vxtest::Bytes;
using vxtest::entry_header;

namespace {

// Takes every entry into memory (or drops it, or writes it into folder) and
// records what the callback saw.
struct Recorder {
  enum Mode { kDrop, kMemory, kFile } mode = kMemory;
  std::filesystem::path folder;
  int stop_at = -1;                // first-call index that ends the pass
  std::vector<std::string> first;  // names on first calls
  std::vector<Bytes> second;       // data on second calls, with the zero behind
};

int32_t record(WideChar* name, const uint8_t* data, uint32_t size, void* user) {
  auto* rec = static_cast<Recorder*>(user);
  if (data != nullptr) {
    rec->second.emplace_back(data, data + size + 1);
    return 0;
  }
  if (static_cast<int>(rec->first.size()) == rec->stop_at) return 1;
  rec->first.push_back(vxtest::narrow(name));
  if (rec->mode == Recorder::kDrop) name[0] = 0;
  if (rec->mode == Recorder::kMemory) name[0] = 1;
  if (rec->mode == Recorder::kFile) copy_text(vxtest::wide(rec->folder / rec->first.back()).c_str(), name, kNameCapacity);
  return 0;
}

struct PackerOwner {
  Packer* p = create_packer(1);
  ~PackerOwner() { destroy_packer(p); }
};

// The packed stream of five literals "hello" and symbol 256, whose code is all
// zero bits: once the input is exhausted the decoder idles out after 5 bytes.
Bytes idling_stream() {
  const std::string text = "hello";
  uint32_t freq[kTableLengths] = {};
  for (const char c : text) freq[static_cast<uint8_t>(c)] += 1;
  freq[256] = 100;
  pack20::BlockCode code{};
  pack20::build_code_lengths(freq, kMainSymbols, 15, code.lengths);
  pack20::finish_block_code(&code);
  Bytes out;
  pack20::BitWriter bits{&out};
  const uint8_t previous[kTableLengths] = {};
  pack20::write_table(&bits, code.lengths, previous);
  for (const char c : text) bits.put(code.codes[static_cast<uint8_t>(c)], code.lengths[static_cast<uint8_t>(c)]);
  bits.put(code.codes[256], code.lengths[256]);
  bits.finish();
  return out;
}

int run(const std::filesystem::path& archive, Recorder* rec) {
  return extract_archive(vxtest::wide(archive).c_str(), record, rec);
}

TEST(ExtractCallback, SinksStopsDirectoriesAndLabels) {
  vxtest::TempDir dir;
  auto file = Archive()
                  .stored("folder", "", entry_header("folder", kAttrDirectory, kFlagDirectoryMask))
                  .stored("label", "", entry_header("label", kAttrVolumeLabel))
                  .stored("text", "hello")
                  .stored("empty", "")
                  .save(dir);
  Recorder mem;
  EXPECT_EQ(run(file, &mem), kExtractOk);
  // No callback for the directory; the label gets its first call only.
  EXPECT_EQ(mem.first, (std::vector<std::string>{"label", "text", "empty"}));
  EXPECT_EQ(mem.second, (std::vector<Bytes>{{'h', 'e', 'l', 'l', 'o', 0}, {0}}));
  Recorder drop;
  drop.mode = Recorder::kDrop;
  EXPECT_EQ(run(file, &drop), kExtractOk);
  EXPECT_EQ(drop.first.size(), 3u);
  EXPECT_TRUE(drop.second.empty());
  Recorder stop;
  stop.stop_at = 2;  // a nonzero result ends the pass, with success
  EXPECT_EQ(run(file, &stop), kExtractOk);
  EXPECT_EQ(stop.second.size(), 1u);
}

TEST(ExtractResult, NoArchiveContinuedVolumeAndMissingFolder) {
  vxtest::TempDir dir;
  Recorder rec;
  EXPECT_EQ(run(dir / "absent.exe", &rec), kExtractNoArchive);
  vxtest::write_file(dir / "plain.exe", Bytes(5000, 0x90));
  EXPECT_EQ(run(dir / "plain.exe", &rec), kExtractNoArchive);
  EntrySpec cont = entry_header("part", kAttrArchive, kFlagContinuedFromPrevious);
  EXPECT_EQ(run(Archive().stored("part", "x", cont).save(dir, "c.rar"), &rec), kExtractNoArchive);
  EXPECT_TRUE(rec.first.empty());
  // The same flag on a later entry is not acted on.
  EXPECT_EQ(run(Archive().stored("a", "1").stored("part", "x", cont).save(dir, "d.rar"), &rec), kExtractOk);
  Recorder out;
  out.mode = Recorder::kFile;
  out.folder = dir / "missing";
  EXPECT_EQ(run(Archive().stored("a", "1").stored("b", "2").save(dir, "e.rar"), &out), kExtractCannotCreate);
  EXPECT_EQ(out.first.size(), 1u);
}

TEST(ExtractSinks, LargeStoredEntryThroughFileAndMemoryWithTimeAndAttributes) {
  vxtest::TempDir dir;
  const Bytes big = vxtest::random_bytes(3 * 32768 + 17, 7);
  Archive a;
  EntrySpec ro = entry_header("big.bin", kAttrArchive | kAttrReadOnly);
  ro.file_time = dos_time_from_parts(2021, 6, 15, 13, 45, 30);
  add_stored_entry(&a.w, ro, big.data(), static_cast<uint32_t>(big.size()));
  // A stored entry whose packed data is longer than its size gives only its size.
  EntrySpec cut = entry_header("cut.txt");
  cut.unp_size = 3;
  cut.file_crc = entry_checksum(ArchiveForm::kMarked, reinterpret_cast<const uint8_t*>("abc"), 3);
  add_entry(&a.w, cut, reinterpret_cast<const uint8_t*>("abcdefgh"), 8);
  auto file = a.save(dir);
  Recorder mem;
  EXPECT_EQ(run(file, &mem), kExtractOk);
  ASSERT_EQ(mem.second.size(), 2u);
  EXPECT_EQ(Bytes(mem.second[0].begin(), mem.second[0].end() - 1), big);
  EXPECT_EQ(mem.second[1], (Bytes{'a', 'b', 'c', 0}));
  Recorder out;
  out.mode = Recorder::kFile;
  out.folder = dir.path();
  ASSERT_EQ(run(file, &out), kExtractOk);
  EXPECT_EQ(vxtest::read_file(dir / "big.bin"), big);
  const auto sys = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(dir / "big.bin"));
  const std::time_t t = std::chrono::system_clock::to_time_t(sys);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
  EXPECT_STREQ(when, "2021-06-15 13:45:30");
  const auto perms = [&](const char* n) { return std::filesystem::status(dir / n).permissions(); };
  EXPECT_EQ(perms("big.bin") & std::filesystem::perms::owner_write, std::filesystem::perms::none);
  EXPECT_NE(perms("cut.txt") & std::filesystem::perms::owner_write, std::filesystem::perms::none);
}

#ifndef _WIN32
// A memory entry that the buffer cannot hold ends the pass with result 1 and
// is never handed back: 40 MB of zeros with the address space capped 16 MB
// above what is in use.
TEST(ExtractSinks, MemoryThatCannotGrowEndsThePass) {
  PackerOwner packer;
  Archive a;
  a.packed(packer.p, entry_header("zeros"), Bytes(40u << 20, 0), false);
  vxtest::TempDir dir;
  const auto file = a.save(dir);
  long pages = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  ASSERT_TRUE(statm != nullptr && std::fscanf(statm, "%ld", &pages) == 1);
  std::fclose(statm);
  rlimit saved{};
  getrlimit(RLIMIT_AS, &saved);
  rlimit cap = saved;
  cap.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (16u << 20);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &cap), 0);
  Recorder rec;
  const int result = run(file, &rec);
  setrlimit(RLIMIT_AS, &saved);
  EXPECT_EQ(result, kExtractNoReader);
  EXPECT_TRUE(rec.second.empty());
}
#endif

TEST(ExtractChecksum, MismatchDeletesTheOutputAndEndsThePass) {
  vxtest::TempDir dir;
  Archive a;
  a.stored("good.txt", "good");
  EntrySpec bad = entry_header("bad.txt");
  bad.unp_size = 4;
  bad.file_crc = 0x12345678;
  add_entry(&a.w, bad, reinterpret_cast<const uint8_t*>("good"), 4);
  auto file = a.stored("after.txt", "good").save(dir);
  Recorder rec;
  rec.mode = Recorder::kFile;
  rec.folder = dir.path();
  EXPECT_EQ(run(file, &rec), kExtractBadChecksum);
  EXPECT_TRUE(std::filesystem::exists(dir / "good.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "after.txt"));
  // A dropped entry is never tested.
  Recorder drop;
  drop.mode = Recorder::kDrop;
  EXPECT_EQ(run(file, &drop), kExtractOk);
}

// Entries whose outcome depends on the form, the version needed, the size
// field or the bytes delivered; each holds "hello" in one of three bodies.
TEST(ExtractChecksum, EntryOutcomes) {
  PackerOwner packer;
  const Bytes hello = vxtest::bytes_of("hello");
  Bytes packed;
  bool continued = false;
  pack_entry(packer.p, hello.data(), 5, false, &packed, &continued);
  const Bytes idling = idling_stream();
  const ArchiveForm kOld = ArchiveForm::kOld, kMarked = ArchiveForm::kMarked;
  struct Case {
    const char* what;
    ArchiveForm form;
    const Bytes& body;
    uint8_t unp_ver;
    uint32_t unp_size;
    ArchiveForm checksum;  // the form whose checksum of "hello" the header holds
    int expected;
  } cases[] = {
      {"old form: the 16-bit sum", kOld, hello, 20, 5, kOld, kExtractOk},
      {"old form: a CRC where the sum belongs", kOld, hello, 20, 5, kMarked, kExtractBadChecksum},
      {"old form: five bytes with their sum, ten declared", kOld, hello, 20, 10, kOld, kExtractBadChecksum},
      {"stored with version 10 is copied", kMarked, hello, 10, 5, kMarked, kExtractOk},
      {"compressed with version 15 is not decoded", kMarked, packed, 15, 5, kMarked, kExtractBadChecksum},
      {"compressed with version 21 is decoded", kMarked, packed, 21, 5, kMarked, kExtractOk},
      {"a size of 2 GiB cannot be decoded", kMarked, packed, 20, 0x80000000u, kMarked, kExtractBadChecksum},
      {"idles out after five bytes, 100000 declared", kMarked, idling, 20, 100000, kMarked, kExtractBadChecksum},
  };
  vxtest::TempDir dir;
  for (const Case& c : cases) {
    Archive a(c.form);
    EntrySpec e = entry_header("e");
    e.unp_ver = c.unp_ver;
    e.method = &c.body == &hello ? kMethodStored : pack_method(1);
    e.unp_size = c.unp_size;
    e.file_crc = entry_checksum(c.checksum, hello.data(), 5);
    add_entry(&a.w, e, c.body.data(), static_cast<uint32_t>(c.body.size()));
    Recorder rec;
    const int result = run(a.save(dir, "case.rar"), &rec);
    EXPECT_EQ(result, c.expected) << c.what;
    EXPECT_EQ(rec.second.size(), result == kExtractOk ? 1u : 0u) << c.what;
  }
  // Memory entries end at their size even when the decoder delivered more.
  const Bytes longer(605, 'a');  // the decoder's last match runs past the size
  Archive a;
  a.packed(packer.p, entry_header("over"), longer, false, 600);
  Recorder rec;
  ASSERT_EQ(run(a.save(dir, "over.rar"), &rec), kExtractOk);
  ASSERT_EQ(rec.second.size(), 1u);
  EXPECT_EQ(rec.second[0].back(), 0) << "the byte at the size must be the terminating zero";
}

TEST(ExtractWalk, MainHeaderExtraBytesAreSkipped) {
  vxtest::TempDir dir;
  Archive a;
  a.stored("x", "x");
  // Five comment bytes behind the 13-byte main header, counted in its head_size.
  const std::size_t main = a.w.archive_offset + 7;
  a.w.bytes.insert(a.w.bytes.begin() + static_cast<long>(main + 13), 5, 0x43);
  a.w.bytes[main + 5] = 18;
  static Crc32Tables tables;
  fill_crc32_tables(tables);
  const uint32_t crc = ~crc32_with_tables(tables, 0xFFFFFFFFu, &a.w.bytes[main + 2], kMainHeaderSize - 2);
  a.w.bytes[main] = static_cast<uint8_t>(crc);
  a.w.bytes[main + 1] = static_cast<uint8_t>(crc >> 8);
  Recorder rec;
  auto file = a.save(dir);
  EXPECT_EQ(run(file, &rec), kExtractOk);
  EXPECT_EQ(rec.first, std::vector<std::string>{"x"});
}

// Every cut inside a written archive and every byte changed (XOR 0x01 and
// XOR 0xFF) ends the pass with a nonzero result, also a change inside a
// compressed stream to bits the decoder does not use (padding, code lengths
// of absent symbols), which gives the very same entries.
TEST(ExtractWalk, NoCutAndNoChangedBytePasses) {
  PackerOwner packer;
  Archive a(ArchiveForm::kMarked, 40);  // behind a 40-byte image
  a.stored("stored.txt", "stored entry");
  a.packed(packer.p, entry_header("packed.txt"), vxtest::text_like_bytes(300, 1), true);
  a.packed(packer.p, entry_header(std::string(200, 'n') + ".txt"), vxtest::text_like_bytes(200, 2), true);
  add_raw_block(&a.w, kBlockSub, 0, {1, 2, 3});  // a block shorter than a file header, just before the end
  vxtest::TempDir dir;
  const Bytes whole = vxtest::read_file(a.save(dir));
  Recorder original;
  ASSERT_EQ(run(dir / "a.rar", &original), kExtractOk);
  ASSERT_EQ(original.second.size(), 3u);
#ifdef _WIN32
  const std::size_t step = 7;  // a coarser sample under Wine
#else
  const std::size_t step = 1;
#endif
  for (std::size_t at = 40; at < whole.size(); at += step) {
    for (const int change : {0, 0x01, 0xFF}) {
      Bytes variant = whole;
      if (change == 0) variant.resize(at);
      else variant[at] ^= static_cast<uint8_t>(change);
      vxtest::write_file(dir / "v.rar", variant);
      Recorder r;
      EXPECT_NE(run(dir / "v.rar", &r), kExtractOk) << (change ? "changed byte " : "cut at ") << at << " passes";
    }
  }
}

// Appends grow the buffer in steps that scale with its size: 20 MB in
// 1000-byte pieces (a fixed 4096-byte step would need almost 5000).
TEST(MemoryBuffer, GrowsInFewSteps) {
  ByteBuffer b;
  byte_buffer_init(&b);
  const Bytes piece(1000, 3);
  int grows = 0;
  for (uint32_t i = 0, last = 0; i < 20000; ++i) {
    ASSERT_EQ(byte_buffer_append(&b, piece.data(), 1000), 0);
    if (i == 0) {
      EXPECT_EQ(b.capacity, 4096u);  // the first block: one minimum step
    }
    if (b.capacity != last) ++grows, last = b.capacity;
  }
  EXPECT_EQ(b.size, 20000000u);
  EXPECT_LT(grows, 40);
  EXPECT_EQ(b.data.data[19999999], 3);
  byte_buffer_reset(&b);
}

}  // namespace
