// Writes the seed corpora of the decoder fuzz targets into two folders:
// archives (plain, solid, old form, behind an image, with stored entries)
// built with the writer and the compressor, and inputs of the round-trip
// target holding the same files.
//   decoder_fuzz_seeds ARCHIVE_FOLDER ROUNDTRIP_FOLDER
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "packer/pack20.h"
#include "packer/writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes pseudo_text(std::size_t n, uint32_t seed) {
  static const char* words[] = {"setup ", "install ", "the ", "file ", "window ", "program ", "\r\n", "data "};
  Bytes out;
  while (out.size() < n) {
    seed = seed * 1103515245u + 12345u;
    const char* w = words[(seed >> 16) % 8];
    for (const char* c = w; *c && out.size() < n; ++c) out.push_back(static_cast<uint8_t>(*c));
  }
  return out;
}

Bytes pseudo_binary(std::size_t n, uint32_t seed) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    out[i] = (seed >> 24) < 64 ? static_cast<uint8_t>(seed >> 16) : static_cast<uint8_t>(i / 64);
  }
  return out;
}

void write(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::vector<Bytes> pack(const std::vector<Bytes>& files, bool solid, int level) {
  Packer* packer = create_packer(level);
  std::vector<Bytes> packed(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    bool continued = false;
    pack_entry(packer, files[i].data(), static_cast<uint32_t>(files[i].size()), solid, &packed[i], &continued);
  }
  destroy_packer(packer);
  return packed;
}

Bytes archive(const std::vector<Bytes>& files, bool solid, ArchiveForm form, std::size_t image, bool stored_first,
              int level) {
  const std::vector<Bytes> packed = pack(files, solid, level);
  ArchiveWriter w;
  w.bytes.assign(image, 0x90);
  if (form == ArchiveForm::kOld) {
    if (w.bytes.size() < 32) w.bytes.resize(32, 0x90);
    w.bytes[28] = 'R';
    w.bytes[29] = 'S';
    w.bytes[30] = 'F';
    w.bytes[31] = 'X';
  }
  begin_archive(&w, form);
  for (std::size_t i = 0; i < files.size(); ++i) {
    EntrySpec header;
    header.name = "dir\\file" + std::to_string(i) + ".bin";
    if (i == 0 && stored_first) {
      add_stored_entry(&w, header, files[i].data(), static_cast<uint32_t>(files[i].size()));
      continue;
    }
    header.method = pack_method(level);
    header.unp_ver = 20;
    header.unp_size = static_cast<uint32_t>(files[i].size());
    header.file_crc = entry_checksum(form, files[i].data(), files[i].size());
    if (solid && i > 0) header.head_flags |= kFlagSolid;
    add_entry(&w, header, packed[i].data(), static_cast<uint32_t>(packed[i].size()));
  }
  end_archive(&w);
  return w.bytes;
}

// The files in equal parts behind the three header bytes (round-trip target).
Bytes roundtrip_input(const std::vector<Bytes>& files, bool solid, int level) {
  Bytes out = {static_cast<uint8_t>((level - 1) | (solid ? 8 : 0) | (files.size() - 1) << 4), 0x10, 0x27};
  for (const Bytes& f : files) out.insert(out.end(), f.begin(), f.begin() + std::min<std::size_t>(f.size(), 1500));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: decoder_fuzz_seeds ARCHIVE_FOLDER ROUNDTRIP_FOLDER\n");
    return 2;
  }
  const std::string archives = argv[1];
  const std::string roundtrips = argv[2];
  int n = 0;
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const std::vector<Bytes> files = {pseudo_text(200 + seed * 300, seed), pseudo_binary(100 + seed * 500, seed),
                                      pseudo_text(seed * 40, seed + 7)};
    const int level = 1 + static_cast<int>(seed % 5);
    const bool solid = seed % 2 == 0;
    const ArchiveForm form = seed == 3 ? ArchiveForm::kOld : ArchiveForm::kMarked;
    write(archives + "/seed" + std::to_string(n) + ".rar",
          archive(files, solid, form, seed == 4 ? 300 : 0, seed == 5, level));
    write(roundtrips + "/seed" + std::to_string(n) + ".bin", roundtrip_input(files, solid, level));
    ++n;
  }
  return 0;
}
