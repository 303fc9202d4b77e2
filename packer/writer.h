// The archive writer: marker, main header (with the end mark), file headers
// with their header CRC, stored entries with their data checksum, the end
// blocks, both archive forms, appending behind an executable image. Used by
// vxpack and by the tests, never by the setup stub.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/headers.h"

enum class ArchiveForm {
  kMarked,  // "Rar!" marker, CRC-32 data checksums, header CRCs tested
  kOld,     // "RE~^" signature behind an image tagged RSFX at 28..31, 16-bit sums
};

// Everything a file header carries; names are 8-bit ANSI code page bytes.
struct EntrySpec {
  std::string name{};               // ANSI bytes, '\' or '/' between folders
  uint16_t head_flags = 0;          // FileFlags (solid, continued, directory...)
  uint8_t host_os = 2;              // Win32
  uint32_t file_time = 0;           // MS-DOS local time
  uint8_t unp_ver = 20;
  uint8_t method = kMethodStored;
  uint32_t file_attr = kAttrArchive;
  uint32_t unp_size = 0;
  uint32_t file_crc = 0;            // as stored (marked: complemented CRC-32)
};

struct ArchiveWriter {
  std::vector<uint8_t> bytes;       // the archive (and any image in front of it)
  ArchiveForm form = ArchiveForm::kMarked;
  std::size_t archive_offset = 0;   // where the marker or signature begins (0 once released)
  uint32_t released_crc = 0xFFFFFFFFu;  // running CRC-32 of the archive bytes already released
};

// Starts an archive at the end of writer->bytes (which may hold an image).
// Marked form: the marker and a main header with main_flags and kMainEndMark
// (bit 0x2000, which other readers of the format leave alone): the archive
// promises to end with the blocks of end_archive, so our reader takes an
// archive that ends before them as cut short. Old form: the
// image must be at least 32 bytes; "RSFX" goes to offsets 28..31 and the
// 13-byte old main header follows.
void begin_archive(ArchiveWriter* writer, ArchiveForm form, uint16_t main_flags = 0);
// Appends a file header with these fields (head_size from the name, head_crc computed)
// and pack_size bytes of packed data.
void add_entry(ArchiveWriter* writer, const EntrySpec& header, const uint8_t* packed,
               uint32_t pack_size);
// The file header alone: the caller writes the pack_size bytes of data behind
// it (vxpack streams large entries straight to the output file).
void add_entry_header(ArchiveWriter* writer, const EntrySpec& header, uint32_t pack_size);
// Stores data as-is (method 0x30) with the checksum of the archive's form.
void add_stored_entry(ArchiveWriter* writer, EntrySpec header, const uint8_t* data, uint32_t size);
// Appends a raw block: 7-byte base header (CRC computed) plus extra bytes.
void add_raw_block(ArchiveWriter* writer, uint8_t type, uint16_t flags,
                   const std::vector<uint8_t>& body);
// Ends the archive with a block that every walk treats as the end, so data
// appended later (a code signature) is never read as entries: the end block
// (type 0x7B), then seven zero bytes. Every marked archive must end here.
// The end block is 11 bytes: head_crc, type 0x7B, flags 0x4000 |
// kEndArchiveChecksum (0x0100), head_size 11, then the CRC-32 (complemented,
// as the data checksums) of every archive byte before the end block, from
// the marker (or old signature) on. Its header checksum covers that CRC too;
// other readers pass over it by head_size. Our reader tests it when a pass
// has read every byte of the archive in order (every entry decoded).
void end_archive(ArchiveWriter* writer);

// Empties writer->bytes once the caller has stored them (an archive written
// piece by piece, after begin_archive); end_archive's archive checksum still
// covers them.
void release_written(ArchiveWriter* writer);

// Counts bytes that the caller stored itself right behind the released ones
// (data written from its own buffer) into end_archive's archive checksum.
void release_stored(ArchiveWriter* writer, const uint8_t* bytes, std::size_t count);
// Continues a CRC-32 that starts at 0xFFFFFFFF (complement the result), for
// data checksums computed piece by piece.
uint32_t crc32_continue(uint32_t crc, const uint8_t* bytes, std::size_t count);
// The data checksum of the form, ready for EntrySpec::file_crc.
uint32_t entry_checksum(ArchiveForm form, const uint8_t* data, std::size_t size);
// Encodes calendar parts as an MS-DOS date/time (two-second resolution);
// years before 1980 clamp to 1980-01-01 00:00:00, after 2107 to 2107-12-31.
uint32_t dos_time_from_parts(int year, int month, int day, int hour, int minute, int second);
