// The archive reader: checksums, finding the archive, the block walk, the
// extraction driver's callback protocol, sinks and entry tests, and that no
// cut or changed byte of a written archive passes; beneath it the support
// layer's text, path, ANSI and file operations.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <fstream>

#ifndef _WIN32
#include <iconv.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "archive/checksum.h"
#include "archive/extract.h"
#include "support/charset.h"
#include "support/files.h"
#include "tests/test_support.h"

using vxtest::Archive;
using vxtest::Bytes;
using vxtest::narrow;
using vxtest::wide;

namespace {

// A zero-filled reader opened on bytes written to a file.
struct OpenReader {
  explicit OpenReader(const Bytes& bytes) {
    vxtest::write_file(dir / "a.rar", bytes);
    init_crc_table(r);
    r->archive_file = open_archive_file(wide(dir / "a.rar").c_str(), 1);
  }
  ~OpenReader() { close_stream(r->archive_file); }
  // Names of the entries the walk yields; "!" for damage.
  std::vector<std::string> walk() {
    std::vector<std::string> seen;
    if (begin_walk(r) != 0) seen.push_back("!");
    int n;
    while ((n = next_entry(r)) > 0) seen.push_back(r->entry_name);
    if (n < 0) seen.push_back("!");
    return seen;
  }
  vxtest::TempDir dir;
  std::unique_ptr<ArchiveReader> owner = std::make_unique<ArchiveReader>();
  ArchiveReader* r = owner.get();
};

// Takes every entry into memory (or drops it, or writes it into folder) and
// records what the callback saw.
struct Recorder {
  enum Mode { kDrop, kMemory, kFile } mode = kMemory;
  std::filesystem::path folder{};
  int stop_at = -1;                  // first-call index that ends the pass
  std::vector<std::string> first{};  // names on first calls
  std::vector<Bytes> second{};       // data on second calls, with the zero behind

  int run(const std::filesystem::path& archive) { return extract_archive(wide(archive).c_str(), record, this); }
  static int32_t record(WideChar* name, const uint8_t* data, uint32_t size, void* user) {
    auto* rec = static_cast<Recorder*>(user);
    if (data != nullptr) {
      rec->second.emplace_back(data, data + size + 1);
      return 0;
    }
    if (static_cast<int>(rec->first.size()) == rec->stop_at) return 1;
    rec->first.push_back(narrow(name));
    if (rec->mode == kDrop) name[0] = 0;
    if (rec->mode == kMemory) name[0] = 1;
    if (rec->mode == kFile) copy_text(wide(rec->folder / rec->first.back()).c_str(), name, kNameCapacity);
    return 0;
  }
};

TEST(Checksums, KnownValues) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(entry_checksum(ArchiveForm::kMarked, digits, 9), 0xCBF43926u);
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(checksum16_update(0x10000, abc, 3), 0x0556u);  // continues from the low 16 bits
  // Long runs (folded 64 bytes a step where the processor can) equal the
  // byte-at-a-time table at any alignment and tail length.
  const Bytes data = vxtest::random_bytes(70000, 3);
  for (uint32_t n : {255u, 256u, 319u, 4111u, 65599u}) {
    for (uint32_t at : {0u, 1u, 7u}) {
      uint32_t crc = 0x12345678u;
      for (uint32_t i = 0; i < n; ++i) crc = crc32_continue(crc, &data[at + i], 1);
      EXPECT_EQ(crc32_continue(0x12345678u, &data[at], n), crc) << n << " at " << at;
    }
  }
}

TEST(ReadBlock, OtherBlocksSubBlocksNamesAndAttributes) {
  Archive a;
  a.stored("a/b\\c", "", {.head_flags = kFlagDirectoryMask, .host_os = 5, .file_attr = kAttrReadOnly});
  a.stored("first", "1");
  add_raw_block(&a.w, 0x75, 0, {1, 2, 3});          // unknown type with a plain body
  add_raw_block(&a.w, 0x79, 0x8000, {5, 0, 0, 0});  // 5 data bytes behind the header
  a.w.bytes.insert(a.w.bytes.end(), 5, 0xEE);
  const std::size_t sub_at = a.w.bytes.size();
  add_raw_block(&a.w, kBlockSub, 0, {9, 9});
  a.stored("second/inner\\" + std::string(300, 'n'), "1", {.host_os = 3, .file_attr = 0x81A5});

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
  seek_archive(o.r, static_cast<int32_t>(sub_at));
  EXPECT_GT(read_block(o.r, 0x8000 | kBlockFile), 0);
  EXPECT_EQ(o.r->block.head_type, kBlockSub);
  EXPECT_EQ(o.r->entry.head_type, kBlockFile);
  EXPECT_EQ(o.r->next_block, static_cast<int32_t>(sub_at + 9));
}

