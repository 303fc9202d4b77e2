// Heap blocks of the archive reader: zero-filled allocation, a single owned
// block, and ByteBuffer, the growable in-memory sink of a pass.
#pragma once

#include <cstdint>

struct OwnedBlock {
  uint8_t* data;  // the block, or nullptr
};

// A zero-filled block of n bytes; nullptr for n == 0 or when memory is exhausted.
OwnedBlock alloc_zeroed(std::size_t n);
// Frees the block when set and sets it to none.
void release(OwnedBlock* block);

struct ByteBuffer {
  OwnedBlock data;       // the bytes
  int32_t append_count;  // successful appends since the last clear
  uint32_t capacity;     // bytes allocated
  uint32_t size;         // bytes in use
};

void byte_buffer_init(ByteBuffer* buffer);
// Releases the block; every member becomes 0 (also the buffer's destruction).
void byte_buffer_reset(ByteBuffer* buffer);
// Empties the buffer and keeps its block.
void byte_buffer_clear(ByteBuffer* buffer);
// Makes room for n bytes in an empty buffer at once, so that an entry of
// known size is taken without growing (each growth holds the old and the new
// block together). Best effort: when n bytes cannot be had the buffer stays
// as it was, and appends grow it.
void byte_buffer_reserve(ByteBuffer* buffer, uint32_t n);
// Appends n bytes, growing by at least 4096 bytes (n when n >= 4096) and at
// least half the capacity. 0 on success, 1 when nothing was appended (the
// block could not grow; its content is then lost).
int byte_buffer_append(ByteBuffer* buffer, const uint8_t* bytes, uint32_t n);
