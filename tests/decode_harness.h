// Runs the decompressor on packed entries the way the extraction driver does:
// one zero-filled ArchiveReader and one window per pass, packed bytes read
// from a file through read_packed, decoded bytes collected from write_unpacked.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "archive/memory.h"
#include "archive/reader.h"

namespace vxtest {

struct EntryResult {
  std::vector<uint8_t> output;  // every byte handed to write_unpacked, in order
  uint32_t packed_left;         // packed bytes the decoder did not read
  int32_t unpacked_left;        // negative after every decode
  int32_t pieces;               // calls of write_unpacked, empty ones included
};

class DecodePass {
 public:
  // folder holds the file packed bytes are served from.
  explicit DecodePass(const std::filesystem::path& folder);
  ~DecodePass();
  DecodePass(const DecodePass&) = delete;
  DecodePass& operator=(const DecodePass&) = delete;

  // Decodes one entry of the pass.
  EntryResult decode(const std::vector<uint8_t>& packed, uint32_t unpacked_size, bool solid);
  const DecoderState& state() const { return reader_->decoder; }

 private:
  std::filesystem::path path_;
  OwnedBlock record_;
  OwnedBlock window_;
  ArchiveReader* reader_;
};

}  // namespace vxtest
