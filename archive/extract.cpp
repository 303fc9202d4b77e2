// The extraction driver: one pass over the archive, the three sinks (none,
// memory, file), the stored copy and the data checksum test.
#include "archive/extract.h"

#include "archive/checksum.h"
#include "archive/unpack20.h"
#include "support/charset.h"
#include "support/files.h"

namespace {

constexpr uint32_t kStoredPiece = 32768;

uint32_t sink_output(ArchiveReader* r, std::FILE* output, const uint8_t* bytes, uint32_t count) {
  if (output != nullptr) return static_cast<uint32_t>(std::fwrite(bytes, 1, count, output));
  if (r->memory_sink != nullptr) {
    if (byte_buffer_append(r->memory_sink, bytes, count) != 0) r->sink_failed = true;
    return count;
  }
  return 0;
}

// Room taken at once for an entry bound for memory: its size and the zero
// behind it, so that the buffer's peak is the entry itself. A damaged header
// may claim any size, so no more is taken than the packed data can give: a
// stored entry's own bytes, a compressed one's at about the format's best
// ratio (a longest match from a few bits); an entry beyond that (a solid one
// that repeats earlier data) grows as it is written.
uint32_t memory_reservation(const FileHeader& e) {
  const uint64_t packed = e.method == kMethodStored ? e.pack_size : static_cast<uint64_t>(e.pack_size) * 1024 + 65536;
  const uint64_t limit = packed + 1;
  const uint64_t wanted = static_cast<uint64_t>(e.unp_size) + 1;
  return static_cast<uint32_t>(wanted < limit ? wanted : limit);
}

bool checksum_matches(const ArchiveReader* r) {
  if (r->archive_format == kFormatOld) return r->data_checksum == r->entry.file_crc;
  return r->data_checksum == ~r->entry.file_crc;
}

}  // namespace

uint32_t read_packed(ArchiveReader* r, uint8_t* buffer, uint32_t count) {
  uint32_t total = 0;
  while (count > 0) {
    const uint32_t request = count < r->packed_left ? count : r->packed_left;
    if (r->archive_file == nullptr) return 0;
    const int got = request == 0 ? 0 : read_archive(r, r->packed_source, buffer, static_cast<int>(request));
    if (got <= 0) return 0;
    total += static_cast<uint32_t>(got);
    buffer += got;
    count -= static_cast<uint32_t>(got);
    r->packed_left -= static_cast<uint32_t>(got);
    if (r->packed_left == 0) break;
  }
  return total;
}

uint32_t write_unpacked(ArchiveReader* r, const uint8_t* bytes, uint32_t count) {
  const uint32_t n = sink_output(r, r->output_file, bytes, count);
  r->delivered += n;
  if (!r->skip_output) {
    r->data_checksum = update_checksum(r, r->data_checksum, bytes, n, r->archive_format == kFormatOld ? 1 : 2);
  }
  return n;
}

int copy_stored(ArchiveReader* r) {
  OwnedBlock buffer = alloc_zeroed(kStoredPiece);
  if (buffer.data == nullptr) return kExtractNoCopyBuffer;
  for (;;) {
    uint32_t n = read_packed(r, buffer.data, kStoredPiece);
    if (n == 0) break;
    if (static_cast<int64_t>(n) > r->unpacked_left) n = r->unpacked_left < 0 ? 0 : r->unpacked_left;
    write_unpacked(r, buffer.data, n);
    if (r->unpacked_left >= 0) r->unpacked_left -= static_cast<int32_t>(n);
  }
  release(&buffer);
  return kExtractOk;
}

