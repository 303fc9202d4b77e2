// Round trips: files of several megabytes packed by the greedy compressor,
// written into archives (plain and solid, both checksum forms, appended to a
// program image) and extracted with extract_archive to memory and to files.
#include <gtest/gtest.h>

#include <map>

#include "archive/extract.h"
#include "packer/writer.h"
#include "tests/greedy_packer.h"
#include "tests/test_support.h"

namespace {

using vxtest::Bytes;

constexpr uint8_t kMethodNormal = 0x33;

struct Sample {
  std::string name;
  Bytes data;
};

// Real and synthetic data: a binary of several megabytes, text, noise, a long
// run of zeros (wraps the window many times) and small and empty files.
std::vector<Sample> samples() {
  std::vector<Sample> s;
  Bytes binary = vxtest::read_file(VX_SAMPLE_BINARY);
  EXPECT_GT(binary.size(), 500000u) << VX_SAMPLE_BINARY;
  if (binary.size() > 4000000) binary.resize(4000000);
  s.push_back({"lib\\sample.bin", binary});
  s.push_back({"doc\\readme.txt", vxtest::text_like_bytes(1500000, 17)});
  s.push_back({"empty.dat", {}});
  s.push_back({"noise.dat", vxtest::random_bytes(600000, 5)});
  s.push_back({"zeros.dat", Bytes(2500000, 0)});
  s.push_back({"tiny.txt", vxtest::bytes_of("a")});
  s.push_back({"again.bin", Bytes(binary.begin(), binary.begin() + std::min<std::size_t>(binary.size(), 300000))});
  return s;
}

Bytes build_archive(const std::vector<Sample>& files, bool solid, ArchiveForm form, const Bytes& image = {}) {
  std::vector<Bytes> contents;
  for (const Sample& f : files) contents.push_back(f.data);
  const std::vector<Bytes> packed = vxtest::greedy_pack(contents, solid);
  ArchiveWriter w;
  w.bytes = image;
  if (form == ArchiveForm::kOld && w.bytes.size() < 32) w.bytes.resize(32, 0);
  begin_archive(&w, form);
  for (std::size_t i = 0; i < files.size(); ++i) {
    EntrySpec header;
    header.name = files[i].name;
    header.method = kMethodNormal;
    header.unp_ver = 20;
    header.unp_size = static_cast<uint32_t>(files[i].data.size());
    header.file_crc = entry_checksum(form, files[i].data.data(), files[i].data.size());
    if (solid && i > 0) header.head_flags |= kFlagSolid;
    add_entry(&w, header, packed[i].data(), static_cast<uint32_t>(packed[i].size()));
  }
  end_archive(&w);
  return w.bytes;
}

struct Collected {
  std::map<std::string, Bytes> memory;
  std::string folder;   // when set: entries go to files there
  std::string pending;  // the entry between the two calls
};

// Sends every entry to memory, or to a file in folder (names flattened).
int32_t collect(WideChar* name, const uint8_t* data, uint32_t size, void* user) {
  Collected* c = static_cast<Collected*>(user);
  if (data != nullptr) {
    EXPECT_EQ(data[size], 0) << "the bytes end with a zero byte";
    c->memory[c->pending] = Bytes(data, data + size);
    return 0;
  }
  c->pending = vxtest::narrow(name);
  if (c->folder.empty()) {
    name[0] = 1;
    name[1] = 0;
  } else {
    std::string flat = c->pending;
    for (char& ch : flat)
      if (ch == '\\') ch = '_';
    const vxtest::WideString path = vxtest::wide(std::filesystem::path(c->folder) / flat);
    std::copy(path.begin(), path.end(), name);
    name[path.size()] = 0;
  }
  return 0;
}

void expect_extracted(const std::vector<Sample>& files, const Collected& c) {
  for (const Sample& f : files) {
    Bytes got;
    if (c.folder.empty()) {
      const auto it = c.memory.find(f.name);
      ASSERT_NE(it, c.memory.end()) << f.name;
      got = it->second;
    } else {
      std::string flat = f.name;
      for (char& ch : flat)
        if (ch == '\\') ch = '_';
      got = vxtest::read_file(std::filesystem::path(c.folder) / flat);
    }
    ASSERT_EQ(got.size(), f.data.size()) << f.name;
    EXPECT_TRUE(got == f.data) << f.name;
  }
}

class RoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(RoundTrip, MemoryAndFileSinks) {
  const bool solid = GetParam();
  const std::vector<Sample> files = samples();
  vxtest::TempDir dir;
  const auto archive = dir / "package.rar";
  vxtest::write_file(archive, build_archive(files, solid, ArchiveForm::kMarked));

  Collected to_memory;
  ASSERT_EQ(extract_archive(vxtest::wide(archive).c_str(), collect, &to_memory), kExtractOk);
  expect_extracted(files, to_memory);