// Where the archive is found, where the walk ends and where it finds damage,
// with and without the end mark (marked damage is also the property test's).
TEST(ReadBlock, FoundEndAndDamage) {
  const std::vector<std::string> both{"a", "b"}, first{"a"}, damaged{"a", "!"}, none{"none"};
  // Entries "a" and "b", stored.
  const auto ab = [](std::size_t image = 0, ArchiveForm form = ArchiveForm::kMarked) {
    return Archive(form, image).stored("a", "a").stored("b", "b").finish();
  };
  Bytes decoys(4000, 0x90);
  std::memcpy(&decoys[100], kMarker, 7);  // its main header type byte is not 0x73
  decoys[109] = 0x74;
  std::memcpy(&decoys[300], kOldSignature, 4);  // no "RSFX" at offsets 28..31
  const Bytes tail = ab();
  decoys.insert(decoys.end(), tail.begin(), tail.end());
  const Bytes old = ab(0, ArchiveForm::kOld);
  const std::size_t second = 32 + 13 + 33 + 1;  // behind the main header and entry "a"
  auto patched = [](Bytes b, std::size_t at, std::vector<uint8_t> v) {
    return std::copy(v.begin(), v.end(), b.begin() + static_cast<long>(at)), b;
  };
  auto cut = [](Bytes b, std::size_t size) { return b.resize(size), b; };
  Bytes signed_later = tail;  // a code signature appended behind the end blocks
  for (uint8_t b : vxtest::random_bytes(300, 1)) signed_later.push_back(b);
  Archive unsummed;  // an end block without the archive checksum, as written before it
  add_raw_block(&unsummed.w, kBlockEnd, 0x4000, {});
  unsummed.w.bytes.insert(unsummed.w.bytes.end(), 7, 0);
  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<std::string> seen;  // entry names; "!": damage, "none": no archive found
  } cases[] = {
      {"behind an image, at the last offset the scan sees", ab(249996), both},
      {"one byte beyond the scan", ab(249997), none},
      {"behind decoys", decoys, both},
      {"six bytes", Bytes(kMarker, kMarker + 6), none},
      {"main header cut short", cut(tail, 7 + 10), none},
      {"main header behind an image cut short", cut(ab(100), 117), none},
      {"old form main header cut short", cut(ab(600, ArchiveForm::kOld), 610), none},
      {"marked, cut at a block boundary", cut(tail, 7 + 13 + 33 + 1), damaged},
      {"marked, signed later", signed_later, both},
      {"marked, no archive checksum", unsummed.w.bytes, {}},
      {"old form, whole", old, both},
      {"old form, cut at a block boundary", cut(old, second), first},
      {"old form, head_size below 7", patched(old, second + 5, {6, 0}), first},
      {"old form, main head_size below 13", patched(old, 32 + 5, {12, 0}), {"!", "a", "b"}},
      {"old form, cut inside a header", cut(old, second + 20), damaged},
      {"old form, cut inside a name", cut(old, second + 32), damaged},
      {"old form, an empty name cut inside its header",
       cut(patched(patched(old, second + 5, {32, 0}), second + 26, {0, 0}), second + 30), damaged},
      {"old form, directory with data, no data-size flag", patched(old, second + 3, {0xE0, 0}), damaged},
      {"old form, packed size past 2 GiB", patched(old, second + 7, {0xF0, 0xFF, 0xFF, 0x7F}), damaged},
      {"old form, data up to the last 32-bit position", patched(old, second + 7, {0x8F, 0xFF, 0xFF, 0x7F}), both},
      {"old form, head_size below what the name needs", patched(old, second + 5, {32, 0}), damaged},
  };
  for (const Case& c : cases) {
    OpenReader o(c.bytes);
    EXPECT_EQ(find_archive(o.r) == kLocationNone ? none : o.walk(), c.seen) << c.what;
  }
}

