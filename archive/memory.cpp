// Zero-filled allocation, owned blocks and the growable memory sink.
#include "archive/memory.h"

#include <cstdlib>
#include <cstring>

OwnedBlock alloc_zeroed(std::size_t n) {
  if (n == 0) return OwnedBlock{nullptr};
  return OwnedBlock{static_cast<uint8_t*>(std::calloc(n, 1))};
}

void release(OwnedBlock* block) {
  if (block->data != nullptr) std::free(block->data);
  block->data = nullptr;
}

void byte_buffer_init(ByteBuffer* buffer) { *buffer = ByteBuffer{}; }

void byte_buffer_reset(ByteBuffer* buffer) {
  release(&buffer->data);
  *buffer = ByteBuffer{};
}

void byte_buffer_clear(ByteBuffer* buffer) {
  buffer->append_count = 0;
  buffer->size = 0;
}

void byte_buffer_reserve(ByteBuffer* buffer, uint32_t n) {
  if (buffer->size != 0 || n <= buffer->capacity) return;
  // The old block goes first, so that the two are never held together.
  release(&buffer->data);
  buffer->data = alloc_zeroed(n);
  buffer->capacity = buffer->data.data != nullptr ? n : 0;
}

int byte_buffer_append(ByteBuffer* buffer, const uint8_t* bytes, uint32_t n) {
  const int32_t before = buffer->append_count;
  if (buffer->data.data == nullptr) {
    buffer->capacity = n > 4096 ? n : 4096;
    buffer->data = alloc_zeroed(buffer->capacity);
    if (buffer->data.data == nullptr) buffer->capacity = 0;
    buffer->size = 0;
    buffer->append_count = 0;
  } else if (static_cast<uint64_t>(buffer->size) + n > buffer->capacity) {
    // Grow by the larger of the minimum step (4096, or n from 4096 on) and
    // half the capacity, so that a large entry costs linear time.
    uint64_t step = n >= 4096 ? n : 4096;
    if (step < buffer->capacity / 2) step = buffer->capacity / 2;
    uint64_t grown = buffer->capacity + step;
    if (grown < static_cast<uint64_t>(buffer->size) + n) grown = static_cast<uint64_t>(buffer->size) + n;
    OwnedBlock fresh = grown > 0xFFFFFFFFu ? OwnedBlock{nullptr} : alloc_zeroed(grown);
    if (fresh.data == nullptr) {
      release(&buffer->data);  // the content is lost; the next append starts afresh
      buffer->capacity = 0;
      buffer->size = 0;
      return 1;
    }
    if (buffer->size > 0) std::memcpy(fresh.data, buffer->data.data, buffer->size);
    release(&buffer->data);
    buffer->data = fresh;
    buffer->capacity = static_cast<uint32_t>(grown);
  }
  if (buffer->data.data != nullptr) {
    if (n > 0) std::memcpy(buffer->data.data + buffer->size, bytes, n);
    buffer->size += n;
    buffer->append_count += 1;
  }
  return buffer->append_count == before ? 1 : 0;
}
