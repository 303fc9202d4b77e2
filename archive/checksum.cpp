// CRC-32 and the 16-bit rotating sum.
#include "archive/checksum.h"

#include "archive/reader.h"

namespace {

void fill_crc_table(uint32_t* table) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t x = i;
    for (int k = 0; k < 8; ++k) x = (x & 1) ? (x >> 1) ^ 0xEDB88320u : x >> 1;
    table[i] = x;
  }
}

uint32_t crc_with_table(const uint32_t* table, uint32_t crc, const uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) crc = (crc >> 8) ^ table[(crc ^ bytes[i]) & 0xFF];
  return crc;
}

}  // namespace

void init_crc_table(ArchiveReader* reader) { fill_crc_table(reader->crc_table); }

uint32_t crc32_update(const ArchiveReader* reader, uint32_t crc, const uint8_t* bytes, uint32_t count) {
  return crc_with_table(reader->crc_table, crc, bytes, count);
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

uint32_t crc32_of(uint32_t crc, const uint8_t* bytes, std::size_t count) {
  static const struct Table {
    uint32_t entries[256];
    Table() { fill_crc_table(entries); }
  } table;
  return crc_with_table(table.entries, crc, bytes, count);
}
