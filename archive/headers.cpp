// Locating the archive and walking its blocks. Header fields are decoded from
// a zero-filled local buffer through one bounded little-endian cursor.
#include "archive/headers.h"

#include <cstdint>
#include <cstring>

#include "archive/checksum.h"
#include "archive/reader.h"

namespace {

// Reads little-endian fields from a fixed buffer; reads past the end give 0.
struct ByteCursor {
  const uint8_t* bytes;
  int size;
  int pos;
};

uint32_t take(ByteCursor* c, int width) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) {
    const int at = c->pos + i;
    if (at < c->size) v |= static_cast<uint32_t>(c->bytes[at]) << (8 * i);
  }
  c->pos += width;
  return v;
}

// The walk keeps the stream's position itself: asking the stream costs a
// system call, and a seek drops the stream's buffer even when it goes nowhere.
int read_bytes(ArchiveReader* r, std::FILE* f, void* buffer, int count) {
  const int n = static_cast<int>(std::fread(buffer, 1, static_cast<std::size_t>(count), f));
  r->file_pos += n;
  return n;
}

bool crc_matches(uint16_t head_crc, uint32_t running) {
  return head_crc == static_cast<uint16_t>(~running & 0xFFFF);
}

// The two scan tests at buffer index i; out-of-range bytes never match.
bool old_signature_at(const uint8_t* buf, int valid, int i, int file_pos) {
  if (i + 3 >= valid) return false;
  if (buf[i + 1] != kOldSignature[1] || buf[i + 2] != kOldSignature[2] || buf[i + 3] != kOldSignature[3])
    return false;
  for (int k = 0; k < 4; ++k) {
    const int at = 28 + k - file_pos;
    if (at < 0 || at >= valid || buf[at] != kOldSfxTag[k]) return false;
  }
  return true;
}

bool marker_at(const uint8_t* buf, int valid, int i) {
  if (i + 9 >= valid) return false;
  for (int k = 1; k < 7; ++k) {
    if (buf[i + k] != kMarker[k]) return false;
  }
  return buf[i + 9] == kBlockMain;
}

// Scans the bytes behind the first 7 for an archive behind a program image.
int32_t scan_for_archive(ArchiveReader* r) {
  OwnedBlock buffer = alloc_zeroed(kScanBufferSize);
  if (buffer.data == nullptr) return kLocationNone;
  const int file_pos = r->file_pos;
  const int valid = read_bytes(r, r->archive_file, buffer.data, kScanBufferSize - 1);
  const uint8_t* buf = buffer.data;
  for (int i = 0; i < valid && r->location == kLocationNone; ++i) {
    if (buf[i] != 0x52) continue;
    // A candidate whose main header is cut short by the end of the file is
    // passed over, like a short main header at offset 0.
    if (old_signature_at(buf, valid, i, file_pos)) {
      seek_archive(r, file_pos + i);
      if (read_header(r, kBlockMain) != kMainHeaderSize) continue;
      r->archive_format = kFormatOld;
      r->archive_offset = file_pos + i;
      r->location = kLocationAppended;
    } else if (marker_at(buf, valid, i)) {
      seek_archive(r, file_pos + i);
      read_bytes(r, r->archive_file, r->marker, 7);
      if (read_header(r, kBlockMain) != kMainHeaderSize) continue;
      r->archive_format = kFormatMarked;
      r->archive_offset = file_pos + i;
      r->location = (r->main_header.head_flags & kMainVolume) ? kLocationVolume : kLocationAppended;
    }
  }
  release(&buffer);
  return r->location;
}

// Continues header_crc over the next count bytes of the stream; false when
// the file ends first.
bool crc_over_stream(ArchiveReader* r, uint32_t count) {
  uint8_t piece[256];
  while (count > 0) {
    const int want = count < sizeof piece ? static_cast<int>(count) : static_cast<int>(sizeof piece);
    if (read_archive(r, r->archive_file, piece, want) != want) return false;
    r->header_crc = crc32_update(r, r->header_crc, piece, static_cast<uint32_t>(want));
    count -= static_cast<uint32_t>(want);
  }
  return true;
}

