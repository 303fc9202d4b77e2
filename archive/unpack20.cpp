// The RAR 2.0 decompressor. The stream is read most significant bit first
// from an 8192-byte input buffer; symbols are decoded through a lookup table
// built beside the canonical limits; decoded bytes go into the 1 MB window and
// reach the sink through write_unpacked when the window is nearly full and at
// the end of each entry. Damaged streams decode deterministically: stale
// buffer bytes, empty tables and far distances all have a defined result.
#include "archive/unpack20.h"

#include <cstring>

#include "archive/extract.h"
#include "archive/reader.h"

namespace {

// Refill thresholds: a reader refills before a step that could otherwise run
// past the buffer. A main-loop step takes at most 51 bits (15 + 5 + 15 + 16),
// a table header with its 19 lengths 80, a code-length step 22.
constexpr uint32_t kMainRefillAt = 8162;
constexpr uint32_t kTableRefillAt = 8167;
constexpr uint32_t kLengthRefillAt = 8187;
constexpr uint32_t kKeptBytes = 32;                 // a refill keeps the last 32 bytes
constexpr uint32_t kRefillBytes = kInputBufferSize - kKeptBytes;
constexpr uint32_t kFlushRoom = 270;                // more than the longest match (260)
constexpr uint32_t kMaxStepBits = 51;
static_assert(kMaxStepBits <= 56, "one bit buffer refill serves a main-loop step");
// A bit buffer loads eight bytes at the byte after its last whole byte; at
// the last position a main step starts from, that stays inside in_buf.
static_assert(kMainRefillAt + 8 + 8 <= kInputBufferSize, "main step loads stay in in_buf");
static_assert(kLengthRefillAt + 8 + 8 <= kInputBufferSize + kInputPadding, "table loads stay in in_buf");

// ---- input buffer and bit reader -------------------------------------------

void refill_input(ArchiveReader* r, bool initial) {
  DecoderState* d = &r->decoder;
  if (initial) {
    d->in_valid = read_packed(r, d->in_buf, kInputBufferSize);
    d->in_pos = 0;
    return;
  }
  std::memcpy(d->in_buf, d->in_buf + kRefillBytes, kKeptBytes);
  d->in_pos -= kRefillBytes;
  const uint32_t got = read_packed(r, d->in_buf + kKeptBytes, kRefillBytes);
  if (got > 0) {
    d->in_valid = kKeptBytes + got;
  } else {
    d->in_valid = d->in_pos;
    d->input_exhausted = 1;
  }
}

// Eight stream bytes from p, most significant first.
inline uint64_t load_be64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

// The stream's next bits, left-aligned in a 64-bit word. Every bit of the
// word is either the stream's bit at that place or zero, so a refill may OR
// the same bytes in again. After a refill at least 56 bits are valid, more
// than any step or table item takes.
struct BitBuffer {
  uint64_t bits;   // the next bits, first one at the top
  uint32_t avail;  // how many of them are valid, 0..63
  uint32_t next;   // index in in_buf of the first byte not yet loaded
  const uint8_t* in;

