// Helpers shared by the tests and the fuzz seed generator: a private temporary
// folder, whole-file reads and writes, UTF-16 strings for the library's wide
// buffers, generated data, archives built with the writer, and a decode pass
// run the way the extraction driver runs it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/reader.h"
#include "packer/pack20.h"
#include "packer/writer.h"
#include "support/text.h"

namespace vxtest {

using Bytes = std::vector<uint8_t>;
using WideString = std::basic_string<WideChar>;

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const Bytes& bytes);
Bytes read_file(const std::filesystem::path& path);
Bytes bytes_of(const std::string& text);

// UTF-8 text or a path as UTF-16, and back.
WideString wide(const std::string& utf8);
WideString wide(const std::filesystem::path& path);
std::string narrow(const WideChar* text);

// The next number of a xorshift32 sequence (state never 0).
inline uint32_t xorshift(uint32_t& x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}
// Deterministic pseudo-random bytes, for incompressible data.
Bytes random_bytes(std::size_t n, uint32_t seed);
// Text-like bytes with plenty of repeats, for compressible data.
Bytes text_like_bytes(std::size_t n, uint32_t seed);

// An archive written entry by entry, behind image bytes of 0x90 (no 'R').
struct Archive {
  ArchiveWriter w;
  Packer* packer = nullptr;  // for packed entries: level 1 unless set before
  explicit Archive(ArchiveForm form = ArchiveForm::kMarked, std::size_t image = 0, uint16_t main_flags = 0) {
    w.bytes.assign(image, 0x90);
    begin_archive(&w, form, main_flags);
  }
  ~Archive() { destroy_packer(packer); }
  Archive(const Archive&) = delete;
  Archive& stored(const std::string& name, const std::string& text, EntrySpec e = {}) {
    e.name = name;
    add_stored_entry(&w, e, reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
    return *this;
  }
  // A compressed entry of data with its checksum, whose header claims
  // unp_size bytes (default: the size of data).
  Archive& packed(EntrySpec e, const Bytes& data, bool solid, int64_t unp_size = -1);
  Bytes finish() {  // the end blocks, then the bytes
    end_archive(&w);
    return w.bytes;
  }
  std::filesystem::path save(const TempDir& dir, const std::string& file = "a.rar") {
    write_file(dir / file, finish());
    return dir / file;
  }
};

// One zero-filled ArchiveReader and its window for a chain of entries: packed
// bytes are served from a file in folder through read_packed; decode returns
// every byte handed to write_unpacked, and the counters stay in the reader.
struct DecodePass {
  explicit DecodePass(const std::filesystem::path& folder);
  ~DecodePass() { release(&reader->window); }
  Bytes decode(const Bytes& packed, uint32_t unpacked_size, bool solid);
  std::filesystem::path path;
  std::unique_ptr<ArchiveReader> reader = std::make_unique<ArchiveReader>();
  int32_t pieces = 0;  // calls of write_unpacked in the last decode, empty ones included
};

}  // namespace vxtest
