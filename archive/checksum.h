// The two data checksums of the archive format: CRC-32 (reflected, polynomial
// 0xEDB88320, the zlib CRC) and the 16-bit rotating sum of the old signature form.
#pragma once

#include <cstddef>
#include <cstdint>

struct ArchiveReader;

// CRC-32 lookup tables: [0] by byte, [1..7] to fold in eight bytes a step.
typedef uint32_t Crc32Tables[8][256];
void fill_crc32_tables(Crc32Tables tables);
// Continues a CRC-32 over count bytes with filled tables.
uint32_t crc32_with_tables(const Crc32Tables tables, uint32_t crc, const uint8_t* bytes, std::size_t count);

// Fills the reader's CRC-32 lookup table.
void init_crc_table(ArchiveReader* reader);
// Continues a CRC-32 (callers start at 0xFFFFFFFF and compare the complement).
uint32_t crc32_update(const ArchiveReader* reader, uint32_t crc, const uint8_t* bytes, uint32_t count);
// Continues the 16-bit sum: add each byte modulo 65536, then rotate left by one.
uint32_t checksum16_update(uint32_t sum, const uint8_t* bytes, uint32_t count);
// kind 1: the 16-bit sum from the low 16 bits of value; any other kind: CRC-32.
uint32_t update_checksum(const ArchiveReader* reader, uint32_t value, const uint8_t* bytes,
                         uint32_t count, int kind);
