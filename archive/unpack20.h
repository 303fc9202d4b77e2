// The RAR 2.0 decompressor: LZ77 over the 1 MB window with Huffman-coded
// literals, matches, recent-distance repeats and in-stream table changes.
// Entries of a solid archive continue the window, tables and match history.
#pragma once

#include <cstdint>

#include "archive/decoder_state.h"

struct ArchiveReader;

// Decodes the current entry: pulls packed bytes through read_packed and pushes
// every decoded byte, in order, to write_unpacked. No result; the data checksum
// decides. window is the pass's 2^20-byte window; solid != 0 continues the state.
// On return unpacked_left is negative.
void decompress_entry(ArchiveReader* reader, uint8_t* window, int solid);

// Building blocks, also used by the tests.

// Builds the canonical code of count symbols from 4-bit code lengths: limits,
// starts, the sorted symbol list and the lookup table beside them. Positions of
// the symbol list past the symbols placed keep what they held. The count picks
// what lookup entries carry (DecodeTable::fast): 48 distances, 28 lengths of
// recent-distance matches, any other count the symbols.
void build_decode_table(const uint8_t* lengths, DecodeTable* table, uint32_t count);
// Decodes one symbol from the top 16 bits of bits16 (its lowest bit is
// ignored); stores the code length in *length. Equals the canonical decode:
// the shortest length whose limit lies above the bits, symbols[0] for an index
// at or past count.
uint32_t decode_bits(const DecodeTable* table, uint32_t bits16, uint32_t* length);
