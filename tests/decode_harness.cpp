// The decode harness.
#include "tests/decode_harness.h"

#include <cstdio>
#include <cstring>

#include "archive/checksum.h"
#include "support/files.h"

namespace vxtest {

DecodePass::DecodePass(DecodeFunction decode, const std::filesystem::path& folder, const std::string& tag)
    : decode_(decode), path_(folder / (tag + ".bin")) {
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

EntryResult DecodePass::decode(const Bytes& packed, uint32_t unpacked_size, bool solid) {
  std::FILE* f = std::fopen(path_.string().c_str(), "w+b");
  if (f == nullptr) return EntryResult{{}, 0, 0, 0, 0};
  if (!packed.empty()) std::fwrite(packed.data(), 1, packed.size(), f);
  std::fflush(f);
  std::fseek(f, 0, SEEK_SET);

  ByteBuffer sink;
  byte_buffer_init(&sink);
  ArchiveReader* r = reader_;
  r->archive_file = f;
  r->packed_source = f;
  r->output_file = nullptr;
  r->memory_sink = &sink;
  r->skip_output = false;
  r->data_checksum = 0xFFFFFFFFu;
  r->packed_left = static_cast<uint32_t>(packed.size());
  r->unpacked_left = static_cast<int32_t>(unpacked_size);
  decode_(r, window_.data, solid ? 1 : 0);

  EntryResult result;
  if (sink.data.data != nullptr) result.output.assign(sink.data.data, sink.data.data + sink.size);
  result.checksum = ~r->data_checksum;
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

namespace {

bool same_table(const DecodeTable& a, const DecodeTable& b) {
  if (a.count != b.count) return false;
  if (std::memcmp(a.limit, b.limit, sizeof a.limit) != 0) return false;
  if (std::memcmp(a.start, b.start, sizeof a.start) != 0) return false;
  return std::memcmp(a.symbols, b.symbols, sizeof a.symbols) == 0;
}

}  // namespace

std::string state_difference(DecodePass& pa, DecodePass& pb) {
  const DecoderState& a = pa.reader()->decoder;
  const DecoderState& b = pb.reader()->decoder;
  if (a.window_pos != b.window_pos) return "window_pos";
  if (a.flushed_pos != b.flushed_pos) return "flushed_pos";
  if (a.in_pos != b.in_pos) return "in_pos";
  if (a.in_bit != b.in_bit) return "in_bit";
  if (a.in_valid != b.in_valid) return "in_valid";
  if (std::memcmp(a.in_buf, b.in_buf, kInputBufferSize) != 0) return "in_buf";
  if (a.prev_match_length != b.prev_match_length) return "prev_match_length";
  if (a.prev_match_distance != b.prev_match_distance) return "prev_match_distance";
  if (std::memcmp(a.recent_distances, b.recent_distances, sizeof a.recent_distances) != 0) return "recent_distances";
  if (a.recent_index != b.recent_index) return "recent_index";
  if (std::memcmp(a.prev_code_lengths, b.prev_code_lengths, sizeof a.prev_code_lengths) != 0)
    return "prev_code_lengths";
  if (a.audio_mode != b.audio_mode) return "audio_mode";
  if (a.channel_count != b.channel_count) return "channel_count";
  if (a.current_channel != b.current_channel) return "current_channel";
  if (!same_table(a.code_length_table, b.code_length_table)) return "code_length_table";
  if (!same_table(a.main_table, b.main_table)) return "main_table";
  if (!same_table(a.distance_table, b.distance_table)) return "distance_table";
  if (!same_table(a.rep_length_table, b.rep_length_table)) return "rep_length_table";
  for (int k = 0; k < kMaxChannels; ++k)
    if (!same_table(a.channel_slots[k], b.channel_slots[k])) return "channel_tables";
  if (std::memcmp(pa.window(), pb.window(), kWindowSize) != 0) return "window";
  return "";
}

std::string compare_entry(DecodePass& fast, DecodePass& reference, const Bytes& packed, uint32_t unpacked_size,
                          bool solid, EntryResult* result) {
  const EntryResult a = fast.decode(packed, unpacked_size, solid);
  const EntryResult b = reference.decode(packed, unpacked_size, solid);
  if (result != nullptr) *result = a;
  if (a.output.size() != b.output.size())
    return "output size " + std::to_string(a.output.size()) + " != " + std::to_string(b.output.size());
  for (std::size_t i = 0; i < a.output.size(); ++i)
    if (a.output[i] != b.output[i]) return "output byte " + std::to_string(i);
  if (a.packed_left != b.packed_left) return "packed_left";
  if (a.unpacked_left != b.unpacked_left) return "unpacked_left";
  if (a.unpacked_left >= 0) return "unpacked_left not negative";
  if (a.pieces != b.pieces) return "pieces " + std::to_string(a.pieces) + " != " + std::to_string(b.pieces);
  return state_difference(fast, reference);
}

}  // namespace vxtest
