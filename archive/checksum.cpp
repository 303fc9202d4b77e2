// CRC-32 and the 16-bit rotating sum.
#include "archive/checksum.h"

#include "archive/reader.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define VX_CRC_FOLDING 1
#endif

// table[0] is the byte-at-a-time table; table[k] advances a byte through k
// further zero bytes, so that eight bytes are folded in with eight lookups
// and no dependency between them (slicing by eight).
void fill_crc32_tables(Crc32Tables table) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t x = i;
    for (int k = 0; k < 8; ++k) x = (x & 1) ? (x >> 1) ^ 0xEDB88320u : x >> 1;
    table[0][i] = x;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (int k = 1; k < 8; ++k) table[k][i] = (table[k - 1][i] >> 8) ^ table[0][table[k - 1][i] & 0xFF];
  }
}

namespace {

uint32_t crc_with_table(const Crc32Tables table, uint32_t crc, const uint8_t* bytes, std::size_t count) {
  for (; count >= 8; count -= 8, bytes += 8) {
    const uint32_t lo = crc ^ (bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
    const uint32_t hi = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<uint32_t>(bytes[7]) << 24;
    crc = table[7][lo & 0xFF] ^ table[6][(lo >> 8) & 0xFF] ^ table[5][(lo >> 16) & 0xFF] ^ table[4][lo >> 24] ^
          table[3][hi & 0xFF] ^ table[2][(hi >> 8) & 0xFF] ^ table[1][(hi >> 16) & 0xFF] ^ table[0][hi >> 24];
  }
  for (; count > 0; --count, ++bytes) crc = (crc >> 8) ^ table[0][(crc ^ *bytes) & 0xFF];
  return crc;
}

#ifdef VX_CRC_FOLDING
// CRC-32 by carry-less multiplication: the data is folded 64 bytes at a time
// into four 128-bit remainders that are congruent to it modulo the CRC
// polynomial, then into one, whose 16 bytes the table finishes. A register
// holds the bit-reflected polynomial (bit j of the little-endian load is the
// coefficient of x^(127 - j)); the product of two reflected 64-bit halves is
// the reflected product times x, which the constants make up for.

// x^n modulo the CRC polynomial, bit-reflected into the top 32 bits of a
// 64-bit half (the coefficient of x^k at bit 63 - k).
constexpr uint64_t reflected_power(int n) {
  uint32_t r = 1;  // x^0, in normal order
  for (int i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
  uint64_t out = 0;
  for (int k = 0; k < 32; ++k)
    if (r & (1u << k)) out |= uint64_t{1} << (63 - k);
  return out;
}

// Folding a remainder over d bits multiplies its first half by x^(64 + d)
// and its second by x^d; the multiplication adds one x.
constexpr uint64_t kFold512Hi = reflected_power(64 + 512 - 1), kFold512Lo = reflected_power(512 - 1);
constexpr uint64_t kFold128Hi = reflected_power(64 + 128 - 1), kFold128Lo = reflected_power(128 - 1);

__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i x, __m128i k, __m128i next) {
  const __m128i a = _mm_clmulepi64_si128(x, k, 0x00);  // first half (low 64 bits) times k's low
  const __m128i b = _mm_clmulepi64_si128(x, k, 0x11);  // second half times k's high
  return _mm_xor_si128(_mm_xor_si128(a, b), next);
}

// count is at least 64. Returns the CRC register after the whole multiple of
// 16 bytes it consumed; *done tells how many.
__attribute__((target("pclmul,sse2"))) uint32_t crc_folded(const uint32_t (*table)[256], uint32_t crc,
                                                           const uint8_t* bytes, std::size_t count,
                                                           std::size_t* done) {
  auto load = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  __m128i x0 = _mm_xor_si128(load(bytes), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load(bytes + 16), x2 = load(bytes + 32), x3 = load(bytes + 48);
  std::size_t at = 64;
  const __m128i k4 = _mm_set_epi64x(static_cast<long long>(kFold512Lo), static_cast<long long>(kFold512Hi));
  for (; at + 64 <= count; at += 64) {
    x0 = fold(x0, k4, load(bytes + at));
    x1 = fold(x1, k4, load(bytes + at + 16));
    x2 = fold(x2, k4, load(bytes + at + 32));
    x3 = fold(x3, k4, load(bytes + at + 48));
  }
  const __m128i k1 = _mm_set_epi64x(static_cast<long long>(kFold128Lo), static_cast<long long>(kFold128Hi));
  x0 = fold(x0, k1, x1);
  x0 = fold(x0, k1, x2);
  x0 = fold(x0, k1, x3);
  for (; at + 16 <= count; at += 16) x0 = fold(x0, k1, load(bytes + at));
  uint8_t rest[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x0);
  *done = at;
  return crc_with_table(table, 0, rest, 16);
}

// Whether the processor multiplies without carries (CPUID leaf 1, ECX bit 1).
bool has_clmul() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) != 0;
}
#endif

}  // namespace

// Long runs go through the folding path where the processor has it. The
// processor is asked once: under a hypervisor each question may take tens of
// microseconds.
uint32_t crc32_with_tables(const Crc32Tables table, uint32_t crc, const uint8_t* bytes, std::size_t count) {
#ifdef VX_CRC_FOLDING
  static const bool clmul = has_clmul();
  if (count >= 256 && clmul) {
    std::size_t done = 0;
    crc = crc_folded(table, crc, bytes, count, &done);
    bytes += done;
    count -= done;
  }
#endif
  return crc_with_table(table, crc, bytes, count);
}

void init_crc_table(ArchiveReader* reader) { fill_crc32_tables(reader->crc_table); }

uint32_t crc32_update(const ArchiveReader* reader, uint32_t crc, const uint8_t* bytes, uint32_t count) {
  return crc32_with_tables(reader->crc_table, crc, bytes, count);
}

uint32_t checksum16_update(uint32_t sum, const uint8_t* bytes, uint32_t count) {
  uint32_t s = sum & 0xFFFF;
  for (uint32_t i = 0; i < count; ++i) {
    s = (s + bytes[i]) & 0xFFFF;
    s = ((s << 1) | (s >> 15)) & 0xFFFF;
  }
  return s;
}

uint32_t update_checksum(const ArchiveReader* reader, uint32_t value, const uint8_t* bytes,
                         uint32_t count, int kind) {
  if (kind == 1) return checksum16_update(value & 0xFFFF, bytes, count);
  return crc32_update(reader, value, bytes, count);
}
