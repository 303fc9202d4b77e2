// The RAR 2.0 compressor: turns entries into packed streams that the decoder
// (unpack20.h) reads back, alone or as a solid chain that shares the 1 MB
// window, the match history and the code tables. Used by vxpack and the
// tests, never by the setup stub.
//
// Memory: about 13 MB per Packer at every level (sliding buffer 4 MB, hash
// chains 4 MB, hash heads 1.3 MB, tokens of one 256 KB segment at most 3 MB,
// their block statistics 0.4 MB); the best level adds 0.2 MB of parser
// nodes and the matches of one segment, kept for its second parse (a few
// MB). vxpack build at -m5 on the 59 MB benchmark payload peaks at 36 MB of
// resident memory, its largest file included. One Packer serves one chain;
// it uses one thread.
#pragma once

#include <cstdint>
#include <vector>

struct Packer;

inline constexpr int kPackFastest = 1;
inline constexpr int kPackBest = 5;

// A packer for levels 1 (fastest) to 5 (best); nullptr when memory is short.
Packer* create_packer(int level);
void destroy_packer(Packer* packer);

// Compresses one entry of size bytes into out (replacing its content). With
// solid set and an entry already packed, the stream continues the previous
// entries' state and *continued is set: the entry needs the solid flag.
// Otherwise the packer starts afresh and the entry must not carry the flag.
// The stream ends with the byte that holds the last symbol's final bit.
void pack_entry(Packer* packer, const uint8_t* data, uint32_t size, bool solid,
                std::vector<uint8_t>* out, bool* continued);

// Forgets the entry packed last, as if it had never been given: for an entry
// that is stored instead, whose bytes the decoder never sees. The next
// solid entry continues from the state before it.
void discard_last_entry(Packer* packer);

// The method byte of a level: 0x31 for level 1 up to 0x35 for level 5.
inline uint8_t pack_method(int level) { return static_cast<uint8_t>(0x30 + level); }
