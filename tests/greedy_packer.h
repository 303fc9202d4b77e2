// A simple greedy compressor for the RAR 2.0 format, for tests and the
// benchmark: hash-chain matches, recent-distance and short matches, one code
// table per block of symbols. It aims at valid streams, not at ratio; the
// production compressor lives in the packer.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/bit_writer.h"

namespace vxtest {

struct PackOptions {
  uint32_t block_symbols = 1u << 15;  // symbols per code table
  int chain_depth = 16;               // candidates tried per position
};

// Packs each file as one entry. With solid, every entry after the first
// continues the one before it (window, tables, match history) and must be
// stored with the solid flag; the first entry never is.
std::vector<Bytes> greedy_pack(const std::vector<Bytes>& files, bool solid, const PackOptions& options = {});

}  // namespace vxtest