// The callback protocol: no call for a directory, a first call only for a
// label, memory bytes with a zero behind them, files with their time and
// attributes; a nonzero answer ends the pass with success; a checksum mismatch
// deletes the file and ends the pass, unless the entry was dropped.
TEST(ExtractCallback, SinksStopsResultsAndMismatch) {
  vxtest::TempDir dir;
  const Bytes big = vxtest::random_bytes(3 * 32768 + 17, 7);
  const EntrySpec ro{.file_time = dos_time_from_parts(2021, 6, 15, 13, 45, 30),
                     .file_attr = kAttrArchive | kAttrReadOnly};
  // A stored entry whose packed data is longer than its size gives only its
  // size; its Unix attributes (read-only among them) are not taken.
  const uint32_t abc_crc = entry_checksum(ArchiveForm::kMarked, reinterpret_cast<const uint8_t*>("abc"), 3);
  Archive a;
  a.stored("folder", "", {.head_flags = kFlagDirectoryMask, .file_attr = kAttrDirectory})
      .stored("label", "", {.file_attr = kAttrVolumeLabel})
      .stored("text", "hello")
      .stored("empty", "")
      .stored("big.bin", std::string(big.begin(), big.end()), ro);
  add_entry(&a.w, {.name = "cut.txt", .host_os = 3, .file_attr = 0x81A5, .unp_size = 3, .file_crc = abc_crc},
            reinterpret_cast<const uint8_t*>("abcdefgh"), 8);
  add_entry(&a.w, {.name = "bad", .unp_size = 4, .file_crc = 0x12345678}, reinterpret_cast<const uint8_t*>("good"), 4);
  const auto file = a.stored("after", "x").save(dir);
  Recorder mem, drop{.mode = Recorder::kDrop}, stop{.stop_at = 2}, out{Recorder::kFile, dir.path()},
      missing{Recorder::kFile, dir / "missing"};
  EXPECT_EQ(mem.run(file), kExtractBadChecksum);
  EXPECT_EQ(mem.first, (std::vector<std::string>{"label", "text", "empty", "big.bin", "cut.txt", "bad"}));
  Bytes big_and_zero = big;
  big_and_zero.push_back(0);
  EXPECT_EQ(mem.second, (std::vector<Bytes>{{'h', 'e', 'l', 'l', 'o', 0}, {0}, big_and_zero, {'a', 'b', 'c', 0}}));
  EXPECT_EQ(drop.run(file), kExtractOk);
  EXPECT_EQ(drop.first.size(), 7u);
  EXPECT_TRUE(drop.second.empty());
  EXPECT_EQ(stop.run(file), kExtractOk);
  EXPECT_EQ(stop.second.size(), 1u);
  EXPECT_EQ(out.run(file), kExtractBadChecksum);
  EXPECT_EQ(vxtest::read_file(dir / "big.bin"), big);
  EXPECT_FALSE(std::filesystem::exists(dir / "bad"));
  const auto sys = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(dir / "big.bin"));
  const std::time_t t = std::chrono::system_clock::to_time_t(sys);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
  EXPECT_STREQ(when, "2021-06-15 13:45:30");
  const auto perms = [&](const char* n) { return std::filesystem::status(dir / n).permissions(); };
  EXPECT_EQ(perms("big.bin") & std::filesystem::perms::owner_write, std::filesystem::perms::none);
  EXPECT_NE(perms("cut.txt") & std::filesystem::perms::owner_write, std::filesystem::perms::none);
  EXPECT_EQ(missing.run(file), kExtractCannotCreate);

  Recorder rec;
  EXPECT_EQ(rec.run(dir / "absent.exe"), kExtractNoArchive);
  vxtest::write_file(dir / "plain.exe", Bytes(5000, 0x90));
  EXPECT_EQ(rec.run(dir / "plain.exe"), kExtractNoArchive);
  // A continued volume is refused at its first entry only.
  const EntrySpec cont{.head_flags = kFlagContinuedFromPrevious};
  EXPECT_EQ(rec.run(Archive().stored("part", "x", cont).save(dir, "c.rar")), kExtractNoArchive);
  EXPECT_TRUE(rec.first.empty());
  EXPECT_EQ(rec.run(Archive().stored("a", "1").stored("part", "x", cont).save(dir, "d.rar")), kExtractOk);
}

#ifndef _WIN32
// A memory entry that the buffer cannot hold ends the pass with result 1 and
// is never handed back: 40 MB of zeros with the address space capped 16 MB
// above what is in use.
TEST(ExtractSinks, MemoryThatCannotGrowEndsThePass) {
  vxtest::TempDir dir;
  const auto file = Archive().packed({.name = "zeros"}, Bytes(40u << 20, 0), false).save(dir);
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  ASSERT_GT(pages, 0);
  rlimit saved{};
  getrlimit(RLIMIT_AS, &saved);
  rlimit cap = saved;
  cap.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (16u << 20);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &cap), 0);
  Recorder rec;
  const int result = rec.run(file);
  setrlimit(RLIMIT_AS, &saved);
  EXPECT_EQ(result, kExtractNoReader);
  EXPECT_TRUE(rec.second.empty());
}
#endif

