// Peak heap use of a discovery-style pass: every entry of a setup executable
// decoded into memory (as the installer's discovery pass takes them) and
// handed back, with the heap counted by wrapping calloc and free. Prints the
// peak beside the largest entry.
//   discovery_memory SETUP.EXE
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "archive/extract.h"
#include "support/charset.h"

extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void __libc_free(void*);

namespace {

size_t live = 0;  // bytes the pass holds
size_t peak = 0;
uint32_t largest = 0;

int32_t take_into_memory(WideChar* name, const uint8_t* data, uint32_t size, void*) {
  if (data == nullptr) {
    name[0] = 7;  // any code from 1 to 31 picks the memory sink
  } else if (size > largest) {
    largest = size;
  }
  return 0;
}

}  // namespace

extern "C" void* calloc(size_t n, size_t size) {
  void* block = __libc_calloc(n, size);
  if (block != nullptr) {
    live += malloc_usable_size(block);
    if (live > peak) peak = live;
  }
  return block;
}

extern "C" void free(void* block) {
  if (block != nullptr) live -= malloc_usable_size(block);
  __libc_free(block);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: discovery_memory SETUP.EXE\n");
    return 2;
  }
  WideChar path[260];
  ansi_to_wide(argv[1], path, 260);
  const size_t before = live;
  peak = live;
  const int result = extract_archive(path, take_into_memory, nullptr);
  const double mib = 1024.0 * 1024.0;
  std::printf("result %d; largest entry %u bytes (%.2f MiB); peak heap of the pass %zu bytes (%.2f MiB), "
              "largest entry + %.2f MiB\n",
              result, largest, largest / mib, peak - before, (peak - before) / mib, (peak - before - largest) / mib);
  return result == 0 ? 0 : 1;
}
