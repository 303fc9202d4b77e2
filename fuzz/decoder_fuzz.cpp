// libFuzzer target: the input is an archive file. extract_archive walks it
// and decodes every entry; the callback spreads the entries over the three
// sinks (none, memory, a file) by position and by the input's last byte.
// Findings besides crashes: a pass that calls back more often than the input
// holds headers (a walk that does not move forward), a memory entry without
// its terminating zero, an output file shorter than its entry's size, and a
// result outside the documented codes.
#include <cstdlib>

#include "archive/extract.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

// This process's folder, for the input and the one output file.
const vxtest::TempDir folder;
const fs::path input = folder / "input.rar", output = folder / "entry.out";

struct Run {
  uint32_t entry;      // entries seen so far
  uint32_t pick;       // shifts the sink order per input
  uint32_t file_size;  // size of the last entry sent to the output file
};

int32_t choose_sink(WideChar* name, const uint8_t* data, uint32_t size, void* user) {
  Run* run = static_cast<Run*>(user);
  if (data != nullptr) {
    if (data[size] != 0) std::abort();  // the bytes always end with a zero byte
    return 0;
  }
  const uint32_t kind = (run->entry++ + run->pick) % 3;
  // Large declared sizes are decoded without a sink, so that a damaged size
  // field cannot fill the disk or the memory of the fuzzing machine.
  if (kind == 1 && size <= (16u << 20)) {
    name[0] = 1;
    name[1] = 0;
  } else if (kind == 2 && size <= (4u << 20)) {
    fs::remove(output);  // a label creates no file: no stale one stays
    copy_text(vxtest::wide(output).c_str(), name, kNameCapacity);
    run->file_size = size;
  } else {
    name[0] = 0;
  }
  return 0;
}

// A damaged size field of up to 2 GB would make one input decode for minutes:
// wherever a file header could be (type 0x74 two bytes in), the size field is
// brought below 0x110000, still past the window's end. Only its two high bytes
// are lowered, so that a later fold of an overlapping field never raises one.
void fold_sizes(std::vector<uint8_t>& bytes) {
  for (std::size_t i = 0; i + 15 <= bytes.size(); ++i) {
    if (bytes[i + 2] != 0x74) continue;
    uint8_t* field = bytes.data() + i + 11;  // little-endian 32 bits
    field[3] = 0;
    field[2] = static_cast<uint8_t>(field[2] % 0x11);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  fold_sizes(bytes);
  vxtest::write_file(input, bytes);
  Run run{0, size > 0 ? data[size - 1] : 0u, 0};
  const int result = extract_archive(vxtest::wide(input).c_str(), choose_sink, &run);
  if (result != kExtractOk && result != kExtractNoArchive && result != kExtractBadChecksum &&
      result != kExtractCannotCreate && result != kExtractNoReader)
    std::abort();
  // Each entry takes a header of 32 bytes or more, and the walk only moves forward.
  if (run.entry > size / 32 + 1) std::abort();
  // A file left behind belongs to an entry that passed: it holds all its bytes.
  std::error_code missing;
  const auto written = fs::file_size(output, missing);
  if (!missing && written < run.file_size) std::abort();
  fs::remove(output, missing);
  return 0;
}