bool has_end_mark(const ArchiveReader* r) {
  return r->archive_format == kFormatMarked && (r->main_header.head_flags & kMainEndMark) != 0;
}

// A block other than a file entry: its whole header must be in the file. In
// an archive with the end mark every block was sealed by our writer, so its
// checksum must match too (a changed type byte must not hide an entry).
bool other_header_sound(ArchiveReader* r, bool end_mark) {
  seek_archive(r, r->block_start + 2);
  r->header_crc = 0xFFFFFFFFu;
  if (!crc_over_stream(r, r->entry.head_size - 2u)) return false;
  return !end_mark || crc_matches(r->entry.head_crc, r->header_crc);
}

// The seven zero bytes behind the end block.
bool zero_block_follows(ArchiveReader* r) {
  uint8_t tail[7];
  seek_archive(r, r->next_block);
  if (read_bytes(r, r->archive_file, tail, 7) != 7) return false;
  for (const uint8_t b : tail) {
    if (b != 0) return false;
  }
  return true;
}

// The archive checksum stored in the end block, when its flag says there is
// one, must match the bytes before the block. A pass that did not read every
// byte in order (an entry passed over by seeking) cannot make the test.
bool archive_checksum_sound(ArchiveReader* r) {
  if (!(r->entry.head_flags & kEndArchiveChecksum)) return true;
  if (!r->archive_crc_on) return true;
  uint8_t stored[4];
  seek_archive(r, r->block_start + 7);
  if (read_bytes(r, r->archive_file, stored, 4) != 4) return false;
  ByteCursor c{stored, 4, 0};
  return take(&c, 4) == ~r->crc_at_block;
}

// Reads the rest of a file entry's header behind its 32 fixed bytes: the name
// (cut to 259 bytes in entry_name) and any bytes up to head_size. All of it
// must be in the file; in the marked form the header checksum covers all of
// it. Returns the name bytes kept, or kBlockDamaged.
int read_entry_rest(ArchiveReader* r) {
  FileHeader& e = r->entry;
  if (e.head_size < kFileHeaderSize + e.name_size) return kBlockDamaged;
  const int kept = e.name_size > kMaxNameBytes ? kMaxNameBytes : e.name_size;
  if (read_archive(r, r->archive_file, r->entry_name, kept) != kept) return kBlockDamaged;
  r->entry_name[kept] = 0;
  r->header_crc = crc32_update(r, r->header_crc, reinterpret_cast<const uint8_t*>(r->entry_name),
                               static_cast<uint32_t>(kept));
  if (!crc_over_stream(r, e.head_size - kFileHeaderSize - static_cast<uint32_t>(kept))) return kBlockDamaged;
  if (r->archive_format == kFormatMarked && !crc_matches(e.head_crc, r->header_crc)) {
    r->entry_header_damaged = true;
  }
  e.name_size = static_cast<uint16_t>(kept);
  normalise_entry(r);
  return kept;
}

}  // namespace

int32_t find_archive(ArchiveReader* r) {
  r->file_pos = 0;
  r->location = kLocationNone;
  r->archive_offset = 0;
  r->main_header_damaged = false;
  r->archive_format = kFormatNone;
  if (read_bytes(r, r->archive_file, r->marker, 7) < 7) return kLocationNone;
  if (std::memcmp(r->marker, kMarker, 7) == 0) {
    r->archive_format = kFormatMarked;
    if (read_header(r, kBlockMain) != kMainHeaderSize) return kLocationNone;
    r->location = (r->main_header.head_flags & kMainVolume) ? kLocationVolume : kLocationPlain;
  } else if (scan_for_archive(r) == kLocationNone) {
    return kLocationNone;
  }
  r->main_header_read = kMainHeaderSize;
  if (!crc_matches(r->main_header.head_crc, r->header_crc)) r->main_header_damaged = true;
  return r->location;
}

