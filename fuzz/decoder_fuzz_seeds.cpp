// Writes the seed corpora of the decoder fuzz targets: archives (plain, solid,
// old form, behind an image, stored entries, directory and label entries that
// carry data) and round-trip inputs holding the same files.
//   decoder_fuzz_seeds ARCHIVE_FOLDER ROUNDTRIP_FOLDER
#include <cstdio>

#include "tests/test_support.h"

using vxtest::Bytes;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: decoder_fuzz_seeds ARCHIVE_FOLDER ROUNDTRIP_FOLDER\n");
    return 2;
  }
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const std::vector<Bytes> files = {vxtest::text_like_bytes(200 + seed * 300, seed),
                                      vxtest::random_bytes(100 + seed * 500, seed),
                                      vxtest::text_like_bytes(seed * 40, seed + 7)};
    const bool solid = seed % 2 == 0;
    vxtest::Archive a(seed == 3 ? ArchiveForm::kOld : ArchiveForm::kMarked, seed == 4 ? 300 : 0);
    a.packer = create_packer(1 + seed % 5);
    // Round-trip input: level, solid bit and file count, a declared size, the files.
    Bytes roundtrip = {static_cast<uint8_t>(seed % 5 | (solid ? 8 : 0) | 2 << 4), 0x10, 0x27};
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string name = "dir\\file" + std::to_string(i) + ".bin";
      if (i == 0 && seed == 5)
        a.stored(name, std::string(files[i].begin(), files[i].end()));
      else
        a.packed({.name = name}, files[i], solid);
      roundtrip.insert(roundtrip.end(), files[i].begin(), files[i].end());
    }
    // A directory and a volume label that carry data, which the walk passes over.
    const uint32_t size = static_cast<uint32_t>(files[2].size());
    add_entry(&a.w, {.name = "dir", .head_flags = kFlagDirectoryMask, .file_attr = kAttrDirectory}, files[2].data(),
              size);
    add_entry(&a.w, {.name = "LABEL", .file_attr = kAttrVolumeLabel}, files[2].data(), size / 2);
    const std::string name = "/seed" + std::to_string(seed);
    vxtest::write_file(argv[1] + name + ".rar", a.finish());
    vxtest::write_file(argv[2] + name + ".bin", roundtrip);
  }
  return 0;
}
