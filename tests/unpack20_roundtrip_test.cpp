// Round trips: files of several megabytes packed by the compressor, written
// into archives (plain and solid) and extracted with extract_archive; an
// entry whose packed data runs out early; the CRC-32 of long runs; inputs
// found by fuzzing.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "archive/checksum.h"
#include "archive/extract.h"
#include "packer/pack20.h"
#include "packer/writer.h"
#include "tests/test_support.h"

namespace {

using vxtest::Bytes;

struct Sample {
  std::string name;
  Bytes data;
};

// Real and synthetic data: a binary of several megabytes, text, noise, a long
// run of zeros (wraps the window), an empty and a one-byte file.
std::vector<Sample> samples() {
  Bytes binary = vxtest::read_file(VX_SAMPLE_BINARY);
  EXPECT_GT(binary.size(), 500000u) << VX_SAMPLE_BINARY;
  if (binary.size() > 3000000) binary.resize(3000000);
  return {{"lib\\sample.bin", binary},
          {"doc\\readme.txt", vxtest::text_like_bytes(1500000, 17)},
          {"empty.dat", {}},
          {"noise.dat", vxtest::random_bytes(300000, 5)},
          {"zeros.dat", Bytes(2500000, 0)},
          {"tiny.txt", vxtest::bytes_of("a")},
          {"again.bin", Bytes(binary.begin(), binary.begin() + std::min<std::size_t>(binary.size(), 300000))}};
}

// The archive of files; sizes (when given) replace the headers' unpacked sizes.
Bytes build_archive(const std::vector<Sample>& files, int level, bool solid, const std::vector<uint32_t>& sizes = {}) {
  Packer* packer = create_packer(level);
  ArchiveWriter w;
  begin_archive(&w, ArchiveForm::kMarked);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Bytes& data = files[i].data;
    Bytes packed;
    bool continued = false;
    pack_entry(packer, data.data(), static_cast<uint32_t>(data.size()), solid, &packed, &continued);
    EntrySpec header;
    header.name = files[i].name;
    header.method = pack_method(level);
    header.unp_ver = 20;
    header.unp_size = i < sizes.size() ? sizes[i] : static_cast<uint32_t>(data.size());
    header.file_crc = entry_checksum(ArchiveForm::kMarked, data.data(), data.size());
    if (continued) header.head_flags |= kFlagSolid;
    add_entry(&w, header, packed.data(), static_cast<uint32_t>(packed.size()));
  }
  destroy_packer(packer);
  end_archive(&w);
  return w.bytes;
}

struct Collected {
  std::map<std::string, Bytes> memory;
  std::string skip;     // an entry that gets no sink
  std::string pending;  // the entry between the two calls
};

// Takes every entry into memory, but skip.
int32_t collect(WideChar* name, const uint8_t* data, uint32_t size, void* user) {
  Collected* c = static_cast<Collected*>(user);
  if (data != nullptr) {
    EXPECT_EQ(data[size], 0) << "the bytes end with a zero byte";
    c->memory[c->pending] = Bytes(data, data + size);
    return 0;
  }
  c->pending = vxtest::narrow(name);
  name[0] = c->pending == c->skip ? 0 : 1;
  name[1] = 0;
  return 0;
}

class RoundTrip : public ::testing::TestWithParam<std::pair<int, bool>> {};

TEST_P(RoundTrip, ExtractsEveryFile) {
  const auto [level, solid] = GetParam();
  const std::vector<Sample> files = samples();
  vxtest::TempDir dir;
  vxtest::write_file(dir / "package.rar", build_archive(files, level, solid));
  Collected c;
  ASSERT_EQ(extract_archive(vxtest::wide(dir / "package.rar").c_str(), collect, &c), kExtractOk);
  for (const Sample& f : files) EXPECT_TRUE(c.memory[f.name] == f.data) << f.name;
}

INSTANTIATE_TEST_SUITE_P(LevelsAndChains, RoundTrip,
                         ::testing::Values(std::make_pair(1, true), std::make_pair(kPackBest, false)));

// A damaged size field far beyond what the packed data holds: the decoder
// runs on over stale input until the declared size is produced, the checksum
// fails, and without a sink the pass goes on to the next entry. (Found by
// fuzzing with sizes near 2 GB, which take minutes this way.)
TEST(RoundTripDamage, DeclaredSizeFarBeyondThePackedData) {
  const std::vector<Sample> files = {{"big.bin", vxtest::text_like_bytes(3000, 8)},
                                     {"next.txt", vxtest::text_like_bytes(5000, 9)}};
  vxtest::TempDir dir;
  vxtest::write_file(dir / "big.rar", build_archive(files, 3, false, {24u << 20, 5000}));

  Collected c;
  EXPECT_EQ(extract_archive(vxtest::wide(dir / "big.rar").c_str(), collect, &c), kExtractBadChecksum);
  EXPECT_EQ(c.memory.count("big.bin"), 0u);
  Collected d;
  d.skip = "big.bin";
  EXPECT_EQ(extract_archive(vxtest::wide(dir / "big.rar").c_str(), collect, &d), kExtractOk);
  EXPECT_TRUE(d.memory["next.txt"] == files[1].data);
}

// The CRC-32 of long runs (folded 64 bytes a step where the processor can)
// equals the bit-by-bit definition, at any alignment and tail length.
TEST(Checksum, LongRunsMatchTheDefinition) {
  const Bytes data = vxtest::random_bytes(70000, 3);
  auto reader = std::make_unique<ArchiveReader>();
  init_crc_table(reader.get());
  for (uint32_t n : {255u, 256u, 319u, 4111u, 65599u}) {
    for (uint32_t at : {0u, 1u, 7u}) {
      uint32_t crc = 0x12345678u;
      for (uint32_t i = 0; i < n; ++i) {
        crc ^= data[at + i];
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
      }
      EXPECT_EQ(crc32_update(reader.get(), 0x12345678u, data.data() + at, n), crc) << n << " at " << at;
    }
  }
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
