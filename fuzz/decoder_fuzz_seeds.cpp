// Writes the seed corpora of the decoder fuzz targets into two folders:
// archives (plain, solid, old form, behind an image, with stored entries and
// with directory and volume-label entries that carry data) built with the
// writer and the compressor, and inputs of the round-trip target holding the
// same files.
//   decoder_fuzz_seeds ARCHIVE_FOLDER ROUNDTRIP_FOLDER
#include <cstdio>
#include <string>
#include <vector>

#include "packer/pack20.h"
#include "packer/writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Text-like (even seeds) or binary-like bytes.
Bytes pseudo_data(std::size_t n, uint32_t seed) {
  static const char* words[] = {"setup ", "install ", "the ", "file ", "window ", "program ", "\r\n", "data "};
  Bytes out;
  while (out.size() < n) {
    seed = seed * 1103515245u + 12345u;
    if (seed % 2) {
      out.push_back((seed >> 24) < 64 ? static_cast<uint8_t>(seed >> 16) : static_cast<uint8_t>(out.size() / 64));
      continue;
    }
    for (const char* c = words[(seed >> 16) % 8]; *c && out.size() < n; ++c) out.push_back(static_cast<uint8_t>(*c));
  }
  return out;
}

void write(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: decoder_fuzz_seeds ARCHIVE_FOLDER ROUNDTRIP_FOLDER\n");
    return 2;
  }
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const std::vector<Bytes> files = {pseudo_data(200 + seed * 300, seed), pseudo_data(100 + seed * 500, seed + 1),
                                      pseudo_data(seed * 40, seed + 7)};
    const bool solid = seed % 2 == 0;
    const ArchiveForm form = seed == 3 ? ArchiveForm::kOld : ArchiveForm::kMarked;
    Packer* packer = create_packer(1 + seed % 5);
    ArchiveWriter w;
    w.bytes.assign(seed == 4 ? 300 : 0, 0x90);
    begin_archive(&w, form);
    // Round-trip input: level, solid bit and file count, a declared size, the files.
    Bytes roundtrip = {static_cast<uint8_t>(seed % 5 | (solid ? 8 : 0) | 2 << 4), 0x10, 0x27};
    for (std::size_t i = 0; i < files.size(); ++i) {
      EntrySpec header;
      header.name = "dir\\file" + std::to_string(i) + ".bin";
      const uint32_t n = static_cast<uint32_t>(files[i].size());
      if (i == 0 && seed == 5) {
        add_stored_entry(&w, header, files[i].data(), n);
        continue;
      }
      Bytes packed;
      bool continued = false;
      pack_entry(packer, files[i].data(), n, solid, &packed, &continued);
      header.method = pack_method(1 + seed % 5);
      header.unp_size = n;
      header.file_crc = entry_checksum(form, files[i].data(), n);
      if (continued) header.head_flags |= kFlagSolid;
      add_entry(&w, header, packed.data(), static_cast<uint32_t>(packed.size()));
      roundtrip.insert(roundtrip.end(), files[i].begin(), files[i].end());
    }
    // A directory and a volume label that carry data, which the walk passes over.
    EntrySpec folder;
    folder.name = "dir";
    folder.head_flags = kFlagDirectoryMask;
    folder.file_attr = kAttrDirectory;
    add_entry(&w, folder, files[2].data(), static_cast<uint32_t>(files[2].size()));
    EntrySpec label;
    label.name = "LABEL";
    label.file_attr = kAttrVolumeLabel;
    add_entry(&w, label, files[2].data(), static_cast<uint32_t>(files[2].size() / 2));
    end_archive(&w);
    destroy_packer(packer);
    const std::string name = "/seed" + std::to_string(seed);
    write(argv[1] + name + ".rar", w.bytes);
    write(argv[2] + name + ".bin", roundtrip);
  }
  return 0;
}
