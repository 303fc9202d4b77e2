// A slow decoder that follows the format's steps literally: three-byte peeks,
// limit comparisons, byte-by-byte copies through the masked window. The tests
// hold the fast decoder to it on crafted, random and mutated streams.
#pragma once

#include <cstdint>

struct ArchiveReader;

namespace vxtest {

// Same contract as decompress_entry; works on the canonical fields of the
// reader's DecoderState (limits, starts, symbols) and ignores lookup tables.
void reference_decompress_entry(ArchiveReader* reader, uint8_t* window, int solid);

}  // namespace vxtest