  void refill() {
    bits |= load_be64(in + next) >> avail;
    next += (63 - avail) >> 3;
    avail |= 56;
  }
  // The stream position in bits from in_buf[0].
  uint32_t position() const { return next * 8 - avail; }
  void skip(uint32_t n) {
    bits <<= n;
    avail -= n;
  }
  // The next n (0..16) bits as an unsigned number.
  uint32_t take(uint32_t n) {
    const uint32_t v = static_cast<uint32_t>((bits >> 1) >> (63 - n));
    skip(n);
    return v;
  }
};

BitBuffer bits_at(const DecoderState* d) {
  BitBuffer b{0, 0, d->in_pos, d->in_buf};
  b.refill();
  b.skip(d->in_bit);
  return b;
}

void save_position(DecoderState* d, const BitBuffer& b) {
  const uint32_t p = b.position();
  d->in_pos = p >> 3;
  d->in_bit = p & 7;
}

// What symbol s of a table of count symbols stands for, as a lookup entry
// (see DecodeTable::fast) with code length L.
uint32_t entry_for(uint32_t count, uint32_t s, uint32_t L) {
  uint32_t value = s, extra = 0;
  if (count == kMainSymbols && s >= kMatchSymbol) {
    extra = kLengthSlots[s - kMatchSymbol].bits;
  } else if (count == kDistanceSymbols) {
    value = kDistanceSlots.slot[s].base + kDistanceOffset;
    extra = kDistanceSlots.slot[s].bits;
  } else if (count == kRepLengthSymbols) {
    value = kLengthSlots[s].base + kRepLengthOffset;
    extra = kLengthSlots[s].bits;
  }
  return value << kEntryValueShift | extra << kEntryExtraShift | L;
}

// The canonical decode of the top 16 bits of bits16: the shortest code length
// of at least first whose limit lies above them.
inline uint32_t canonical_symbol(const DecodeTable* t, uint32_t bits16, uint32_t first, uint32_t* length) {
  const uint32_t b = bits16 & 0xFFFE;
  uint32_t L = first;
  while (L < static_cast<uint32_t>(kMaxCodeLength) && b >= t->limit[L]) ++L;
  uint32_t k = t->start[L] + ((b - t->limit[L - 1]) >> (16 - L));
  if (k >= t->count) k = 0;
  *length = L;
  return t->symbols[k];
}

// The entry of a prefix that starts a code longer than the lookup: length 0,
// and a value above every literal.
constexpr uint32_t kLongCodeEntry = ~0u << kEntryValueShift;

// Decodes the next symbol of a table of count symbols and removes its code
// from the bits; returns its entry. A prefix without an entry holds a longer
// code than the lookup, so the limits are searched from there on.
template <uint32_t count>
inline uint32_t take_entry(const DecodeTable* t, BitBuffer* b) {
  constexpr int bits = fast_bits(count);
  uint32_t e = t->fast[b->bits >> (64 - bits)];
  if ((e & kEntryLengthMask) == 0) {
    uint32_t L;
    const uint32_t s = canonical_symbol(t, static_cast<uint32_t>(b->bits >> 48), bits + 1, &L);
    e = entry_for(t->count, s, L);
  }
  b->skip(e & kEntryLengthMask);
  return e;
}

inline uint32_t entry_value(uint32_t e) { return e >> kEntryValueShift; }
// The entry's value plus its extra bits, read from the stream.
inline uint32_t take_value(uint32_t e, BitBuffer* b) {
  return entry_value(e) + b->take((e >> kEntryExtraShift) & 31);
}

// ---- tables ----------------------------------------------------------------

void load_tables(ArchiveReader* r) {
  DecoderState* d = &r->decoder;
  if (d->in_pos > kTableRefillAt) refill_input(r, false);

  BitBuffer b = bits_at(d);
  const uint32_t header = b.take(2);
  d->audio_mode = (header & kHeaderAudio) != 0;
  if ((header & kHeaderChanges) == 0) std::memset(d->prev_code_lengths, 0, sizeof d->prev_code_lengths);

  uint32_t total;
  if (d->audio_mode) {
    d->channel_count = b.take(2) + 1;
    if (d->current_channel >= d->channel_count) d->current_channel = 0;
    total = kChannelSymbols * d->channel_count;
  } else {
    total = kTableLengths;
  }

  uint8_t code_lengths[kCodeLengthSymbols];
  for (int i = 0; i < kCodeLengthSymbols; ++i) {
    b.refill();
    code_lengths[i] = static_cast<uint8_t>(b.take(4));
  }
  build_decode_table(code_lengths, &d->code_length_table, kCodeLengthSymbols);

  // Positions past the lengths read stay zero; they become the base of a
  // later read with a larger count.
  uint8_t lengths[kAllLengths] = {};
  uint32_t i = 0;
  while (i < total) {
    if ((b.position() >> 3) > kLengthRefillAt) {
      save_position(d, b);
      refill_input(r, false);
      b = bits_at(d);
    }
    b.refill();
    const uint32_t s = entry_value(take_entry<kCodeLengthSymbols>(&d->code_length_table, &b));
    if (s < kRepeatLengthSymbol) {
      lengths[i] = static_cast<uint8_t>((d->prev_code_lengths[i] + s) & 0xF);
      ++i;
    } else if (s == kRepeatLengthSymbol) {
      for (uint32_t n = 3 + b.take(2); n > 0 && i < total; --n, ++i) lengths[i] = i == 0 ? 0 : lengths[i - 1];
    } else {
      const uint32_t n = s == kShortZerosSymbol ? 3 + b.take(3) : 11 + b.take(7);
      i = i + n < total ? i + n : total;  // the working array is zero there already
    }
  }
  save_position(d, b);

  if (d->audio_mode) {
    for (uint32_t k = 0; k < d->channel_count; ++k)
      build_decode_table(lengths + kChannelSymbols * k, d->channel_tables[k], kChannelSymbols);
  } else {
    build_decode_table(lengths, &d->main_table, kMainSymbols);
    build_decode_table(lengths + kDistanceBase, &d->distance_table, kDistanceSymbols);
    build_decode_table(lengths + kRepLengthBase, &d->rep_length_table, kRepLengthSymbols);
  }
  std::memcpy(d->prev_code_lengths, lengths, sizeof lengths);
}

// ---- output ----------------------------------------------------------------

// Hands count window bytes from position from to the sink. A count of 0 never
// forms a pointer at window position 2^20.
void hand_over(ArchiveReader* r, uint8_t* window, uint32_t from, uint32_t count) {
  write_unpacked(r, count == 0 ? window : window + from, count);
}

void flush_window(ArchiveReader* r, uint8_t* window) {
  DecoderState* d = &r->decoder;
  if (d->window_pos < d->flushed_pos) {
    hand_over(r, window, d->flushed_pos, kWindowSize - d->flushed_pos);
    hand_over(r, window, 0, d->window_pos);
  } else {
    hand_over(r, window, d->flushed_pos, d->window_pos - d->flushed_pos);
  }
  d->flushed_pos = d->window_pos;
}

template <int N>
inline void copy_block(uint8_t* dst, const uint8_t* src) {
  uint8_t v[N];
  std::memcpy(v, src, N);
  std::memcpy(dst, v, N);
}

// Copies length (at least N) bytes in blocks of N, the last one ending at the
// end; returns the masked position behind them.
template <int N>
inline uint32_t copy_blocks(uint8_t* dst, const uint8_t* src, uint32_t pos, uint32_t length) {
  uint32_t i = 0;
  for (; i + N <= length; i += N) copy_block<N>(dst + i, src + i);
  if (i < length) copy_block<N>(dst + length - N, src + length - N);
  return (pos + length) & kWindowMask;
}

// Copies length bytes from distance back to window_pos, as a byte-by-byte
// copy through the masked window would: overlapping copies repeat the last
// distance bytes, a distance of 0 or 2^20 leaves every byte as it is. No byte
// past the match changes: the window ahead holds the oldest history.
// Where neither the source nor the destination crosses the window's end, the
// bytes go in blocks of N only where the source lies at least N bytes before
// the destination, or wholly behind it: each load then lies before the bytes
// it writes or holds bytes already final; the last block may rewrite bytes
// with the same values. Returns the new (masked) write position.
inline uint32_t copy_bytes(uint8_t* window, uint32_t pos, uint32_t length, uint32_t distance) {
  distance &= kWindowMask;
  // Up to 16 bytes from at least 16 back, the next 16 window bytes inside the
  // window: one load of the source, merged into the 16 bytes at the
  // destination, one store. Bytes past the match get back what they held.
  if (distance >= 16 && distance <= pos && length <= 16 && pos + 16 <= kWindowSize) {
    typedef uint8_t Block16 __attribute__((vector_size(16)));
    constexpr Block16 kIndex = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    Block16 from, to;
    std::memcpy(&from, window + pos - distance, 16);
    std::memcpy(&to, window + pos, 16);
    const Block16 take = reinterpret_cast<Block16>(kIndex < static_cast<uint8_t>(length));
    to = (from & take) | (to & ~take);
    std::memcpy(window + pos, &to, 16);
    return (pos + length) & kWindowMask;
  }
  // The other matches of 2 to 16 bytes from at least 8 back without
  // wrapping: two blocks that overlap in the middle.
  if (distance >= 8 && distance <= pos && length - 2 <= 14 && pos + length <= kWindowSize) {
    uint8_t* dst = window + pos;
    const uint8_t* src = dst - distance;
    if (length >= 8) {
      copy_block<8>(dst, src);
      copy_block<8>(dst + length - 8, src + length - 8);
    } else if (length >= 4) {
      copy_block<4>(dst, src);
      copy_block<4>(dst + length - 4, src + length - 4);
    } else {
      copy_block<2>(dst, src);
      copy_block<2>(dst + length - 2, src + length - 2);
    }
    return (pos + length) & kWindowMask;
  }
  if (distance == 0) return (pos + length) & kWindowMask;
  const uint32_t from = (pos - distance) & kWindowMask;
  if (pos + length <= kWindowSize && from + length <= kWindowSize) {
    // The gap between source and destination in memory, as far as blocks go.
    const uint32_t gap = from < pos ? pos - from : from >= pos + length ? kWindowSize : 0;
    uint8_t* dst = window + pos;
    const uint8_t* src = window + from;
    if (gap >= 16 && length >= 16) return copy_blocks<16>(dst, src, pos, length);
    if (gap >= 8 && length >= 8) return copy_blocks<8>(dst, src, pos, length);
    if (gap >= 4 && length >= 4) return copy_blocks<4>(dst, src, pos, length);
    if (gap == 1) {
      std::memset(dst, src[0], length);
      return (pos + length) & kWindowMask;
    }
    if (gap != 0) {
      for (uint32_t i = 0; i < length; ++i) dst[i] = src[i];
      return (pos + length) & kWindowMask;
    }
  }
  for (uint32_t i = 0; i < length; ++i) {
    window[pos] = window[(pos - distance) & kWindowMask];
    pos = (pos + 1) & kWindowMask;
  }
  return pos;
}

void read_trailing_tables(ArchiveReader* r) {
  DecoderState* d = &r->decoder;
  if (d->in_valid < d->in_pos + 5) return;
  BitBuffer b = bits_at(d);
  const bool audio = d->audio_mode != 0;
  const uint32_t s = entry_value(take_entry<kMainSymbols>(audio ? d->channel_tables[d->current_channel] : &d->main_table, &b));
  save_position(d, b);
  if (s == (audio ? kRepeatSymbol : kTableChangeSymbol)) load_tables(r);
}

void reset_decoder(ArchiveReader* r, uint8_t* window, int solid) {
  DecoderState* d = &r->decoder;
  d->in_pos = 0;
  d->in_bit = 0;
  d->input_exhausted = 0;
  if (solid) return;
  d->current_channel = 0;
  std::memset(d->recent_distances, 0, sizeof d->recent_distances);
  d->recent_index = 0;
  d->prev_match_length = 0;
  d->prev_match_distance = 0;
  std::memset(window, 0, kWindowSize);
  std::memset(d->prev_code_lengths, 0, sizeof d->prev_code_lengths);
  d->flushed_pos = 0;
  d->window_pos = 0;
}

// The first window position at which a step would have to mask the position
// or flush: the end of the window, or where less than kFlushRoom bytes of room
// would be left before flushed (pos is masked and has that room, or none
// is pending).
inline uint32_t quiet_limit(uint32_t flushed, uint32_t pos) {
  if (flushed > pos) return flushed - (kFlushRoom - 1);
  const uint32_t limit = flushed + kWindowSize - (kFlushRoom - 1);
  return limit < kWindowSize ? limit : kWindowSize;
}

// Bit buffer positions past which a step has to check for a refill (a step
// starts from at most kMainRefillAt): after a refill the position is at most
// next * 8 - 56. Up to two literals more may follow a literal within a step's
// bits while the position stays at most kMainRefillAt.
constexpr uint32_t kQuietNext = (kMainRefillAt * 8 + 7 + 56) / 8;
constexpr uint32_t kLiteralRunNext = (kMainRefillAt * 8 + 7 + 56 - 2 * kMaxCodeLength) / 8;
static_assert(kLiteralRunNext * 8 - 56 + 2 * kMaxCodeLength <= kMainRefillAt * 8 + 7, "literal runs check");

// The main loop: one symbol per step until unpacked_left is negative.
// Invariants at the top of a step: the bit buffer holds the stream from
// in_buf's position; window_pos may be 2^20 after a literal. Each byte
// written lowers unpacked_left by one, so unpacked_left is end - 1 - pos
// (modulo 2^32) between two full checks. A step below limit (the quiet limit,
// or end) whose bit buffer position is below kQuietNext needs no masking,
// refill or flush and has unpacked_left >= 0, so it skips the checks.
// One refill per step gives at least 56 bits, more than the 51 a step takes.
void run_main_loop(ArchiveReader* r, uint8_t* window) {
  DecoderState* d = &r->decoder;
  const DecodeTable* main_table = &d->main_table;
  BitBuffer b = bits_at(d);
  uint32_t pos = d->window_pos;
  uint32_t end = pos + static_cast<uint32_t>(r->unpacked_left) + 1;
  uint32_t limit = 0;        // below it a step is quiet (0: check the next step)
  uint32_t steps_past_input = 0;  // steps taken since the packed data ran out
  auto left = [&] { return static_cast<int32_t>(end - 1 - pos); };

  auto match = [&](uint32_t length, uint32_t distance) {
    d->recent_distances[d->recent_index & (kRecentDistances - 1)] = distance;
    d->prev_match_distance = distance;
    d->recent_index += 1;
    d->prev_match_length = length;
    const uint32_t from = pos;
    pos = copy_bytes(window, pos, length, distance);
    if (pos < from) {  // wrapped: the room before flushed_pos changed
      end -= kWindowSize;
      limit = 0;
    }
  };

  for (;;) {
    b.refill();
    if (pos >= limit || b.next > kQuietNext) {
      if (left() < 0) break;
      if (pos >= kWindowSize) {
        pos -= kWindowSize;
        end -= kWindowSize;
      }
      if ((b.position() >> 3) > kMainRefillAt) {
        save_position(d, b);
        refill_input(r, false);
        b = bits_at(d);
        b.refill();
      }
      if (((d->flushed_pos - pos) & kWindowMask) < kFlushRoom && d->flushed_pos != pos) {
        d->window_pos = pos;
        flush_window(r, window);
      }
      const uint32_t quiet = quiet_limit(d->flushed_pos, pos);
      limit = end - pos < quiet - pos ? end : quiet;
      if (d->input_exhausted) {  // every step from here on is counted
        if (++steps_past_input > kMaxStepsPastInput) break;
        limit = 0;
      }
    }

    const uint32_t e = take_entry<kMainSymbols>(main_table, &b);
    const uint32_t s = entry_value(e);
    if (s < kRepeatSymbol) {
      window[pos++] = static_cast<uint8_t>(s);
      // Literals that follow within the bits at hand, while each would be a
      // quiet step.
      for (int more = 0; more < 2 && pos < limit && b.next <= kLiteralRunNext; ++more) {
        const uint32_t next = main_table->fast[b.bits >> (64 - fast_bits(kMainSymbols))];
        if (next - 1 >= (kRepeatSymbol << kEntryValueShift) - 1) break;  // not a literal, or no table
        b.skip(next & kEntryLengthMask);
        window[pos++] = static_cast<uint8_t>(next >> kEntryValueShift);
      }
    } else if (s >= kMatchSymbol) {
      uint32_t length = kLengthSlots[s - kMatchSymbol].base + kMatchLengthOffset;
      length += b.take((e >> kEntryExtraShift) & 31);
      const uint32_t distance = take_value(take_entry<kDistanceSymbols>(&d->distance_table, &b), &b);
      match(length + match_length_bonus(distance), distance);
    } else if (s == kTableChangeSymbol) {
      save_position(d, b);
      load_tables(r);
      b = bits_at(d);
      limit = 0;  // the tables' refill may have found the input exhausted
    } else if (s >= kShortSymbol) {
      const CodeSlot& slot = kShortSlots[s - kShortSymbol];
      match(kShortLength, slot.base + kDistanceOffset + b.take(slot.bits));
    } else if (s >= kRepSymbol) {
      const uint32_t back = s - kRepeatSymbol;  // 1: the latest distance
      const uint32_t distance = d->recent_distances[(d->recent_index - back) & (kRecentDistances - 1)];
      const uint32_t length = take_value(take_entry<kRepLengthSymbols>(&d->rep_length_table, &b), &b);
      match(length + rep_length_bonus(distance), distance);
    } else {  // kRepeatSymbol
      match(d->prev_match_length, d->prev_match_distance);
    }
  }
  save_position(d, b);
  d->window_pos = pos;
  r->unpacked_left = left() < 0 ? left() : -1;  // not negative: ended early past the input
}

}  // namespace

