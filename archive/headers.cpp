// Locating the archive and walking its blocks. Header fields are decoded from
// a zero-filled local buffer through one bounded little-endian cursor.
#include "archive/headers.h"

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

int read_bytes(std::FILE* f, void* buffer, int count) {
  return static_cast<int>(std::fread(buffer, 1, static_cast<std::size_t>(count), f));
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
  const int file_pos = static_cast<int>(std::ftell(r->archive_file));
  const int valid = read_bytes(r->archive_file, buffer.data, kScanBufferSize - 1);
  const uint8_t* buf = buffer.data;
  for (int i = 0; i < valid && r->location == kLocationNone; ++i) {
    if (buf[i] != 0x52) continue;
    if (old_signature_at(buf, valid, i, file_pos)) {
      r->archive_format = kFormatOld;
      r->archive_offset = file_pos + i;
      std::fseek(r->archive_file, r->archive_offset, SEEK_SET);
      read_header(r, kBlockMain);
      r->location = kLocationAppended;
    } else if (marker_at(buf, valid, i)) {
      r->archive_format = kFormatMarked;
      r->archive_offset = file_pos + i;
      std::fseek(r->archive_file, r->archive_offset, SEEK_SET);
      read_bytes(r->archive_file, r->marker, 7);
      read_header(r, kBlockMain);
      r->location = (r->main_header.head_flags & kMainVolume) ? kLocationVolume : kLocationAppended;
    }
  }
  release(&buffer);
  return r->location;
}

}  // namespace

int32_t find_archive(ArchiveReader* r) {
  r->location = kLocationNone;
  r->archive_offset = 0;
  r->main_header_damaged = false;
  r->archive_format = kFormatNone;
  if (read_bytes(r->archive_file, r->marker, 7) < 7) return kLocationNone;
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
  const int n = read_bytes(r->archive_file, raw, want);
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
  int n;
  for (;;) {
    r->block_start = static_cast<int32_t>(std::ftell(r->archive_file));
    n = read_header(r, kBlockFile);
    // A header cut short by the end of the file is the end of the archive.
    if (n < kFileHeaderSize) n = 0;
    if (n != 0) {
      if (r->entry.head_size < 7) return 0;
      uint32_t next = static_cast<uint32_t>(r->block_start) + r->entry.head_size;
      if (r->entry.head_flags & kFlagLongBlock) next += r->entry.pack_size;
      r->next_block = static_cast<int32_t>(next);
      if (r->next_block <= r->block_start) return 0;
    }
    if (n == 0 || type == 0 || r->entry.head_type == type ||
        (r->entry.head_type == kBlockSub && stop_at_sub_blocks)) {
      break;
    }
    std::fseek(r->archive_file, r->next_block, SEEK_SET);
  }
  r->block.head_crc = r->entry.head_crc;
  r->block.head_type = r->entry.head_type;
  r->block.head_flags = r->entry.head_flags;
  r->block.head_size = r->entry.head_size;
  r->block.data_size = r->entry.pack_size;
  if (n > 0 && r->entry.head_type == type) {
    if (r->entry.name_size > kMaxNameBytes) r->entry.name_size = kMaxNameBytes;
    const int got = read_bytes(r->archive_file, r->entry_name, r->entry.name_size);
    r->entry_name[got] = 0;
    const uint32_t crc = crc32_update(r, r->header_crc, reinterpret_cast<const uint8_t*>(r->entry_name),
                                      r->entry.name_size);
    if (r->archive_format == kFormatMarked && !crc_matches(r->entry.head_crc, crc)) {
      r->entry_header_damaged = true;
    }
    n += r->entry.name_size;
    normalise_entry(r);
  } else {
    r->entry = saved;
    std::fseek(r->archive_file, r->block_start, SEEK_SET);
  }
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
