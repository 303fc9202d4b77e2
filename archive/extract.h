// extract_archive: the archive reader's single entry point. One pass over the
// archive in a file, asking an EntryCallback per file entry what to do with it
// (drop it, take it into memory, or write it to a file), with the stored copy,
// the data checksum test and the extracted files' times and attributes.
#pragma once

#include <cstdint>

#include "archive/reader.h"

// Results of extract_archive.
enum ExtractResult : int {
  kExtractOk = 0,              // every entry handled, or the callback ended the pass
  kExtractNoReader = 1,        // the ArchiveReader (or the memory sink) cannot be allocated
  kExtractNoArchive = 2,       // cannot open, no archive, or first entry continued
  kExtractBadChecksum = 3,     // damaged: a data or header checksum, a short entry or a broken block walk
  kExtractNoWindow = 9,        // the 2^20-byte window cannot be allocated
  kExtractNoCopyBuffer = -1,   // the stored copy cannot allocate its buffer
  kExtractCannotCreate = -5,   // an output file cannot be created
};

// Runs one complete pass. Returns an ExtractResult.
int extract_archive(const WideChar* archive_path, EntryCallback callback, void* user);
// The pass loop over an allocated, initialised reader.
int extract_entries(ArchiveReader* reader);
// Copies a stored entry to the sink in 32,768-byte pieces: 0, or -1.
int copy_stored(ArchiveReader* reader);
// Hands decoded bytes to the entry's sink and updates data_checksum.
uint32_t write_unpacked(ArchiveReader* reader, const uint8_t* bytes, uint32_t count);
// Reads up to count bytes of the entry's packed data; 0 when none could be read.
uint32_t read_packed(ArchiveReader* reader, uint8_t* buffer, uint32_t count);
