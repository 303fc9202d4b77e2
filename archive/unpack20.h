// The RAR 2.0 decompressor: LZ77 over the 1 MB window with Huffman-coded
// literals, matches, recent-distance repeats and in-stream table changes.
// Entries of a solid archive continue the window, tables and match history.
#pragma once

#include <cstdint>

struct ArchiveReader;

// Decodes the current entry: pulls packed bytes through read_packed and pushes
// every decoded byte, in order, to write_unpacked. No result; the data checksum
// decides. window is the pass's 2^20-byte window; solid != 0 continues the state.
void decompress_entry(ArchiveReader* reader, uint8_t* window, int solid);
