// Stands in for the decompressor in decode_bench_literal: the object defines
// decompress_entry, so the linker never takes the fast one from vx_archive.
#include "archive/reader.h"
#include "archive/unpack20.h"
#include "tests/reference_unpack20.h"

void decompress_entry(ArchiveReader* reader, uint8_t* window, int solid) {
  vxtest::reference_decompress_entry(reader, window, solid);
}
