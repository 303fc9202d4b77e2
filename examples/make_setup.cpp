// Builds a setup executable from the stub and a package folder's files: the
// stub's bytes with a stored archive appended (marked form), one entry per
// file, in the order given.
//   make_setup STUB OUTPUT NAME=PATH...
#include <cstdio>
#include <string>
#include <vector>

#include "packer/writer.h"

namespace {

bool read_whole(const std::string& path, std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t piece[65536];
  std::size_t n;
  while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) bytes.insert(bytes.end(), piece, piece + n);
  std::fclose(f);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: make_setup STUB OUTPUT NAME=PATH...\n");
    return 2;
  }
  ArchiveWriter w;
  if (!read_whole(argv[1], w.bytes)) {
    std::fprintf(stderr, "make_setup: cannot read %s\n", argv[1]);
    return 1;
  }
  begin_archive(&w, ArchiveForm::kMarked);
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t eq = arg.find('=');
    std::vector<uint8_t> data;
    if (eq == std::string::npos || !read_whole(arg.substr(eq + 1), data)) {
      std::fprintf(stderr, "make_setup: cannot read %s\n", arg.c_str());
      return 1;
    }
    EntrySpec e;
    e.name = arg.substr(0, eq);
    e.file_time = dos_time_from_parts(2024, 6, 1, 12, 0, 0);
    add_stored_entry(&w, e, data.data(), static_cast<uint32_t>(data.size()));
  }
  end_archive(&w);
  std::FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr || std::fwrite(w.bytes.data(), 1, w.bytes.size(), f) != w.bytes.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "make_setup: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