// Entries whose outcome depends on the form, the version needed, the size
// field or the bytes delivered; each holds "hello", stored or compressed.
TEST(ExtractChecksum, EntryOutcomes) {
  const Bytes hello = vxtest::bytes_of("hello");
  const ArchiveForm kOld = ArchiveForm::kOld, kMarked = ArchiveForm::kMarked;
  struct Case {
    const char* what;
    ArchiveForm form;
    bool compressed;
    uint8_t unp_ver;
    uint32_t unp_size;
    ArchiveForm checksum;  // the form whose checksum of "hello" a stored entry's header holds
    int expected;
  } cases[] = {
      {"old form: the 16-bit sum", kOld, false, 20, 5, kOld, kExtractOk},
      {"old form: a CRC where the sum belongs", kOld, false, 20, 5, kMarked, kExtractBadChecksum},
      {"old form: five bytes with their sum, ten declared", kOld, false, 20, 10, kOld, kExtractBadChecksum},
      {"stored with version 10 is copied", kMarked, false, 10, 5, kMarked, kExtractOk},
      {"compressed with version 15 is not decoded", kMarked, true, 15, 5, kMarked, kExtractBadChecksum},
      {"compressed with version 21 is decoded", kMarked, true, 21, 5, kMarked, kExtractOk},
      {"a size of 2 GiB cannot be decoded", kMarked, true, 20, 0x80000000u, kMarked, kExtractBadChecksum},
  };
  vxtest::TempDir dir;
  for (const Case& c : cases) {
    Archive a(c.form);
    const uint32_t sum = entry_checksum(c.checksum, hello.data(), 5);
    const EntrySpec e{.name = "e", .unp_ver = c.unp_ver, .unp_size = c.unp_size, .file_crc = sum};
    if (c.compressed)
      a.packed(e, hello, false, c.unp_size);
    else
      add_entry(&a.w, e, hello.data(), 5);
    Recorder rec;
    const int result = rec.run(a.save(dir, "case.rar"));
    EXPECT_EQ(result, c.expected) << c.what;
  }
  // Memory entries end at their size even when the decoder delivered more.
  const Bytes longer(605, 'a');  // the decoder's last match runs past the size
  Recorder rec;
  ASSERT_EQ(rec.run(Archive().packed({.name = "over"}, longer, false, 600).save(dir, "over.rar")), kExtractOk);
  ASSERT_EQ(rec.second.size(), 1u);
  EXPECT_EQ(rec.second[0].back(), 0) << "the byte at the size must be the terminating zero";
}

// Every cut and every changed byte (XOR 0x01, 0xFF) of a written archive ends
// the pass with a nonzero result, also a change to stream bits the decoder
// does not use (padding, code lengths of absent symbols). The main header
// carries five comment bytes, which the walk passes over.
TEST(ExtractWalk, NoCutAndNoChangedBytePasses) {
  Archive a(ArchiveForm::kMarked, 40);  // behind a 40-byte image
  const std::size_t main = 40 + 7;
  a.w.bytes.insert(a.w.bytes.end(), 5, 0x43);  // the header checksum covers the first 13 bytes only
  a.w.bytes[main + 5] = kMainHeaderSize + 5;
  const uint32_t crc = ~crc32_continue(0xFFFFFFFFu, &a.w.bytes[main + 2], kMainHeaderSize - 2);
  a.w.bytes[main] = static_cast<uint8_t>(crc);
  a.w.bytes[main + 1] = static_cast<uint8_t>(crc >> 8);
  a.stored("stored.txt", "stored entry");
  a.packed({.name = "packed.txt"}, vxtest::text_like_bytes(300, 1), true);
  a.packed({.name = std::string(200, 'n') + ".txt"}, vxtest::text_like_bytes(200, 2), true);
  add_raw_block(&a.w, kBlockSub, 0, {1, 2, 3});  // a block shorter than a file header, just before the end
  vxtest::TempDir dir;
  const Bytes whole = vxtest::read_file(a.save(dir));
  Recorder original;
  ASSERT_EQ(original.run(dir / "a.rar"), kExtractOk);
#ifdef _WIN32
  const std::size_t step = 7;  // a coarser sample under Wine
#else
  const std::size_t step = 1;
#endif
  for (std::size_t at = 40; at < whole.size(); at += step) {
    for (const int change : {0, 0x01, 0xFF}) {
      Bytes variant = whole;
      if (change == 0)
        variant.resize(at);
      else
        variant[at] ^= static_cast<uint8_t>(change);
      vxtest::write_file(dir / "v.rar", variant);
      Recorder r;
      EXPECT_NE(r.run(dir / "v.rar"), kExtractOk) << (change ? "changed byte " : "cut at ") << at << " passes";
    }
  }
}