void build_decode_table(const uint8_t* lengths, DecodeTable* t, uint32_t count) {
  uint32_t per_length[16] = {};
  for (uint32_t i = 0; i < count; ++i) per_length[lengths[i] & 0xF] += 1;
  per_length[0] = 0;

  uint32_t fill[16];
  uint32_t n = 0;
  t->limit[0] = 0;
  t->start[0] = 0;
  fill[0] = 0;
  for (int L = 1; L <= kMaxCodeLength; ++L) {
    n = (n + per_length[L]) * 2;
    const uint32_t limit = n << (15 - L);
    t->limit[L] = limit > 0xFFFF ? 0xFFFF : limit;
    t->start[L] = t->start[L - 1] + per_length[L - 1];
    fill[L] = t->start[L];
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t L = lengths[i] & 0xF;
    if (L != 0) t->symbols[fill[L]++] = static_cast<uint16_t>(i);
  }
  t->count = count;

  // The lookup table. Codes of length L <= bits take the prefixes from
  // limit[L - 1] to limit[L] (in units of 2^(16 - bits)): every limit up to
  // bits is a multiple of 2^(16 - bits), or capped at 0xFFFF, which lies
  // above every value with the lowest bit clear. Each code fills
  // 2^(bits - L) entries; an index at or past count gives symbols[0].
  const uint32_t bits = fast_bits(count);
  const uint32_t size = 1u << bits;
  uint32_t p = 0;
  for (uint32_t L = 1; L <= bits && p < size; ++L) {
    const uint32_t end = (t->limit[L] == 0xFFFF ? 0x10000u : t->limit[L]) >> (16 - bits);
    const uint32_t step = 1u << (bits - L);
    for (uint32_t k = t->start[L]; p < end; p += step, ++k) {
      const uint32_t entry = entry_for(count, t->symbols[k < count ? k : 0], L);
      for (uint32_t j = 0; j < step; ++j) t->fast[p + j] = entry;
    }
  }
  for (; p < size; ++p) t->fast[p] = kLongCodeEntry;
}

uint32_t decode_bits(const DecodeTable* t, uint32_t bits16, uint32_t* length) {
  return canonical_symbol(t, bits16, 1, length);
}

void decompress_entry(ArchiveReader* r, uint8_t* window, int solid) {
  reset_decoder(r, window, solid);
  refill_input(r, true);
  if (!solid) load_tables(r);
  r->unpacked_left -= 1;
  run_main_loop(r, window);
  read_trailing_tables(r);
  flush_window(r, window);
}
