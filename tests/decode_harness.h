// Runs a decoder on packed entries the way the extraction driver does: one
// zero-filled ArchiveReader and one window per pass, packed bytes read from a
// file through read_packed, decoded bytes collected from write_unpacked.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/memory.h"
#include "archive/reader.h"

namespace vxtest {

using Bytes = std::vector<uint8_t>;
using DecodeFunction = void (*)(ArchiveReader*, uint8_t*, int);

struct EntryResult {
  Bytes output;            // every byte handed to write_unpacked, in order
  uint32_t checksum;       // the CRC-32 over them, complemented (as stored in headers)
  uint32_t packed_left;    // packed bytes the decoder did not read
  int32_t unpacked_left;   // negative after every decode
  int32_t pieces;          // calls of write_unpacked, empty ones included
};

class DecodePass {
 public:
  // folder holds the file packed bytes are served from.
  DecodePass(DecodeFunction decode, const std::filesystem::path& folder, const std::string& tag = "packed");
  ~DecodePass();
  DecodePass(const DecodePass&) = delete;
  DecodePass& operator=(const DecodePass&) = delete;

  // Decodes one entry of the pass.
  EntryResult decode(const Bytes& packed, uint32_t unpacked_size, bool solid);
  ArchiveReader* reader() { return reader_; }
  const uint8_t* window() const { return window_.data; }

 private:
  DecodeFunction decode_;
  std::filesystem::path path_;
  OwnedBlock record_;
  OwnedBlock window_;
  ArchiveReader* reader_;
};

// The decoder states of two passes differ in a field that the format defines
// (positions, history, previous lengths, canonical tables, window): names the
// first such field, or returns "" when they agree.
std::string state_difference(DecodePass& a, DecodePass& b);

// Decodes one entry in both passes (the fast decoder and the reference) and
// compares output, counters and state; returns "" when they agree, else what
// differs. The fast pass's result goes to *result when given.
std::string compare_entry(DecodePass& fast, DecodePass& reference, const Bytes& packed, uint32_t unpacked_size,
                          bool solid, EntryResult* result = nullptr);

}  // namespace vxtest
