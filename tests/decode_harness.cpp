// The decode harness.
#include "tests/decode_harness.h"

#include <cstdio>

#include "archive/checksum.h"
#include "archive/unpack20.h"

namespace vxtest {

DecodePass::DecodePass(const std::filesystem::path& folder) : path_(folder / "packed.bin") {
  record_ = alloc_zeroed(sizeof(ArchiveReader));
  window_ = alloc_zeroed(kWindowSize);
  reader_ = reinterpret_cast<ArchiveReader*>(record_.data);
  for (int k = 0; k < kMaxChannels; ++k) reader_->decoder.channel_tables[k] = &reader_->decoder.channel_slots[k];
  reader_->archive_format = kFormatMarked;
  init_crc_table(reader_);
}

DecodePass::~DecodePass() {
  release(&window_);
  release(&record_);
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

EntryResult DecodePass::decode(const std::vector<uint8_t>& packed, uint32_t unpacked_size, bool solid) {
  EntryResult result{{}, 0, 0, 0};
  std::FILE* f = std::fopen(path_.string().c_str(), "w+b");
  if (f == nullptr) return result;
  if (!packed.empty()) std::fwrite(packed.data(), 1, packed.size(), f);
  std::fflush(f);
  std::fseek(f, 0, SEEK_SET);

  ByteBuffer sink;
  byte_buffer_init(&sink);
  ArchiveReader* r = reader_;
  r->archive_file = f;
  r->packed_source = f;
  r->memory_sink = &sink;
  r->data_checksum = 0xFFFFFFFFu;
  r->packed_left = static_cast<uint32_t>(packed.size());
  r->unpacked_left = static_cast<int32_t>(unpacked_size);
  decompress_entry(r, window_.data, solid ? 1 : 0);

  if (sink.data.data != nullptr) result.output.assign(sink.data.data, sink.data.data + sink.size);
  result.packed_left = r->packed_left;
  result.unpacked_left = r->unpacked_left;
  result.pieces = sink.append_count;  // every call appends, an empty one too
  byte_buffer_reset(&sink);
  r->memory_sink = nullptr;
  r->archive_file = nullptr;
  r->packed_source = nullptr;
  std::fclose(f);
  return result;
}

}  // namespace vxtest
