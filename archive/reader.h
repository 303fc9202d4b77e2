// ArchiveReader: the record of one pass over an archive. extract_archive
// allocates it zero-filled and releases it; the block walk, the extraction
// driver and the decoder all work on it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/decoder_state.h"
#include "archive/headers.h"
#include "archive/memory.h"
#include "support/text.h"

struct ByteBuffer;

// (name buffer of 260 characters, data or nullptr, unp_size, user) -> 0 to go on.
// On the first call (data nullptr) the first character left in the name picks
// the sink: 0 none, 1..31 memory (a second call brings the bytes followed by a
// zero byte), 32 and above the path of a file to create.
using EntryCallback = int32_t (*)(WideChar* name, const uint8_t* data, uint32_t size, void* user);

inline constexpr int kNameCapacity = 260;

struct ArchiveReader {
  uint8_t marker[7];                  // the marker as read (old form: the file's first 7 bytes)
  MainHeader main_header;             // the main header as read
  FileHeader entry;                   // the current entry's header
  BlockSummary block;                 // the block at which the last walk stopped
  EntryCallback entry_callback;       // the caller's callback
  void* user_data;                    // passed unchanged to every callback
  ByteBuffer* memory_sink;            // set for an entry that goes to memory
  const WideChar* archive_path;       // the executable to read
  OwnedBlock window;                  // the 2^20-byte window of the pass
  char entry_name[kNameCapacity];     // the current entry's 8-bit name
  std::FILE* archive_file;            // the opened executable
  int32_t file_pos;                   // archive_file's position, kept by every read and seek
  int32_t location;                   // result of find_archive
  int32_t archive_offset;             // file offset of the archive found by the scan
  bool skip_output;                   // the current entry has no sink
  bool sink_failed;                   // the memory sink could not take all bytes
  bool main_header_damaged;           // main header checksum mismatch
  bool entry_header_damaged;          // current entry header checksum mismatch
  int32_t main_header_read;           // main header bytes consumed: 13
  int32_t block_start;                // file offset of the current block's header
  int32_t next_block;                 // file offset of the block after it
  std::FILE* packed_source;           // where packed data is read from: archive_file itself
  std::FILE* output_file;             // the current entry's output file, or nullptr
  uint32_t packed_left;               // packed bytes of the entry not yet read
  int32_t unpacked_left;              // unpacked bytes still to produce
  uint32_t delivered;                 // bytes of the current entry its sink took
  uint32_t data_checksum;             // running checksum of the unpacked data
  uint32_t header_crc;                // running header CRC-32
  bool archive_crc_on;                // archive checksum kept: every byte so far read in order
  int32_t archive_crc_end;            // file offset up to which archive_crc covers the archive
  uint32_t archive_crc;               // running CRC-32 from the archive's first byte
  uint32_t crc_at_block;              // archive_crc at block_start (taken when the walk got there)
  uint32_t archive_format;            // ArchiveFormat
  uint32_t crc_table[8][256];         // CRC-32 tables: [0] by byte, [1..7] for 8 bytes a step
  DecoderState decoder;               // the decompressor's state
};
