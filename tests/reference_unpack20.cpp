// The reference decoder: each operation is written as the format describes
// it, with no shortcut, so that its output is the definition of right.
#include "tests/reference_unpack20.h"

#include <cstring>

#include "archive/extract.h"
#include "archive/reader.h"

namespace vxtest {
namespace {

const uint32_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20,
                                  24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
const uint32_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint32_t kDistanceBase[48] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
const uint32_t kDistanceBits[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7,  7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14,
                                    15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
const uint32_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
const uint32_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};
const uint32_t kMask = 0xFFFFF;

struct Ref {
  ArchiveReader* r;
  DecoderState* d;
  uint8_t* window;
  uint32_t idle_mark;
  uint32_t idle;
};

void refill_input(Ref* x, bool initial) {
  DecoderState* d = x->d;
  if (initial) {
    d->in_valid = read_packed(x->r, d->in_buf, 8192);
    d->in_pos = 0;
    return;
  }
  for (int i = 0; i < 32; ++i) d->in_buf[i] = d->in_buf[8160 + i];
  d->in_pos -= 8160;
  uint32_t got = read_packed(x->r, d->in_buf + 32, 8160);
  if (got >= 1) {
    d->in_valid = 32 + got;
  } else {
    d->in_valid = d->in_pos;
    d->input_exhausted = 1;
  }
}

uint32_t peek_bits(Ref* x) {
  DecoderState* d = x->d;
  uint32_t v = (uint32_t(d->in_buf[d->in_pos]) << 16) | (uint32_t(d->in_buf[d->in_pos + 1]) << 8) |
               uint32_t(d->in_buf[d->in_pos + 2]);
  return (v >> (8 - d->in_bit)) & 0xFFFF;
}

void skip_bits(Ref* x, uint32_t n) {
  DecoderState* d = x->d;
  d->in_pos += (d->in_bit + n) / 8;
  d->in_bit = (d->in_bit + n) % 8;
}

uint32_t read_number(Ref* x, uint32_t n) {
  if (n == 0) return 0;
  uint32_t v = peek_bits(x) >> (16 - n);
  skip_bits(x, n);
  return v;
}

void build_decode_table(const uint8_t* lengths, DecodeTable* t, uint32_t count) {
  uint32_t per_length[16] = {};
  for (uint32_t i = 0; i < count; ++i) per_length[lengths[i] & 0xF] += 1;
  per_length[0] = 0;
  t->limit[0] = 0;
  t->start[0] = 0;
  uint32_t n = 0;
  for (uint32_t L = 1; L <= 15; ++L) {
    n = (n + per_length[L]) * 2;
    uint32_t v = n * (1u << (15 - L));
    t->limit[L] = v > 0xFFFF ? 0xFFFF : v;
    t->start[L] = t->start[L - 1] + per_length[L - 1];
  }
  uint32_t fill[16];
  for (uint32_t L = 0; L < 16; ++L) fill[L] = t->start[L];
  for (uint32_t i = 0; i < count; ++i) {
    if (lengths[i] != 0) {
      t->symbols[fill[lengths[i]]] = uint16_t(i);
      fill[lengths[i]] += 1;
    }
  }
  t->count = count;
}

// The fixed comparison tree over limit[1..14].
uint32_t code_length(const DecodeTable* t, uint32_t b) {
  const uint32_t* l = t->limit;
  if (b < l[8]) {
    if (b < l[4]) {
      if (b < l[2]) return b < l[1] ? 1 : 2;
      return b < l[3] ? 3 : 4;
    }
    if (b < l[6]) return b < l[5] ? 5 : 6;
    return b < l[7] ? 7 : 8;
  }
  if (b < l[12]) {
    if (b < l[10]) return b < l[9] ? 9 : 10;
    return b < l[11] ? 11 : 12;
  }
  if (b < l[14]) return b < l[13] ? 13 : 14;
  return 15;
}

uint32_t decode_symbol(Ref* x, const DecodeTable* t) {
  uint32_t b = peek_bits(x) & 0xFFFE;
  uint32_t L = code_length(t, b);
  skip_bits(x, L);
  uint32_t k = t->start[L] + ((b - t->limit[L - 1]) >> (16 - L));
  if (k >= t->count) k = 0;
  return t->symbols[k];
}

void load_tables(Ref* x) {
  DecoderState* d = x->d;
  if (d->in_pos > 8167) refill_input(x, false);
  uint32_t h = peek_bits(x);
  d->audio_mode = (h & 0x8000) ? 1 : 0;
  if ((h & 0x4000) == 0) {
    for (int i = 0; i < 1028; ++i) d->prev_code_lengths[i] = 0;
  }
  skip_bits(x, 2);
  uint32_t T;
  if (d->audio_mode) {
    d->channel_count = ((h >> 12) & 3) + 1;
    if (d->current_channel >= d->channel_count) d->current_channel = 0;
    skip_bits(x, 2);
    T = 257 * d->channel_count;
  } else {
    T = 374;
  }
  uint8_t cl[19];
  for (int i = 0; i < 19; ++i) {
    cl[i] = uint8_t(peek_bits(x) >> 12);
    skip_bits(x, 4);
  }
  build_decode_table(cl, &d->code_length_table, 19);
  uint8_t length[1028];
  for (int i = 0; i < 1028; ++i) length[i] = 0;
  uint32_t i = 0;
  while (i < T) {
    if (d->in_pos > 8187) refill_input(x, false);
    uint32_t s = decode_symbol(x, &d->code_length_table);
    if (s <= 15) {
      length[i] = uint8_t((d->prev_code_lengths[i] + s) & 0xF);
      i += 1;
    } else if (s == 16) {
      uint32_t n = 3 + read_number(x, 2);
      while (n > 0 && i < T) {
        length[i] = i == 0 ? 0 : length[i - 1];
        i += 1;
        n -= 1;
      }
    } else if (s == 17) {
      uint32_t n = 3 + read_number(x, 3);
      while (n > 0 && i < T) {
        length[i] = 0;
        i += 1;
        n -= 1;
      }
    } else {
      uint32_t n = 11 + read_number(x, 7);
      while (n > 0 && i < T) {
        length[i] = 0;
        i += 1;
        n -= 1;
      }
    }
  }
  if (d->audio_mode) {
    for (uint32_t k = 0; k < d->channel_count; ++k)
      build_decode_table(length + 257 * k, d->channel_tables[k], 257);
  } else {
    build_decode_table(length, &d->main_table, 298);
    build_decode_table(length + 298, &d->distance_table, 48);
    build_decode_table(length + 346, &d->rep_length_table, 28);
  }
  for (int k = 0; k < 1028; ++k) d->prev_code_lengths[k] = length[k];
}

void copy_match(Ref* x, uint32_t length, uint32_t distance) {
  DecoderState* d = x->d;
  d->recent_distances[d->recent_index % 4] = distance;
  d->prev_match_distance = distance;
  d->recent_index += 1;
  d->prev_match_length = length;
  x->r->unpacked_left -= int32_t(length);
  for (uint32_t n = 0; n < length; ++n) {
    x->window[d->window_pos] = x->window[(d->window_pos - distance) & kMask];
    d->window_pos = (d->window_pos + 1) & kMask;
  }
}

void flush_window(Ref* x) {
  DecoderState* d = x->d;
  if (d->window_pos < d->flushed_pos) {
    // A count of 0 is handed over without pointing at position 2^20.
    uint32_t first = 0x100000 - d->flushed_pos;
    write_unpacked(x->r, first == 0 ? x->window : x->window + d->flushed_pos, first);
    write_unpacked(x->r, x->window, d->window_pos);
  } else {
    uint32_t n = d->window_pos - d->flushed_pos;
    write_unpacked(x->r, n == 0 ? x->window : x->window + d->flushed_pos, n);
  }
  d->flushed_pos = d->window_pos;
}

// The one addition to the literal steps, shared with the fast decoder: once
// the packed data has run out, 2^16 consecutive steps without output end the
// entry (such a stream would otherwise loop for ever).
bool idle_step(Ref* x) {
  if (!x->d->input_exhausted) return false;
  uint32_t left = uint32_t(x->r->unpacked_left);
  if (left != x->idle_mark) {
    x->idle_mark = left;
    x->idle = 0;
  }
  x->idle += 1;
  return x->idle >= (1u << 16);
}

void main_loop(Ref* x) {
  DecoderState* d = x->d;
  ArchiveReader* r = x->r;
  x->idle_mark = uint32_t(r->unpacked_left);
  x->idle = 0;
  while (r->unpacked_left >= 0) {
    d->window_pos = d->window_pos % 0x100000;
    if (d->in_pos > 8162) refill_input(x, false);
    if (((d->flushed_pos - d->window_pos) & kMask) < 270 && d->flushed_pos != d->window_pos) flush_window(x);
    uint32_t s = decode_symbol(x, &d->main_table);
    if (s <= 255) {
      x->window[d->window_pos] = uint8_t(s);
      d->window_pos += 1;
      r->unpacked_left -= 1;
    } else if (s == 256) {
      copy_match(x, d->prev_match_length, d->prev_match_distance);
      if (d->prev_match_length == 0 && idle_step(x)) break;
    } else if (s <= 260) {
      uint32_t distance = d->recent_distances[(d->recent_index - (s - 256)) % 4];
      uint32_t rs = decode_symbol(x, &d->rep_length_table);
      uint32_t length = kLengthBase[rs] + 2 + read_number(x, kLengthBits[rs]);
      if (distance >= 0x101) length += 1;
      if (distance >= 0x2000) length += 1;
      if (distance >= 0x40000) length += 1;
      copy_match(x, length, distance);
    } else if (s <= 268) {
      uint32_t j = s - 261;
      uint32_t distance = kShortBase[j] + 1 + read_number(x, kShortBits[j]);
      copy_match(x, 2, distance);
    } else if (s == 269) {
      load_tables(x);
      if (idle_step(x)) break;
    } else {
      uint32_t j = s - 270;
      uint32_t length = kLengthBase[j] + 3 + read_number(x, kLengthBits[j]);
      uint32_t ds = decode_symbol(x, &d->distance_table);
      uint32_t distance = kDistanceBase[ds] + 1 + read_number(x, kDistanceBits[ds]);
      if (distance >= 0x2000) length += 1;
      if (distance >= 0x40000) length += 1;
      copy_match(x, length, distance);
    }
  }
  if (r->unpacked_left >= 0) r->unpacked_left = -1;
}

}  // namespace

void reference_decompress_entry(ArchiveReader* reader, uint8_t* window, int solid) {
  Ref x{reader, &reader->decoder, window, 0, 0};
  DecoderState* d = x.d;
  d->in_pos = 0;
  d->in_bit = 0;
  d->input_exhausted = 0;
  if (!solid) {
    d->current_channel = 0;
    for (int i = 0; i < 4; ++i) d->recent_distances[i] = 0;
    d->recent_index = 0;
    d->prev_match_length = 0;
    d->prev_match_distance = 0;
    std::memset(window, 0, 0x100000);
    for (int i = 0; i < 1028; ++i) d->prev_code_lengths[i] = 0;
    d->flushed_pos = 0;
    d->window_pos = 0;
  }
  refill_input(&x, true);
  if (!solid) load_tables(&x);
  reader->unpacked_left -= 1;
  main_loop(&x);
  if (d->in_valid >= d->in_pos + 5) {
    if (d->audio_mode) {
      if (decode_symbol(&x, d->channel_tables[d->current_channel]) == 256) load_tables(&x);
    } else {
      if (decode_symbol(&x, &d->main_table) == 269) load_tables(&x);
    }
  }
  flush_window(&x);
}

}  // namespace vxtest