// Appends grow the buffer in steps that scale with its size: 20 MB in
// 1000-byte pieces (a fixed 4096-byte step would need almost 5000).
TEST(MemoryBuffer, GrowsInFewSteps) {
  ByteBuffer b;
  byte_buffer_init(&b);
  const Bytes piece(1000, 3);
  ASSERT_EQ(byte_buffer_append(&b, piece.data(), 1000), 0);
  EXPECT_EQ(b.capacity, 4096u);  // the first block: one minimum step
  int grows = 1;
  for (uint32_t i = 1, last = b.capacity; i < 20000; ++i) {
    ASSERT_EQ(byte_buffer_append(&b, piece.data(), 1000), 0);
    if (b.capacity != last) ++grows, last = b.capacity;
  }
  EXPECT_LT(grows, 40);
  byte_buffer_reset(&b);
}

// The bounded text and path operations at their edges: the result (for a
// cut, the index of the name behind the separator) and the buffer after it.
TEST(PathText, ResultsAndContentAtTheEdges) {
  enum Op { kAppend, kCopy, kJoin, kSeparator, kCut };
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
      {kCut, "C:\\dir\\file", nullptr, 0, 6, "C:\\dir"},
      {kCut, "C:\\dir", nullptr, 0, 3, "C:\\"},
      {kCut, "dir\\", nullptr, 0, 3, "dir"},
      {kCut, "plain", nullptr, 0, 0, ""},
      {kCut, "\\top", nullptr, 0, 0, ""},
      {kCut, "X:/", nullptr, 0, 3, "X:/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.before) + " + " + (c.text ? c.text : "(none)"));
    WideChar buf[16];
    copy_text(wide(std::filesystem::path(c.before)).c_str(), buf, 16);
    const vxtest::WideString text = wide(std::filesystem::path(c.text ? c.text : ""));
    const WideChar* t = c.text ? text.c_str() : nullptr;
    const int result = c.op == kAppend      ? append_text(t, buf, c.capacity)
                       : c.op == kCopy      ? copy_text(t, buf, c.capacity)
                       : c.op == kJoin      ? join_path(t, buf, c.capacity)
                       : c.op == kSeparator ? add_separator(buf, c.capacity)
                                            : cut_at_last_separator(buf);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(narrow(buf), c.after);
  }
  EXPECT_EQ(append_text(VX_WIDE("x"), nullptr, 8), kTextOk);
  char narrow_buf[4] = "ab";
  EXPECT_EQ(append_narrow("cd", narrow_buf, 4), kTextTruncated);
  EXPECT_STREQ(narrow_buf, "abc");
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
#ifndef _WIN32
  // Every byte as the C library's code page 1252 has it (the five bytes it
  // leaves undefined stand for the C1 controls of the same value), and back.
  iconv_t cp1252 = iconv_open("UTF-16LE", "CP1252");
  ASSERT_NE(cp1252, reinterpret_cast<iconv_t>(-1));
  for (int b = 1; b < 256; ++b) {
    char in[2] = {static_cast<char>(b), 0};
    char16_t out[1] = {static_cast<char16_t>(b)};
    char *from = in, *to = reinterpret_cast<char*>(out);
    std::size_t in_left = 1, out_left = sizeof out;
    iconv(cp1252, &from, &in_left, &to, &out_left);
    ansi_to_wide(in, w, 8);
    wide_to_ansi(w, back, 8);
    EXPECT_EQ(w[0], out[0]) << b;
    EXPECT_EQ(static_cast<uint8_t>(back[0]), b) << b;
  }
  iconv_close(cp1252);
#endif
}

TEST(FileLayer, FullPathAndFolderTrees) {
  vxtest::TempDir dir;
  // Only the first level exists: both missing levels are created.
  const auto deep = dir / "a" / "b";
  EXPECT_EQ(create_folder_tree(wide(deep).c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  // An existing folder counts as a failure (2), as the installer expects.
  EXPECT_EQ(create_folder_tree(wide(deep).c_str()), 2);
  WideChar rel[260];
  copy_text(VX_WIDE("relative.txt"), rel, 260);
  full_path(rel);
  EXPECT_EQ(std::filesystem::path(narrow(rel)), std::filesystem::current_path() / "relative.txt");
}

}  // namespace
