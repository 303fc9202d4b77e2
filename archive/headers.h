// Locating the archive inside a file (at offset 0, or behind a program image in
// the marked or the old signature form) and walking its blocks: the header
// records of the RAR 1.5-2.0 block format and the one block walk that the
// extraction driver and vxpack's listing share. The walk only moves forward,
// stays within 32-bit positions, and tells damage (a header cut short or
// failing its checksum, data placed before its own header, a missing end, an
// archive checksum mismatch) apart from the end of the archive.
#pragma once

#include <cstdint>
#include <cstdio>

struct ArchiveReader;

// The 7 marker bytes "Rar!\x1A\x07\x00" and the 4 bytes of the old signature.
inline constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
inline constexpr uint8_t kOldSignature[4] = {0x52, 0x45, 0x7E, 0x5E};  // "RE~^"
inline constexpr uint8_t kOldSfxTag[4] = {0x52, 0x53, 0x46, 0x58};     // "RSFX" at 28..31

inline constexpr int kMainHeaderSize = 13;
inline constexpr int kFileHeaderSize = 32;
inline constexpr int kMaxNameBytes = 259;
inline constexpr int kScanBufferSize = 250000;  // the scan reads 249,999 bytes

enum BlockType : uint8_t {
  kBlockMain = 0x73,
  kBlockFile = 0x74,
  kBlockSub = 0x77,
  kBlockEnd = 0x7B,  // end of archive; acted on only in archives with kMainEndMark
};

enum FileFlags : uint16_t {
  kFlagContinuedFromPrevious = 0x0001,
  kFlagContinuedInNext = 0x0002,
  kFlagEncrypted = 0x0004,
  kFlagSolid = 0x0010,
  kFlagDirectoryMask = 0x00E0,  // all three bits: a directory
  kFlagLongBlock = 0x8000,      // 4 bytes at offset 7 give the data size
};

enum MainFlags : uint16_t {
  kMainVolume = 0x0001,
  // The archive ends with the two terminating blocks that end_archive writes
  // (archive/writer.h); reaching the end of the file before them is damage.
  kMainEndMark = 0x2000,
};

// Flag of the end block (kBlockEnd): a CRC-32 of the archive follows its 7
// bytes (archive/writer.h gives the layout).
inline constexpr uint16_t kEndArchiveChecksum = 0x0100;

// read_block and the walk: the archive is damaged (a negative count).
inline constexpr int kBlockDamaged = -1;

enum FileAttributes : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrVolumeLabel = 0x08,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
};

enum ArchiveFormat : uint32_t { kFormatNone = 0, kFormatOld = 1, kFormatMarked = 2 };

// Results of find_archive.
enum ArchiveLocation : int32_t {
  kLocationNone = 0,      // no archive
  kLocationPlain = 1,     // marked archive at offset 0, not a volume
  kLocationVolume = 2,    // marked archive whose main header has the volume bit
  kLocationAppended = 3,  // found by the scan behind a program image
};

inline constexpr uint8_t kMethodStored = 0x30;

struct MainHeader {
  uint16_t head_crc;    // low 16 bits of the complemented CRC-32 of bytes 2..12
  uint8_t head_type;    // 0x73
  uint16_t head_flags;  // 0x0001: volume
  uint16_t head_size;   // whole main header; bytes past 13 are skipped
  uint16_t reserved1;   // read, not used
  uint32_t reserved2;   // read, not used
};

struct FileHeader {
  uint16_t head_crc;    // low 16 bits of the complemented CRC-32 of bytes 2..31 + name
  uint8_t head_type;    // 0x74 for a file entry
  uint16_t head_flags;  // FileFlags
  uint16_t head_size;   // whole header, name included
  uint32_t pack_size;   // packed data behind the header (other blocks: data size)
  uint32_t unp_size;    // unpacked size
  uint8_t host_os;      // 0 MS-DOS, 1 OS/2, 2 Win32, 3 Unix
  uint32_t file_crc;    // checksum of the unpacked data
  uint32_t file_time;   // MS-DOS local time: date high 16 bits, time low 16 bits
  uint8_t unp_ver;      // version needed: 15 or 20
  uint8_t method;       // 0x30 stored, 0x31..0x35 compressed
  uint16_t name_size;   // name bytes (cut to 259 on reading)
  uint32_t file_attr;   // FileAttributes
};

// The block at which the last walk stopped.
struct BlockSummary {
  uint16_t head_crc;
  uint8_t head_type;
  uint16_t head_flags;
  uint16_t head_size;
  uint32_t data_size;  // the value at offset 7
};

// Reads count bytes from f and, while the walk keeps the archive checksum,
// continues it over the bytes not covered before. Returns the bytes read. f is
// archive_file (packed_source names the same stream): the bytes read move the
// position the reader keeps for it.
int read_archive(ArchiveReader* reader, std::FILE* f, void* buffer, int count);
// Moves archive_file to offset; a seek to where the stream stands is skipped.
void seek_archive(ArchiveReader* reader, int32_t offset);
// Finds the archive in the freshly opened archive_file (crc_table filled).
// Returns an ArchiveLocation; leaves the stream behind the 13 main header bytes.
int32_t find_archive(ArchiveReader* reader);
// Reads a main (0x73) or file (0x74) header; returns the bytes read.
int read_header(ArchiveReader* reader, int type);
// Walks to the next block of the requested type (low byte; bit 0x8000: stop at
// sub-blocks too). Returns the header bytes consumed, 0 at the end, or
// kBlockDamaged. A header checksum mismatch of a file entry (marked form)
// sets entry_header_damaged and still returns the entry.
int read_block(ArchiveReader* reader, int request);
// Positions the stream at the first block behind the main header found by
// find_archive. 0, or kBlockDamaged when the main header is unsound: its
// head_size is below 13 or (marked form) its checksum does not match. In an
// archive with the end mark it starts the archive checksum, which the walk
// keeps while it reads every byte in order and tests at the end block.
int begin_walk(ArchiveReader* reader);
// Walks on from next_block to the next file entry, passing over other
// blocks, and maps its attributes. Same results as read_block.
int next_entry(ArchiveReader* reader);
// Maps unknown hosts to MS-DOS and folder separators to '\'.
void normalise_entry(ArchiveReader* reader);
// Attributes of Unix and other hosts: 0x10 for directories, else 0x20.
void map_entry_attributes(ArchiveReader* reader);
