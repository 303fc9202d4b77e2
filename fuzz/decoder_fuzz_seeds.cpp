// Writes the seed corpora of the decoder fuzz targets into two folders:
// archives (plain, solid, old form, behind an image, with stored entries)
// built with the writer and the greedy compressor, and pass descriptions of
// the differential target holding the same compressed entries.
//   decoder_fuzz_seeds ARCHIVE_FOLDER PASS_FOLDER
#include <cstdio>
#include <string>
#include <vector>

#include "packer/writer.h"
#include "tests/greedy_packer.h"

namespace {

using vxtest::Bytes;

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

Bytes archive(const std::vector<Bytes>& files, bool solid, ArchiveForm form, std::size_t image, bool stored_first,
              const vxtest::PackOptions& options) {
  const std::vector<Bytes> packed = vxtest::greedy_pack(files, solid, options);
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
    header.method = 0x33;
    header.unp_ver = 20;
    header.unp_size = static_cast<uint32_t>(files[i].size());
    header.file_crc = entry_checksum(form, files[i].data(), files[i].size());
    if (solid && i > 0) header.head_flags |= kFlagSolid;
    add_entry(&w, header, packed[i].data(), static_cast<uint32_t>(packed[i].size()));
  }
  end_archive(&w);
  return w.bytes;
}

Bytes pass(const std::vector<Bytes>& files, bool solid, const vxtest::PackOptions& options) {
  const std::vector<Bytes> packed = vxtest::greedy_pack(files, solid, options);
  Bytes out;
  out.push_back(static_cast<uint8_t>(files.size() - 1));
  for (std::size_t i = 0; i < files.size(); ++i) {
    const uint32_t n = static_cast<uint32_t>(files[i].size());
    const uint32_t p = static_cast<uint32_t>(packed[i].size());
    out.insert(out.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(p), uint8_t(p >> 8),
                           uint8_t(solid && i > 0)});
    out.insert(out.end(), packed[i].begin(), packed[i].end());
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: decoder_fuzz_seeds ARCHIVE_FOLDER PASS_FOLDER\n");
    return 2;
  }
  const std::string archives = argv[1];
  const std::string passes = argv[2];
  int n = 0;
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const std::vector<Bytes> files = {pseudo_text(200 + seed * 300, seed), pseudo_binary(100 + seed * 500, seed),
                                      pseudo_text(seed * 40, seed + 7)};
    vxtest::PackOptions options;
    options.block_symbols = seed % 2 ? 64 : 1024;
    const bool solid = seed % 2 == 0;
    const ArchiveForm form = seed == 3 ? ArchiveForm::kOld : ArchiveForm::kMarked;
    write(archives + "/seed" + std::to_string(n) + ".rar",
          archive(files, solid, form, seed == 4 ? 300 : 0, seed == 5, options));
    write(passes + "/seed" + std::to_string(n) + ".pass", pass(files, solid, options));
    ++n;
  }
  return 0;
}
