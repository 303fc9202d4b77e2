// Helpers shared by the tests and the fuzz seed generator.
#include "tests/test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

#include "archive/unpack20.h"
#include "support/files.h"

namespace vxtest {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto stamp = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  // create_directory is false for a name that exists: another run's folder.
  do {
    path_ = std::filesystem::temp_directory_path() / ("vx-test-" + stamp + "-" + std::to_string(counter++));
  } while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files must become writable before Windows lets them go.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add,
                                 ec);
  }
  std::filesystem::remove_all(path_, ec);
}

void write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

WideString wide(const std::string& utf8) {
  return wide(std::filesystem::path(std::u8string(utf8.begin(), utf8.end())));
}

WideString wide(const std::filesystem::path& path) {
  const std::u16string s = path.u16string();
  return WideString(s.begin(), s.end());
}

std::string narrow(const WideChar* text) {
  const std::u8string u8 = std::filesystem::path(std::u16string(text, text + wide_length(text))).u8string();
  return std::string(u8.begin(), u8.end());
}

Bytes random_bytes(std::size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t x = seed ? seed : 1;
  for (auto& b : out) b = static_cast<uint8_t>(xorshift(x) >> 24);
  return out;
}

Bytes text_like_bytes(std::size_t n, uint32_t seed) {
  static const char* const kWords[] = {"the ", "setup ",  "program ", "installs ", "files ", "into ",
                                       "a ",   "folder ", "and ",     "records ",  "it\r\n", "window "};
  Bytes out;
  out.reserve(n);
  uint32_t x = seed ? seed : 1;
  while (out.size() < n) {
    x = x * 1103515245u + 12345u;
    const char* w = kWords[(x >> 16) % 12];
    for (; *w && out.size() < n; ++w) out.push_back(static_cast<uint8_t>(*w));
  }
  return out;
}

Archive& Archive::packed(EntrySpec e, const Bytes& data, bool solid, int64_t unp_size) {
  if (packer == nullptr) packer = create_packer(1);
  Bytes out;
  bool continued = false;
  pack_entry(packer, data.data(), static_cast<uint32_t>(data.size()), solid, &out, &continued);
  if (continued) e.head_flags |= kFlagSolid;
  e.method = pack_method(1);
  e.unp_size = unp_size < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(unp_size);
  e.file_crc = entry_checksum(w.form, data.data(), data.size());
  add_entry(&w, e, out.data(), static_cast<uint32_t>(out.size()));
  return *this;
}

DecodePass::DecodePass(const std::filesystem::path& folder) : path(folder / "packed.bin") {
  reader->window = alloc_zeroed(kWindowSize);
  for (int k = 0; k < kMaxChannels; ++k) reader->decoder.channel_tables[k] = &reader->decoder.channel_slots[k];
}

Bytes DecodePass::decode(const Bytes& packed, uint32_t unpacked_size, bool solid) {
  write_file(path, packed);
  ArchiveReader* r = reader.get();
  ByteBuffer sink;
  byte_buffer_init(&sink);
  r->archive_file = r->packed_source = open_archive_file(wide(path).c_str(), 1);
  r->memory_sink = &sink;
  r->packed_left = static_cast<uint32_t>(packed.size());
  r->unpacked_left = static_cast<int32_t>(unpacked_size);
  decompress_entry(r, r->window.data, solid ? 1 : 0);
  const Bytes output(sink.data.data, sink.data.data + sink.size);
  pieces = sink.append_count;  // every call appends, an empty one too
  byte_buffer_reset(&sink);
  close_stream(r->archive_file);
  r->archive_file = r->packed_source = nullptr;
  r->memory_sink = nullptr;
  return output;
}

}  // namespace vxtest
