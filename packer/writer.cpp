// The archive writer: the block format's headers, byte for byte.
#include "packer/writer.h"

#include "archive/checksum.h"

uint32_t crc32_continue(uint32_t crc, const uint8_t* bytes, std::size_t count) {
  static const struct Tables {
    Crc32Tables entries;
    Tables() { fill_crc32_tables(entries); }
  } tables;
  return crc32_with_tables(tables.entries, crc, bytes, count);
}

namespace {

// The complemented CRC-32 of the bytes.
uint32_t crc32_of(const uint8_t* bytes, std::size_t count) { return ~crc32_continue(0xFFFFFFFFu, bytes, count); }

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// Stores the low 16 bits of the complemented CRC-32 of header[2..] at header[0..1].
void seal_header(std::vector<uint8_t>& out, std::size_t start) {
  const uint32_t crc = crc32_of(out.data() + start + 2, out.size() - start - 2);
  out[start] = static_cast<uint8_t>(crc);
  out[start + 1] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace

void begin_archive(ArchiveWriter* w, ArchiveForm form, uint16_t main_flags) {
  std::vector<uint8_t>& out = w->bytes;
  w->form = form;
  if (form == ArchiveForm::kOld) {
    if (out.size() < 32) out.resize(32, 0);
    for (int k = 0; k < 4; ++k) out[28 + k] = kOldSfxTag[k];
    w->archive_offset = out.size();
    // The 13 bytes from the signature on are read with the main header layout:
    // "RE~^" fill head_crc, head_type and the low flag byte.
    out.insert(out.end(), kOldSignature, kOldSignature + 4);
    out.push_back(0);   // high flag byte
    put16(out, 13);     // head_size
    put16(out, 0);
    put32(out, 0);
    return;
  }
  w->archive_offset = out.size();
  out.insert(out.end(), kMarker, kMarker + 7);
  const std::size_t start = out.size();
  put16(out, 0);
  out.push_back(kBlockMain);
  put16(out, main_flags | kMainEndMark);
  put16(out, kMainHeaderSize);
  put16(out, 0);
  put32(out, 0);
  seal_header(out, start);
}

void add_entry(ArchiveWriter* w, const EntrySpec& header, const uint8_t* packed, uint32_t pack_size) {
  add_entry_header(w, header, pack_size);
  if (pack_size > 0) w->bytes.insert(w->bytes.end(), packed, packed + pack_size);
}

void add_entry_header(ArchiveWriter* w, const EntrySpec& header, uint32_t pack_size) {
  std::vector<uint8_t>& out = w->bytes;
  const std::size_t start = out.size();
  put16(out, 0);
  out.push_back(kBlockFile);
  put16(out, header.head_flags | kFlagLongBlock);
  put16(out, static_cast<uint32_t>(kFileHeaderSize + header.name.size()));
  put32(out, pack_size);
  put32(out, header.unp_size);
  out.push_back(header.host_os);
  put32(out, header.file_crc);
  put32(out, header.file_time);
  out.push_back(header.unp_ver);
  out.push_back(header.method);
  put16(out, static_cast<uint32_t>(header.name.size()));
  put32(out, header.file_attr);
  out.insert(out.end(), header.name.begin(), header.name.end());
  seal_header(out, start);
}

void add_stored_entry(ArchiveWriter* w, EntrySpec header, const uint8_t* data, uint32_t size) {
  header.method = kMethodStored;
  header.unp_size = size;
  header.file_crc = entry_checksum(w->form, data, size);
  add_entry(w, header, data, size);
}

void add_raw_block(ArchiveWriter* w, uint8_t type, uint16_t flags, const std::vector<uint8_t>& body) {
  std::vector<uint8_t>& out = w->bytes;
  const std::size_t start = out.size();
  put16(out, 0);
  out.push_back(type);
  put16(out, flags);
  put16(out, static_cast<uint32_t>(7 + body.size()));
  out.insert(out.end(), body.begin(), body.end());
  seal_header(out, start);
}

void end_archive(ArchiveWriter* w) {
  // The format's end-of-archive block (type 0x7B) stops readers that know it;
  // behind it, seven zero bytes form a block whose size is below the minimum
  // of 7, which ends every walk that skips unknown block types.
  add_raw_block(w, kBlockEnd, 0x4000, {});
  w->bytes.insert(w->bytes.end(), 7, 0);
}

uint32_t entry_checksum(ArchiveForm form, const uint8_t* data, std::size_t size) {
  if (form == ArchiveForm::kOld) {
    uint32_t sum = 0;
    for (std::size_t done = 0; done < size;) {
      const uint32_t piece = static_cast<uint32_t>(size - done > 0x40000000 ? 0x40000000 : size - done);
      sum = checksum16_update(sum, data + done, piece);
      done += piece;
    }
    return sum;
  }
  return crc32_of(data, size);
}

uint32_t dos_time_from_parts(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980) return (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
  if (year > 2107) { year = 2107; month = 12; day = 31; hour = 23; minute = 59; second = 58; }
  const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}
