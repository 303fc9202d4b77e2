// CRC-32 and the 16-bit rotating sum.
#include "archive/checksum.h"

#include "archive/reader.h"

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

uint32_t crc32_with_tables(const Crc32Tables table, uint32_t crc, const uint8_t* bytes, std::size_t count) {
  for (; count >= 8; count -= 8, bytes += 8) {
    const uint32_t lo = crc ^ (bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
    const uint32_t hi = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<uint32_t>(bytes[7]) << 24;
    crc = table[7][lo & 0xFF] ^ table[6][(lo >> 8) & 0xFF] ^ table[5][(lo >> 16) & 0xFF] ^ table[4][lo >> 24] ^
          table[3][hi & 0xFF] ^ table[2][(hi >> 8) & 0xFF] ^ table[1][(hi >> 16) & 0xFF] ^ table[0][hi >> 24];
  }
  for (; count > 0; --count, ++bytes) crc = (crc >> 8) ^ table[0][(crc ^ *bytes) & 0xFF];
  return crc;
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