  Collected to_files;
  std::filesystem::create_directories(dir / "out");
  to_files.folder = (dir / "out").string();
  ASSERT_EQ(extract_archive(vxtest::wide(archive).c_str(), collect, &to_files), kExtractOk);
  expect_extracted(files, to_files);
}

INSTANTIATE_TEST_SUITE_P(PlainAndSolid, RoundTrip, ::testing::Bool());

TEST(RoundTripForms, OldSignatureBehindAProgramImage) {
  std::vector<Sample> files = samples();
  files.resize(3);
  Bytes image = vxtest::random_bytes(120000, 99);
  for (uint8_t& b : image)
    if (b == 'R') b = 'r';  // no false marker in the image
  image[28] = 'R';
  image[29] = 'S';
  image[30] = 'F';
  image[31] = 'X';
  vxtest::TempDir dir;
  const auto setup = dir / "Setup.exe";
  vxtest::write_file(setup, build_archive(files, true, ArchiveForm::kOld, image));
  Collected c;
  ASSERT_EQ(extract_archive(vxtest::wide(setup).c_str(), collect, &c), kExtractOk);
  expect_extracted(files, c);
}

TEST(RoundTripForms, DamagedEntryFailsItsChecksum) {
  std::vector<Sample> files = {{"a.txt", vxtest::text_like_bytes(200000, 3)},
                               {"b.txt", vxtest::text_like_bytes(100000, 4)}};
  Bytes archive = build_archive(files, true, ArchiveForm::kMarked);
  archive[archive.size() / 3] ^= 0x10;  // inside the first entry's packed data
  vxtest::TempDir dir;
  vxtest::write_file(dir / "bad.rar", archive);
  Collected c;
  EXPECT_EQ(extract_archive(vxtest::wide(dir / "bad.rar").c_str(), collect, &c), kExtractBadChecksum);
}

// A damaged size field far beyond what the packed data holds: the decoder
// runs on over stale input until the declared size is produced, the checksum
// fails, and without a sink the pass goes on to the next entry. (Found by
// fuzzing with sizes near 2 GB, which take minutes this way.)
TEST(RoundTripForms, DeclaredSizeFarBeyondThePackedData) {
  const Bytes small = vxtest::text_like_bytes(3000, 8);
  const Bytes next = vxtest::text_like_bytes(5000, 9);
  const std::vector<Bytes> packed = vxtest::greedy_pack({small, next}, false);
  ArchiveWriter w;
  begin_archive(&w, ArchiveForm::kMarked);
  EntrySpec header;
  header.name = "big.bin";
  header.method = kMethodNormal;
  header.unp_size = 24u << 20;
  header.file_crc = entry_checksum(ArchiveForm::kMarked, small.data(), small.size());
  add_entry(&w, header, packed[0].data(), static_cast<uint32_t>(packed[0].size()));
  header.name = "next.txt";
  header.unp_size = static_cast<uint32_t>(next.size());
  header.file_crc = entry_checksum(ArchiveForm::kMarked, next.data(), next.size());
  add_entry(&w, header, packed[1].data(), static_cast<uint32_t>(packed[1].size()));
  end_archive(&w);
  vxtest::TempDir dir;
  vxtest::write_file(dir / "big.rar", w.bytes);

  Collected c;
  EXPECT_EQ(extract_archive(vxtest::wide(dir / "big.rar").c_str(), collect, &c), kExtractBadChecksum);
  EXPECT_EQ(c.memory.count("big.bin"), 0u);

  // Without a sink nothing is tested; the next entry still comes out right.
  auto drop_first = [](WideChar* name, const uint8_t* data, uint32_t size, void* user) -> int32_t {
    if (data == nullptr && vxtest::narrow(name) == "big.bin") {
      name[0] = 0;
      return 0;
    }
    return collect(name, data, size, user);
  };
  Collected d;
  EXPECT_EQ(extract_archive(vxtest::wide(dir / "big.rar").c_str(), drop_first, &d), kExtractOk);
  ASSERT_EQ(d.memory.count("next.txt"), 1u);
  EXPECT_TRUE(d.memory["next.txt"] == next);
}

// Inputs found by fuzzing (fuzz/regressions; the sanitizer build runs them
// all in the smoke run). An entry whose data offset computes below zero (pack
// size 2^31 in a block without the data-size bit) would start before its own
// header: the archive is damaged, whatever the sinks.
TEST(FuzzFindings, DataOffsetBelowZero) {
  const std::filesystem::path input = std::filesystem::path(VX_FUZZ_FINDINGS) / "data-offset-below-zero";
  ASSERT_TRUE(std::filesystem::exists(input)) << input;
  Collected c;
  EXPECT_EQ(extract_archive(vxtest::wide(input).c_str(), collect, &c), kExtractBadChecksum);
  auto drop = [](WideChar* name, const uint8_t*, uint32_t, void*) -> int32_t {
    name[0] = 0;
    return 0;
  };
  EXPECT_EQ(extract_archive(vxtest::wide(input).c_str(), drop, nullptr), kExtractBadChecksum);
}

}  // namespace
