// Round trips of the compressor through the decoder at every level, solid
// and not: each packed entry is decoded in step, and the output must be the
// input. Also: entries the decoder never
// sees (stored instead) leave the chain intact, streams end at their last
// symbol, output is deterministic, and matches reach across the whole window.
#include <gtest/gtest.h>

#include "packer/pack20.h"
#include "archive/unpack20.h"
#include "tests/decode_harness.h"
#include "tests/test_support.h"

using vxtest::Bytes;

namespace {

struct Sample {
  const char* name;
  Bytes data;
};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Text, a binary-like mix with repeats at every distance class, noise (which
// does not shrink and is stored), an entry that repeats an earlier one,
// empty and tiny entries, a long run, an entry larger than the window whose
// second half repeats its first from 1.2 MB back (beyond reach), and text
// behind it.
std::vector<Sample> samples() {
  std::vector<Sample> s;
  s.push_back({"text", vxtest::text_like_bytes(200000, 7)});
  Bytes mix;
  for (uint32_t i = 0; mix.size() < 600000; ++i) {
    const Bytes piece = (i % 3 == 0) ? vxtest::random_bytes(700 + i % 5000, i) : vxtest::text_like_bytes(900, i);
    mix.insert(mix.end(), piece.begin(), piece.end());
    // A copy of something from 8 KB, 256 KB or further back.
    const std::size_t back = (i % 4 == 0) ? 0x2000 : (i % 4 == 1) ? 0x40000 : 0x101 + i * 37;
    if (mix.size() > back + 300) mix.insert(mix.end(), mix.end() - back, mix.end() - back + 40 + i % 200);
  }
  s.push_back({"mix", mix});
  s.push_back({"noise", vxtest::random_bytes(70000, 0xC0FFEE)});
  s.push_back({"text-again", s[0].data});
  s.push_back({"empty", {}});
  s.push_back({"one", vxtest::bytes_of("a")});
  s.push_back({"zeros", Bytes(1500000, 0)});
  const Bytes half = vxtest::random_bytes(1200000, 0xBEEF01);
  s.push_back({"beyond-window", concat({half, half})});
  s.push_back({"text-last", vxtest::text_like_bytes(50000, 8)});
  return s;
}

struct Packed {
  Bytes bytes;
  bool continued;
  bool stored;
};

// Packs the samples as vxpack does: an entry that does not shrink is stored,
// and the packer forgets it.
std::vector<Packed> pack_all(const std::vector<Sample>& files, int level, bool solid) {
  Packer* packer = create_packer(level);
  EXPECT_NE(packer, nullptr);
  std::vector<Packed> out;
  for (const Sample& f : files) {
    Packed p;
    pack_entry(packer, f.data.data(), static_cast<uint32_t>(f.data.size()), solid, &p.bytes, &p.continued);
    p.stored = f.data.empty() || p.bytes.size() >= f.data.size();
    if (p.stored) discard_last_entry(packer);
    out.push_back(std::move(p));
  }
  destroy_packer(packer);
  return out;
}

void round_trip(int level, bool solid) {
  vxtest::TempDir dir;
  const std::vector<Sample> files = samples();
  const std::vector<Packed> packed = pack_all(files, level, solid);
  vxtest::DecodePass pass(dir.path());
  bool first = true;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Packed& p = packed[i];
    SCOPED_TRACE(std::string(files[i].name) + " level " + std::to_string(level) + (solid ? " solid" : ""));
    if (p.stored) continue;  // the decoder never sees a stored entry
    // The first compressed entry of a chain starts it; in solid mode every
    // later one continues it.
    EXPECT_EQ(p.continued, solid && !first);
    first = false;
    const vxtest::EntryResult result = pass.decode(p.bytes, static_cast<uint32_t>(files[i].data.size()), p.continued);
    ASSERT_EQ(result.output.size(), files[i].data.size());
    ASSERT_TRUE(result.output == files[i].data);
    EXPECT_EQ(result.packed_left, 0u);
  }
  // Noise never shrinks: it is stored. Text and runs shrink.
  EXPECT_TRUE(packed[2].stored);
  EXPECT_TRUE(packed[7].stored);
  EXPECT_FALSE(packed[0].stored);
  EXPECT_FALSE(packed[6].stored);
}

class Levels : public ::testing::TestWithParam<int> {};

TEST_P(Levels, SolidRoundTrip) { round_trip(GetParam(), true); }
TEST_P(Levels, SeparateRoundTrip) { round_trip(GetParam(), false); }
INSTANTIATE_TEST_SUITE_P(Pack20, Levels, ::testing::Range(kPackFastest, kPackBest + 1));

TEST(Pack20, DeterministicAndStrongerAtHigherLevels) {
  const std::vector<Sample> files = samples();
  auto total = [](const std::vector<Packed>& p) {
    std::size_t n = 0;
    for (const Packed& e : p) n += e.bytes.size();
    return n;
  };
  const std::vector<Packed> a = pack_all(files, kPackBest, true);
  const std::vector<Packed> b = pack_all(files, kPackBest, true);
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].bytes, b[i].bytes) << files[i].name;
  EXPECT_LE(total(a), total(pack_all(files, kPackFastest, true)));
  // A solid chain codes the repeated text entry almost for nothing, across
  // the stored noise between the two.
  EXPECT_LT(a[3].bytes.size(), 1000u);
  // The second half of the large entry lies beyond the window's reach and
  // noise cannot shrink: that entry does not shrink.
  EXPECT_GE(a[7].bytes.size(), files[7].data.size());
}

TEST(Pack20, MatchesReachAcrossTheWholeWindow) {
  // 1,000,000 bytes of noise, then the same again: only a match at a
  // distance just below the window size finds it.
  const Bytes noise = vxtest::random_bytes(1000000, 21);
  const Bytes data = concat({noise, noise});
  for (int level : {kPackFastest, kPackBest}) {
    vxtest::TempDir dir;
    Packer* packer = create_packer(level);
    Bytes packed;
    bool continued = false;
    pack_entry(packer, data.data(), static_cast<uint32_t>(data.size()), true, &packed, &continued);
    destroy_packer(packer);
    EXPECT_LT(packed.size(), noise.size() + 40000) << level;
    vxtest::DecodePass pass(dir.path());
    const vxtest::EntryResult r = pass.decode(packed, static_cast<uint32_t>(data.size()), false);
    EXPECT_TRUE(r.output == data) << level;
  }
}

}  // namespace