int read_header(ArchiveReader* r, int type) {
  uint8_t raw[kFileHeaderSize] = {};
  const int want = type == kBlockMain ? kMainHeaderSize : kFileHeaderSize;
  int n = read_archive(r, r->archive_file, raw, type == kBlockMain ? want : 7);
  // Only the bytes the block's layout has, so that the archive checksum
  // never runs ahead of the walk into the next block.
  if (n == 7 && type != kBlockMain) {
    const bool long_block = ((raw[3] | raw[4] << 8) & kFlagLongBlock) != 0;
    const int more = raw[2] == kBlockFile ? kFileHeaderSize - 7 : long_block ? 4 : 0;
    n += read_archive(r, r->archive_file, raw + 7, more);
  }
  ByteCursor c{raw, want, 0};
  if (type == kBlockMain) {
    MainHeader& h = r->main_header;
    h.head_crc = static_cast<uint16_t>(take(&c, 2));
    h.head_type = static_cast<uint8_t>(take(&c, 1));
    h.head_flags = static_cast<uint16_t>(take(&c, 2));
    h.head_size = static_cast<uint16_t>(take(&c, 2));
    h.reserved1 = static_cast<uint16_t>(take(&c, 2));
    h.reserved2 = take(&c, 4);
  } else {
    FileHeader& h = r->entry;
    h.head_crc = static_cast<uint16_t>(take(&c, 2));
    h.head_type = static_cast<uint8_t>(take(&c, 1));
    h.head_flags = static_cast<uint16_t>(take(&c, 2));
    h.head_size = static_cast<uint16_t>(take(&c, 2));
    h.pack_size = take(&c, 4);
    h.unp_size = take(&c, 4);
    h.host_os = static_cast<uint8_t>(take(&c, 1));
    h.file_crc = take(&c, 4);
    h.file_time = take(&c, 4);
    h.unp_ver = static_cast<uint8_t>(take(&c, 1));
    h.method = static_cast<uint8_t>(take(&c, 1));
    h.name_size = static_cast<uint16_t>(take(&c, 2));
    h.file_attr = take(&c, 4);
  }
  r->header_crc = crc32_update(r, 0xFFFFFFFFu, raw + 2, static_cast<uint32_t>(want - 2));
  return n;
}

int read_block(ArchiveReader* r, int request) {
  r->entry_header_damaged = false;
  const FileHeader saved = r->entry;
  const int type = request & 0xFF;
  const bool stop_at_sub_blocks = (request & 0x8000) != 0;
  const bool end_mark = has_end_mark(r);
  FileHeader& h = r->entry;
  int n;
  int64_t next;
  // Every way out but a file entry keeps the previous entry and leaves the
  // stream at the block's start.
  auto leave = [&](int result) {
    r->block = BlockSummary{h.head_crc, h.head_type, h.head_flags, h.head_size, h.pack_size};
    r->entry = saved;
    seek_archive(r, r->block_start);
    return result;
  };
  for (;;) {
    r->block_start = r->file_pos;
    // The archive checksum of the bytes before this block, for the end block's test.
    if (r->archive_crc_end == r->block_start) r->crc_at_block = r->archive_crc;
    n = read_header(r, kBlockFile);
    // Nothing at a block boundary, or a block smaller than the base header,
    // is the end; an archive with the end mark must end with its end block.
    if (n == 0 || (n >= 7 && h.head_size < 7)) return leave(end_mark ? kBlockDamaged : 0);
    const int needed = h.head_type == kBlockFile ? kFileHeaderSize : (h.head_flags & kFlagLongBlock) ? 11 : 7;
    if (n < needed || h.head_size < needed) return leave(kBlockDamaged);
    next = static_cast<int64_t>(r->block_start) + h.head_size;
    if (h.head_flags & kFlagLongBlock) next += h.pack_size;
    if (next > INT32_MAX) return leave(kBlockDamaged);  // beyond the reader's 32-bit positions
    r->next_block = static_cast<int32_t>(next);
    if (h.head_type != kBlockFile) {
      if (!other_header_sound(r, end_mark)) return leave(kBlockDamaged);
      if (end_mark && h.head_type == kBlockEnd) {
        return leave(zero_block_follows(r) && archive_checksum_sound(r) ? 0 : kBlockDamaged);
      }
    }
    if (type == 0 || h.head_type == type || (h.head_type == kBlockSub && stop_at_sub_blocks)) break;
    seek_archive(r, r->next_block);
  }
  if (h.head_type != type || type != kBlockFile) return leave(n);
  // The entry's data begins at next_block - pack_size: never inside its own header.
  if (next - h.pack_size < static_cast<int64_t>(r->block_start) + h.head_size) return leave(kBlockDamaged);
  const int kept = read_entry_rest(r);
  if (kept < 0) return leave(kBlockDamaged);
  r->block = BlockSummary{h.head_crc, h.head_type, h.head_flags, h.head_size, h.pack_size};
  return n + kept;
}