int extract_entries(ArchiveReader* r) {
  ByteBuffer memory;
  byte_buffer_init(&memory);
  bool first_entry = true;
  int result = kExtractOk;
  WideChar name[kNameCapacity];

  r->archive_file = open_archive_file(r->archive_path, 1);
  if (r->archive_file == nullptr) return kExtractNoArchive;
  if (find_archive(r) == kLocationNone) {
    close_stream(r->archive_file);
    return kExtractNoArchive;
  }
  r->window = alloc_zeroed(kWindowSize);
  if (r->window.data == nullptr) {
    close_stream(r->archive_file);
    return kExtractNoWindow;
  }
  if (begin_walk(r) != 0) result = kExtractBadChecksum;

  while (result == kExtractOk) {
    const int walked = next_entry(r);
    if (walked == 0) break;
    // A damaged archive (or entry header) ends the pass before the entry's callback.
    if (walked < 0 || r->entry_header_damaged) {
      result = kExtractBadChecksum;
      break;
    }
    const FileHeader& e = r->entry;
    if ((e.head_flags & kFlagContinuedFromPrevious) && first_entry) {
      result = kExtractNoArchive;
      break;
    }
    first_entry = false;
    // The walk has checked that the data begins behind the header.
    seek_archive(r, r->next_block - static_cast<int32_t>(e.pack_size));

    if (e.file_attr & kAttrDirectory) {
      name[0] = 0;
    } else {
      ansi_to_wide(r->entry_name, name, kNameCapacity);
      if (r->entry_callback(name, nullptr, e.unp_size, r->user_data) != 0) break;
    }
    r->memory_sink = nullptr;
    r->output_file = nullptr;
    if (e.file_attr & (kAttrVolumeLabel | kAttrDirectory)) continue;
    // The counter of bytes still to produce is signed 32-bit: larger sizes
    // cannot be decoded and mark the archive as damaged.
    if (e.unp_size >= 0x80000000u) {
      result = kExtractBadChecksum;
      break;
    }

    std::FILE* output = nullptr;
    if (name[0] >= 1 && name[0] <= 31) {
      r->memory_sink = &memory;
      byte_buffer_clear(&memory);
      byte_buffer_reserve(&memory, memory_reservation(e));
    } else if (name[0] >= 32) {
      output = create_output_file(name);
      if (output == nullptr) {
        result = kExtractCannotCreate;
        break;
      }
    }
    r->skip_output = name[0] == 0;
    r->sink_failed = false;
    r->delivered = 0;
    r->data_checksum = r->archive_format == kFormatOld ? 0 : 0xFFFFFFFFu;
    r->packed_left = e.pack_size;
    r->unpacked_left = static_cast<int32_t>(e.unp_size);
    r->packed_source = r->archive_file;
    r->output_file = output;

    if (e.method == kMethodStored) {
      result = copy_stored(r);
    } else if (e.unp_ver > 15) {
      decompress_entry(r, r->window.data, e.head_flags & kFlagSolid);
    }

    // An entry must also deliver all of its bytes: data cut short could still
    // match its checksum (a 16-bit sum, or a compressed entry that the decoder
    // gave up on), and would then hand the caller fewer bytes than its size.
    const bool mismatch = !r->skip_output && (!checksum_matches(r) || r->delivered < e.unp_size);
    if (mismatch) result = kExtractBadChecksum;
    // A good file gets its time and attributes through the handle that wrote
    // it, before it is closed: the same result without opening it again.
    if (!mismatch && output != nullptr) apply_entry_time_and_attributes(output, e.file_time, e.file_attr);
    close_stream(output);
    r->output_file = nullptr;
    if (mismatch) {
      if (output != nullptr) delete_file(name);
    } else if (r->memory_sink != nullptr) {
      static const uint8_t zero = 0;
      if (byte_buffer_append(&memory, &zero, 1) != 0) r->sink_failed = true;
      // A final match may run past the entry's size; its bytes end at the size.
      if (!r->sink_failed && memory.size > e.unp_size) memory.data.data[e.unp_size] = 0;
      // A buffer that could not take every byte is never handed back short.
      if (r->sink_failed) {
        result = kExtractNoReader;
        break;
      }
      if (r->entry_callback(name, memory.data.data, e.unp_size, r->user_data) != 0) break;
    }
  }

  release(&r->window);
  close_stream(r->archive_file);
  r->archive_file = nullptr;
  byte_buffer_reset(&memory);
  return result;
}

int extract_archive(const WideChar* archive_path, EntryCallback callback, void* user) {
  OwnedBlock record = alloc_zeroed(sizeof(ArchiveReader));
  if (record.data == nullptr) return kExtractNoReader;
  ArchiveReader* r = reinterpret_cast<ArchiveReader*>(record.data);
  r->archive_path = archive_path;
  r->entry_callback = callback;
  r->user_data = user;
  for (int k = 0; k < kMaxChannels; ++k) r->decoder.channel_tables[k] = &r->decoder.channel_slots[k];
  init_crc_table(r);
  const int result = extract_entries(r);
  release(&record);
  return result;
}