int begin_walk(ArchiveReader* r) {
  const MainHeader& m = r->main_header;
  const int rest = m.head_size > r->main_header_read ? m.head_size - r->main_header_read : 0;
  r->next_block = r->file_pos + rest;
  seek_archive(r, r->next_block);
  if (m.head_size < kMainHeaderSize) return kBlockDamaged;
  if (r->archive_format == kFormatMarked && r->main_header_damaged) return kBlockDamaged;
  r->archive_crc_on = false;
  if (!has_end_mark(r)) return 0;
  // The archive checksum begins at the marker and covers the whole main header.
  seek_archive(r, r->archive_offset);
  r->archive_crc = 0xFFFFFFFFu;
  r->archive_crc_end = r->archive_offset;
  r->archive_crc_on = true;
  return crc_over_stream(r, static_cast<uint32_t>(r->next_block - r->archive_offset)) ? 0 : kBlockDamaged;
}

int read_archive(ArchiveReader* r, std::FILE* f, void* buffer, int count) {
  const int64_t at = r->file_pos;
  const int n = read_bytes(r, f, buffer, count);
  if (!r->archive_crc_on || n <= 0) return n;
  if (at > r->archive_crc_end) {
    r->archive_crc_on = false;  // bytes were passed over: the checksum cannot be tested
  } else if (at + n > r->archive_crc_end) {
    const int from = static_cast<int>(r->archive_crc_end - at);
    r->archive_crc = crc32_update(r, r->archive_crc, static_cast<const uint8_t*>(buffer) + from,
                                  static_cast<uint32_t>(n - from));
    r->archive_crc_end = static_cast<int32_t>(at + n);
  }
  return n;
}

void seek_archive(ArchiveReader* r, int32_t offset) {
  if (offset == r->file_pos) return;
  // Every offset the walk seeks to is at least 0, where a seek cannot fail.
  std::fseek(r->archive_file, offset, SEEK_SET);
  r->file_pos = offset;
}

int next_entry(ArchiveReader* r) {
  seek_archive(r, r->next_block);
  const int n = read_block(r, kBlockFile);
  if (n > 0) map_entry_attributes(r);
  return n;
}

void normalise_entry(ArchiveReader* r) {
  FileHeader& e = r->entry;
  if (e.host_os > 3) {
    e.host_os = 0;
    e.file_attr = (e.head_flags & kFlagDirectoryMask) == kFlagDirectoryMask ? kAttrDirectory : kAttrArchive;
  }
  for (char* p = r->entry_name; *p != 0; ++p) {
    if (*p == '/') *p = '\\';
  }
}

void map_entry_attributes(ArchiveReader* r) {
  FileHeader& e = r->entry;
  if (e.host_os >= 3) {
    e.file_attr = (e.head_flags & kFlagDirectoryMask) == kFlagDirectoryMask ? kAttrDirectory : kAttrArchive;
  }
}
