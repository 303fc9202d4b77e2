// The compressor's driver: the sliding buffer over the solid stream, the
// hash-chain match finder, lazy parsing (levels 1-4) and price-driven
// near-optimal parsing (level 5), and block splitting with table changes.
#include "packer/pack20.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "packer/pack20_codes.h"

using namespace pack20;

namespace {

constexpr uint32_t kBufferSize = 4u << 20;     // history of 1 MB plus fed input
constexpr uint32_t kChunk = 1u << 20;          // input fed into the buffer at a time
constexpr uint32_t kLookahead = 512;           // parse stops this short of fed input
constexpr uint32_t kSegment = 256u << 10;      // input whose tokens are split into blocks together
constexpr uint32_t kPieceTokens = 1024;        // block splitting works on pieces of this many tokens
constexpr uint32_t kMaxMatchAny = 258 + 3;     // longest match of any kind, with the length bonus
constexpr int kHash4Bits = 18;
constexpr int kHash3Bits = 14;
constexpr uint32_t kOptWindow = 4096;          // positions one near-optimal pass looks at
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kPositionLimit = 0xF0000000u;  // positions restart below this

struct LevelConfig {
  int chain_depth;  // hash-chain candidates looked at per position
  uint32_t nice;    // a match this long is taken without looking further
  int lazy;         // positions looked ahead before taking a match (0..2)
  bool optimal;     // price-driven parsing over whole windows of positions
};

constexpr LevelConfig kLevels[6] = {
    {0, 0, 0, false},      {4, 24, 0, false},   {12, 48, 1, false},
    {48, 96, 1, false},    {96, 128, 2, false}, {256, 200, 0, true},
};

// One coded item: a main symbol and what follows it (extra bits, then a
// distance or recent-length symbol and its extra bits).
struct Token {
  uint16_t symbol;      // main table symbol, never 269
  uint8_t aux;          // distance slot (new match) or length slot (recent distance)
  uint8_t symbol_bits;  // extra bits after the main symbol
  uint8_t aux_bits;     // extra bits after the aux symbol; 0xFF: no aux symbol
  uint8_t unused;
  uint16_t symbol_extra;
  uint32_t aux_extra;
};
constexpr uint8_t kNoAux = 0xFF;

// What the decoder holds between symbols, as far as the encoder steers it.
struct ModelState {
  uint32_t reps[4];                 // recent distances, reps[0] the latest
  uint32_t prev_length;             // length of the latest match (symbol 256)
  uint8_t table[kTableLengths];     // the code lengths the decoder decodes with
  bool has_table;                   // a table was sent in this chain
  bool started;                     // a compressed entry exists in this chain
};

// Prices in 1/16 bit, from the statistics of the tokens coded last.
struct Prices {
  uint32_t main[kMainSymbols];
  uint32_t dist[kDistanceSymbols];
  uint32_t match_length[256];       // main symbol plus extra bits of a new match length value
  uint32_t rep_length[256];         // recent-length symbol plus extra bits
  uint32_t literal_average;         // what a literal costs on average
};

struct Match {
  uint32_t length;
  uint32_t distance;
};

// A node of the near-optimal parse: the cheapest way found to reach a
// position and the decoder state along that way.
struct OptNode {
  uint32_t price;
  uint32_t from;                    // node index the step starts at
  uint32_t length;                  // 1 for a literal
  uint32_t distance;                // 0 for a literal
  uint8_t kind;                     // StepKind
  uint32_t reps[4];
  uint32_t prev_length;
};

enum StepKind : uint8_t { kLiteral, kRepeat, kRep0, kRep1, kRep2, kRep3, kShort, kNew };

}  // namespace

struct Packer {
  int level;
  LevelConfig config;
  std::vector<uint8_t> buffer;      // stream bytes from position base on
  uint32_t base;                    // stream position of buffer[0]
  uint32_t fill_end;                // stream position behind the last fed byte
  uint32_t history_start;           // earliest position a match may reach
  std::vector<uint32_t> head4;      // latest position per 4-byte hash
  std::vector<uint32_t> head3;      // latest position per 3-byte hash
  std::vector<uint32_t> head2;      // latest position per 2-byte value
  std::vector<uint32_t> chain;      // earlier position with the same 4-byte hash
  ModelState model;                 // decoder state at the current position
  ModelState saved;                 // before the entry packed last
  uint32_t entry_start;             // stream position of the entry packed last
  uint32_t saved_history_start;
  std::vector<Token> tokens;        // coded items not yet written
  uint32_t token_input;             // input bytes they cover
  Prices prices;
  bool have_stats;
  std::vector<OptNode> nodes;
  std::vector<Match> matches;
  // The best level parses each segment twice: the first pass finds the
  // matches of every position and keeps them here, the second pass parses
  // again with prices from the first pass's statistics.
  uint32_t inserted_end;            // positions below this are in the hash tables
  bool caching;                     // keep the matches found (first pass)
  uint32_t cache_start;             // position of cache_offsets[0]
  std::vector<uint32_t> cache_offsets;  // per position: first match in cache_matches
  std::vector<Match> cache_matches;
  BitWriter writer;
};

namespace {

inline uint32_t read32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline const uint8_t* at(const Packer* pk, uint32_t pos) { return pk->buffer.data() + (pos - pk->base); }

inline uint32_t hash4(const uint8_t* p) { return (read32(p) * 2654435761u) >> (32 - kHash4Bits); }
inline uint32_t hash3(const uint8_t* p) {
  return ((read32(p) & 0xFFFFFF) * 2654435761u) >> (32 - kHash3Bits);
}
inline uint32_t hash2(const uint8_t* p) { return p[0] | (p[1] << 8); }

// Bytes in common at a and b, at most limit.
inline uint32_t common_length(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

void push_distance(uint32_t* reps, uint32_t distance) {
  reps[3] = reps[2];
  reps[2] = reps[1];
  reps[1] = reps[0];
  reps[0] = distance;
}

// --- prices ---

// 16 × log2(x) for x >= 1, in integers, so that every build of the packer
// prices alike and output is the same on every platform.
uint32_t log2_16(uint64_t x) {
  static constexpr uint8_t kFraction[16] = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15};
  const int top = 63 - __builtin_clzll(x);
  const uint32_t mantissa = top >= 4 ? static_cast<uint32_t>(x >> (top - 4)) & 15 : static_cast<uint32_t>(x << (4 - top)) & 15;
  return 16u * static_cast<uint32_t>(top) + kFraction[mantissa];
}

// What a symbol seen freq times out of total costs, in 1/16 bit; unseen
// symbols count as a quarter sighting.
uint32_t price_of(uint32_t freq, uint32_t total) {
  const uint32_t bits = log2_16(4ull * total + 1) - log2_16(4ull * freq + 1);
  return std::min<uint32_t>(bits, 18 * 16);
}

void derive_length_prices(Prices* pr, const uint32_t* rep_price) {
  for (uint32_t v = 0; v < 256; ++v) {
    const Slot s = length_slot(v);
    pr->match_length[v] = pr->main[kMatchSymbol + s.slot] + 16u * s.bits;
    pr->rep_length[v] = rep_price[s.slot] + 16u * s.bits;
  }
}

void default_prices(Prices* pr) {
  uint32_t rep[kRepLengthSymbols];
  for (int s = 0; s < 256; ++s) pr->main[s] = 8 * 16;
  pr->literal_average = 8 * 16;
  for (int s = 256; s < kMainSymbols; ++s) pr->main[s] = 7 * 16;
  for (int s = 0; s < kDistanceSymbols; ++s) pr->dist[s] = 5 * 16;
  for (int s = 0; s < kRepLengthSymbols; ++s) rep[s] = 4 * 16;
  derive_length_prices(pr, rep);
}

void prices_from_counts(Prices* pr, const uint32_t* freq) {
  uint32_t total = 0;
  for (int s = 0; s < kMainSymbols; ++s) total += freq[s];
  uint64_t literal_bits = 0, literals = 0;
  for (int s = 0; s < kMainSymbols; ++s) pr->main[s] = price_of(freq[s], total);
  for (int s = 0; s < 256; ++s) {
    literal_bits += static_cast<uint64_t>(freq[s]) * pr->main[s];
    literals += freq[s];
  }
  pr->literal_average = literals ? static_cast<uint32_t>(literal_bits / literals) : 8 * 16;
  total = 0;
  for (int s = 0; s < kDistanceSymbols; ++s) total += freq[kDistanceBase + s];
  for (int s = 0; s < kDistanceSymbols; ++s) pr->dist[s] = price_of(freq[kDistanceBase + s], total);
  total = 0;
  for (int s = 0; s < kRepLengthSymbols; ++s) total += freq[kRepLengthBase + s];
  uint32_t rep[kRepLengthSymbols];
  for (int s = 0; s < kRepLengthSymbols; ++s) rep[s] = price_of(freq[kRepLengthBase + s], total);
  derive_length_prices(pr, rep);
}

inline uint32_t new_match_price(const Prices& pr, uint32_t length, uint32_t distance) {
  const Slot d = distance_slot(distance - 1);
  return pr.match_length[length - 3 - match_length_bonus(distance)] + pr.dist[d.slot] + 16u * d.bits;
}
inline uint32_t rep_price(const Prices& pr, int k, uint32_t length, uint32_t distance) {
  return pr.main[kRepSymbol + k] + pr.rep_length[length - 2 - rep_length_bonus(distance)];
}
inline uint32_t short_price(const Prices& pr, uint32_t distance) {
  const Slot s = short_slot(distance - 1);
  return pr.main[kShortSymbol + s.slot] + 16u * s.bits;
}

// --- tokens ---

Token literal_token(uint8_t byte) { return {byte, 0, 0, kNoAux, 0, 0, 0}; }

Token match_token(StepKind kind, uint32_t length, uint32_t distance) {
  Token t{};
  t.aux_bits = kNoAux;
  switch (kind) {
    case kRepeat:
      t.symbol = kRepeatSymbol;
      break;
    case kRep0:
    case kRep1:
    case kRep2:
    case kRep3: {
      const Slot s = length_slot(length - 2 - rep_length_bonus(distance));
      t.symbol = static_cast<uint16_t>(kRepSymbol + (kind - kRep0));
      t.aux = s.slot;
      t.aux_bits = s.bits;
      t.aux_extra = s.extra;
      break;
    }
    case kShort: {
      const Slot s = short_slot(distance - 1);
      t.symbol = static_cast<uint16_t>(kShortSymbol + s.slot);
      t.symbol_bits = s.bits;
      t.symbol_extra = static_cast<uint16_t>(s.extra);
      break;
    }
    default: {
      const Slot l = length_slot(length - 3 - match_length_bonus(distance));
      const Slot d = distance_slot(distance - 1);
      t.symbol = static_cast<uint16_t>(kMatchSymbol + l.slot);
      t.symbol_bits = l.bits;
      t.symbol_extra = static_cast<uint16_t>(l.extra);
      t.aux = d.slot;
      t.aux_bits = d.bits;
      t.aux_extra = d.extra;
      break;
    }
  }
  return t;
}

void count_token(const Token& t, uint32_t* freq) {
  ++freq[t.symbol];
  if (t.aux_bits == kNoAux) return;
  if (t.symbol >= kMatchSymbol) {
    ++freq[kDistanceBase + t.aux];
  } else {
    ++freq[kRepLengthBase + t.aux];
  }
}

void put_token(BitWriter* w, const BlockCode& code, const Token& t) {
  w->put(code.codes[t.symbol], code.lengths[t.symbol]);
  if (t.symbol_bits) w->put(t.symbol_extra, t.symbol_bits);
  if (t.aux_bits == kNoAux) return;
  const int index = (t.symbol >= kMatchSymbol ? kDistanceBase : kRepLengthBase) + t.aux;
  w->put(code.codes[index], code.lengths[index]);
  if (t.aux_bits > 16) {
    w->put(t.aux_extra >> 16, t.aux_bits - 16);
    w->put(t.aux_extra & 0xFFFF, 16);
  } else if (t.aux_bits) {
    w->put(t.aux_extra, t.aux_bits);
  }
}

// Applies a coded match to the model, as copy_match does in the decoder.
void model_match(ModelState* m, uint32_t length, uint32_t distance) {
  push_distance(m->reps, distance);
  m->prev_length = length;
}

// --- blocks ---

void lengths_for(const uint32_t* freq_in, uint8_t* lengths) {
  uint32_t freq[kTableLengths];
  std::memcpy(freq, freq_in, sizeof freq);
  // Every table keeps a code for the table change, so that the next block
  // or the next solid entry can switch tables whatever it holds.
  freq[kTableChangeSymbol] += 1;
  build_code_lengths(freq, kMainSymbols, kMaxCodeLength, lengths);
  build_code_lengths(freq + kDistanceBase, kDistanceSymbols, kMaxCodeLength, lengths + kDistanceBase);
  build_code_lengths(freq + kRepLengthBase, kRepLengthSymbols, kMaxCodeLength, lengths + kRepLengthBase);
}

uint64_t symbol_bits(const uint32_t* freq, const uint8_t* lengths) {
  uint64_t bits = 0;
  for (int s = 0; s < kTableLengths; ++s) bits += static_cast<uint64_t>(freq[s]) * lengths[s];
  return bits;
}

uint64_t block_cost(const uint32_t* freq) {
  static const uint8_t kZero[kTableLengths] = {};
  uint8_t lengths[kTableLengths];
  lengths_for(freq, lengths);
  return symbol_bits(freq, lengths) + table_cost(lengths, kZero);
}

bool table_covers(const uint8_t* table, const uint32_t* freq) {
  for (int s = 0; s < kTableLengths; ++s) {
    if (freq[s] != 0 && table[s] == 0) return false;
  }
  return true;
}

// Writes tokens[first, last) as one block: with the tables the decoder holds
// when they code it more cheaply than a table change, else with new ones.
// must_send: the decoder reads a table first (start of a non-solid entry).
void write_block(Packer* pk, uint32_t first, uint32_t last, const uint32_t* freq, bool must_send) {
  ModelState& m = pk->model;
  uint8_t lengths[kTableLengths];
  lengths_for(freq, lengths);
  bool send = true;
  if (!must_send && m.has_table && table_covers(m.table, freq)) {
    const uint64_t keep = symbol_bits(freq, m.table);
    const uint64_t change =
        symbol_bits(freq, lengths) + table_cost(lengths, m.table) + m.table[kTableChangeSymbol];
    send = change < keep;
  }
  BlockCode code;
  if (send) {
    if (!must_send) {
      std::memcpy(code.lengths, m.table, sizeof code.lengths);
      finish_block_code(&code);
      pk->writer.put(code.codes[kTableChangeSymbol], code.lengths[kTableChangeSymbol]);
    }
    write_table(&pk->writer, lengths, m.table);
    std::memcpy(m.table, lengths, sizeof m.table);
    m.has_table = true;
  }
  std::memcpy(code.lengths, m.table, sizeof code.lengths);
  finish_block_code(&code);
  for (uint32_t i = first; i < last; ++i) put_token(&pk->writer, code, pk->tokens[i]);
}

// Splits the pending tokens into blocks where a new table pays for itself,
// writes them, and takes prices for the next tokens from their statistics.
// entry_first: the tokens open a non-solid entry, whose table comes first.
void flush_tokens(Packer* pk, bool entry_first) {
  const uint32_t count = static_cast<uint32_t>(pk->tokens.size());
  uint32_t all[kTableLengths] = {};
  if (count == 0) {
    if (entry_first) write_block(pk, 0, 0, all, true);
    return;
  }
  const uint32_t pieces = (count + kPieceTokens - 1) / kPieceTokens;
  std::vector<uint32_t> piece_freq(static_cast<std::size_t>(pieces) * kTableLengths, 0);
  for (uint32_t i = 0; i < count; ++i) count_token(pk->tokens[i], &piece_freq[(i / kPieceTokens) * kTableLengths]);

  uint32_t block[kTableLengths], merged[kTableLengths];
  std::memcpy(block, &piece_freq[0], sizeof block);
  uint64_t block_bits = block_cost(block);
  uint32_t block_first = 0;
  bool first = entry_first;
  for (uint32_t p = 1; p <= pieces; ++p) {
    bool close = p == pieces;
    if (!close) {
      const uint32_t* piece = &piece_freq[static_cast<std::size_t>(p) * kTableLengths];
      for (int s = 0; s < kTableLengths; ++s) merged[s] = block[s] + piece[s];
      const uint64_t merged_bits = block_cost(merged);
      const uint64_t piece_bits = block_cost(piece);
      if (merged_bits <= block_bits + piece_bits) {
        std::memcpy(block, merged, sizeof block);
        block_bits = merged_bits;
        continue;
      }
      close = true;
    }
    const uint32_t last = std::min(count, p * kPieceTokens);
    write_block(pk, block_first, last, block, first);
    for (int s = 0; s < kTableLengths; ++s) all[s] += block[s];
    first = false;
    block_first = last;
    if (p < pieces) {
      std::memcpy(block, &piece_freq[static_cast<std::size_t>(p) * kTableLengths], sizeof block);
      block_bits = block_cost(block);
    }
  }
  prices_from_counts(&pk->prices, all);
  pk->have_stats = true;
  pk->tokens.clear();
  pk->token_input = 0;
}

// --- the sliding buffer and the match finder ---

void clear_history(Packer* pk) {
  std::fill(pk->head4.begin(), pk->head4.end(), 0);
  std::fill(pk->head3.begin(), pk->head3.end(), 0);
  std::fill(pk->head2.begin(), pk->head2.end(), 0);
  pk->base = 1;
  pk->fill_end = 1;
  pk->history_start = 1;
  pk->inserted_end = 1;
}

// Feeds bytes behind fill_end, sliding the buffer when it is full. keep_from
// is the earliest position the parse still needs.
void feed(Packer* pk, const uint8_t* data, uint32_t size, uint32_t keep_from) {
  if (pk->fill_end - pk->base + size > kBufferSize) {
    uint32_t new_base = keep_from > kWindowSize + 16 ? keep_from - kWindowSize - 16 : 0;
    new_base = std::max(new_base, pk->base);
    std::memmove(pk->buffer.data(), pk->buffer.data() + (new_base - pk->base), pk->fill_end - new_base);
    pk->base = new_base;
    pk->history_start = std::max(pk->history_start, new_base);
  }
  std::memcpy(pk->buffer.data() + (pk->fill_end - pk->base), data, size);
  pk->fill_end += size;
}

inline uint32_t lowest_reach(const Packer* pk, uint32_t pos) {
  const uint32_t lo = pos > kMaxDistance ? pos - kMaxDistance : 0;
  return std::max(lo, pk->history_start);
}

// Enters pos into the hash tables without looking for matches. Positions
// are entered once, in order; a second pass over a segment skips them.
inline void insert_only(Packer* pk, uint32_t pos, uint32_t end) {
  if (pos < pk->inserted_end) return;
  pk->inserted_end = pos + 1;
  if (pos + 4 > end) return;
  const uint8_t* p = at(pk, pos);
  const uint32_t h = hash4(p);
  pk->chain[pos & kWindowMask] = pk->head4[h];
  pk->head4[h] = pos;
  pk->head3[hash3(p)] = pos;
  pk->head2[hash2(p)] = pos;
}

void forget_cache(Packer* pk, uint32_t from) {
  pk->cache_start = from;
  pk->cache_offsets.assign(1, 0);
  pk->cache_matches.clear();
}

// Enters pos and lists its matches: each longer than the one before, each
// at the nearest distance known for its length. limit: longest length usable.
void find_matches(Packer* pk, uint32_t pos, uint32_t end, uint32_t limit, std::vector<Match>* out) {
  out->clear();
  if (pos < pk->inserted_end) {
    // Entered by the first pass over this segment: its matches are kept.
    const uint32_t k = pos - pk->cache_start;
    if (pos >= pk->cache_start && k + 1 < pk->cache_offsets.size()) {
      out->assign(pk->cache_matches.begin() + pk->cache_offsets[k], pk->cache_matches.begin() + pk->cache_offsets[k + 1]);
    }
    return;
  }
  pk->inserted_end = pos + 1;
  if (pos + 4 > end) {
    if (pk->caching) pk->cache_offsets.push_back(static_cast<uint32_t>(pk->cache_matches.size()));
    return;
  }
  const uint8_t* p = at(pk, pos);
  const uint32_t lo = lowest_reach(pk, pos);
  uint32_t best = 1;
  auto consider = [&](uint32_t cand) {
    if (cand < lo || cand >= pos) return;
    const uint8_t* c = at(pk, cand);
    if (c[best] != p[best]) return;
    const uint32_t len = common_length(p, c, limit);
    if (len > best) {
      best = len;
      out->push_back({len, pos - cand});
    }
  };
  uint32_t& h2 = pk->head2[hash2(p)];
  if (h2 != 0 && pos - h2 <= 256) consider(h2);
  h2 = pos;
  uint32_t& h3 = pk->head3[hash3(p)];
  if (h3 != 0 && pos - h3 < 0x2000) consider(h3);
  h3 = pos;
  const uint32_t h = hash4(p);
  uint32_t cand = pk->head4[h];
  pk->chain[pos & kWindowMask] = cand;
  pk->head4[h] = pos;
  const uint32_t nice = std::min(pk->config.nice, limit);
  for (int depth = pk->config.chain_depth; depth > 0 && cand >= lo && cand != 0 && best < nice; --depth) {
    consider(cand);
    const uint32_t next = pk->chain[cand & kWindowMask];
    if (next >= cand) break;
    cand = next;
  }
  // A longer match may sit nearer than a shorter one found first: shorter
  // lengths then take the nearer distance.
  for (std::size_t i = out->size(); i-- > 1;) {
    if ((*out)[i].distance < (*out)[i - 1].distance) (*out)[i - 1].distance = (*out)[i].distance;
  }
  if (pk->caching) {
    pk->cache_matches.insert(pk->cache_matches.end(), out->begin(), out->end());
    pk->cache_offsets.push_back(static_cast<uint32_t>(pk->cache_matches.size()));
  }
}

inline uint32_t rep_match_length(const Packer* pk, uint32_t pos, uint32_t distance, uint32_t limit) {
  if (distance == 0 || distance > pos || pos - distance < pk->history_start || pos - distance < pk->base)
    return 0;
  return common_length(at(pk, pos), at(pk, pos - distance), limit);
}

// --- lazy parsing ---

struct Choice {
  StepKind kind;
  uint32_t length;
  uint32_t distance;
  int32_t gain;  // 1/16 bits saved against literals
};

// The best single step at pos with the model's recent distances.
Choice best_step(Packer* pk, uint32_t pos, uint32_t end, uint32_t literal_price) {
  const Prices& pr = pk->prices;
  const ModelState& m = pk->model;
  Choice best{kLiteral, 1, 0, 0};
  const uint32_t room = std::min(end - pos, kMaxMatchAny);
  auto offer = [&](StepKind kind, uint32_t length, uint32_t distance, uint32_t price) {
    const int32_t gain = static_cast<int32_t>(length * literal_price) - static_cast<int32_t>(price);
    if (gain > best.gain) best = {kind, length, distance, gain};
  };
  for (int k = 0; k < 4; ++k) {
    const uint32_t d = m.reps[k];
    const uint32_t bonus = rep_length_bonus(d);
    const uint32_t len = std::min(rep_match_length(pk, pos, d, room), 257 + bonus);
    if (k == 0 && m.prev_length != 0 && len >= m.prev_length && d != 0)
      offer(kRepeat, m.prev_length, d, pr.main[kRepeatSymbol]);
    if (len >= 2 + bonus) offer(static_cast<StepKind>(kRep0 + k), len, d, rep_price(pr, k, len, d));
  }
  find_matches(pk, pos, end, room, &pk->matches);
  for (const Match& mt : pk->matches) {
    const uint32_t bonus = match_length_bonus(mt.distance);
    const uint32_t len = std::min(mt.length, 258 + bonus);
    if (len >= 3 + bonus) offer(kNew, len, mt.distance, new_match_price(pr, len, mt.distance));
    if (mt.distance <= 256) offer(kShort, 2, mt.distance, short_price(pr, mt.distance));
  }
  return best;
}

void emit_step(Packer* pk, const Choice& c, uint32_t pos) {
  if (c.kind == kLiteral) {
    pk->tokens.push_back(literal_token(*at(pk, pos)));
  } else {
    pk->tokens.push_back(match_token(c.kind, c.length, c.distance));
    model_match(&pk->model, c.length, c.distance);
  }
  pk->token_input += c.length;
}

// Parses [pos, stop) of the entry ending at end; returns where it stopped
// (a match may run past stop, never past end).
uint32_t parse_lazy(Packer* pk, uint32_t pos, uint32_t stop, uint32_t end) {
  const uint32_t literal_price = pk->prices.literal_average;
  const int lazy = pk->config.lazy;
  bool have_next = false;
  Choice next{};
  while (pos < stop) {
    Choice cur = have_next ? next : best_step(pk, pos, end, literal_price);
    have_next = false;
    if (cur.kind != kLiteral && lazy > 0 && cur.length < pk->config.nice && pos + 1 < end) {
      // A better step one byte on wins over this one plus a literal.
      const Choice ahead = best_step(pk, pos + 1, end, literal_price);
      const int32_t lit = static_cast<int32_t>(pk->prices.main[*at(pk, pos)]) - static_cast<int32_t>(literal_price);
      if (ahead.gain - lit > cur.gain + (lazy > 1 ? 0 : 8)) {
        emit_step(pk, Choice{kLiteral, 1, 0, 0}, pos);
        ++pos;
        next = ahead;
        have_next = true;
        continue;
      }
      // The position one on is in the tables already.
      emit_step(pk, cur, pos);
      for (uint32_t q = pos + 2; q < pos + cur.length; ++q) insert_only(pk, q, end);
      pos += cur.length;
      continue;
    }
    emit_step(pk, cur, pos);
    for (uint32_t q = pos + 1; q < pos + cur.length; ++q) insert_only(pk, q, end);
    pos += cur.length;
  }
  return pos;
}

// --- near-optimal parsing ---

// Parses [pos, stop) of the entry ending at end by the cheapest path through
// windows of positions, prices from the statistics of the last tokens.
uint32_t parse_optimal(Packer* pk, uint32_t pos, uint32_t stop, uint32_t end) {
  const Prices& pr = pk->prices;
  std::vector<OptNode>& nodes = pk->nodes;
  while (pos < stop) {
    nodes[0].price = 0;
    std::memcpy(nodes[0].reps, pk->model.reps, sizeof nodes[0].reps);
    nodes[0].prev_length = pk->model.prev_length;
    uint32_t reached = 0;  // furthest node with a price
    uint32_t i = 0;
    uint32_t finish = 0;
    Choice tail{kLiteral, 0, 0, 0};
    for (;; ++i) {
      const uint32_t q = pos + i;
      if (i > 0 && (i >= reached || i + kMaxMatchAny >= kOptWindow || q >= stop)) {
        finish = i;
        break;
      }
      const OptNode& node = nodes[i];
      const uint32_t room = std::min(end - q, kMaxMatchAny);
      auto relax = [&](uint32_t length, uint32_t price, StepKind kind, uint32_t distance) {
        const uint32_t j = i + length;
        while (reached < j) nodes[++reached].price = kInfinite;
        if (price < nodes[j].price) {
          OptNode& n = nodes[j];
          n.price = price;
          n.from = i;
          n.length = length;
          n.distance = distance;
          n.kind = kind;
        }
      };
      relax(1, node.price + pr.main[*at(pk, q)], kLiteral, 0);
      uint32_t longest = 0;
      Choice taken{kLiteral, 0, 0, 0};
      for (int k = 0; k < 4; ++k) {
        const uint32_t d = node.reps[k];
        const uint32_t bonus = rep_length_bonus(d);
        const uint32_t len = std::min(rep_match_length(pk, q, d, room), 257 + bonus);
        if (k == 0 && node.prev_length != 0 && len >= node.prev_length && d != 0)
          relax(node.prev_length, node.price + pr.main[kRepeatSymbol], kRepeat, d);
        if (len < 2 + bonus) continue;
        if (len > longest) {
          longest = len;
          taken = {static_cast<StepKind>(kRep0 + k), len, d, 0};
        }
        const uint32_t base_price = node.price + pr.main[kRepSymbol + k];
        for (uint32_t l = 2 + bonus; l <= len; ++l)
          relax(l, base_price + pr.rep_length[l - 2 - bonus], static_cast<StepKind>(kRep0 + k), d);
      }
      find_matches(pk, q, end, room, &pk->matches);
      uint32_t from_length = 2;
      for (const Match& mt : pk->matches) {
        const uint32_t bonus = match_length_bonus(mt.distance);
        const uint32_t len = std::min(mt.length, 258 + bonus);
        if (from_length == 2 && mt.distance <= 256)
          relax(2, node.price + short_price(pr, mt.distance), kShort, mt.distance);
        const Slot ds = distance_slot(mt.distance - 1);
        const uint32_t dist_price = node.price + pr.dist[ds.slot] + 16u * ds.bits;
        for (uint32_t l = std::max(from_length, 3 + bonus); l <= len; ++l)
          relax(l, dist_price + pr.match_length[l - 3 - bonus], kNew, mt.distance);
        from_length = std::max(from_length, len + 1);
        if (len > longest) {
          longest = len;
          taken = {kNew, len, mt.distance, 0};
        }
      }
      if (longest >= pk->config.nice) {
        // A long match ends the window: the cheapest path to here, then it.
        finish = i;
        tail = taken;
        break;
      }
      // Node i + 1 has all its offers now: give it the state of its best step.
      OptNode& next = nodes[i + 1];
      const OptNode& src = nodes[next.from];
      std::memcpy(next.reps, src.reps, sizeof next.reps);
      next.prev_length = src.prev_length;
      if (next.kind != kLiteral) {
        push_distance(next.reps, next.distance);
        next.prev_length = next.length;
      }
    }
    // Walk back from finish and emit the path in order.
    uint32_t path[kOptWindow];
    uint32_t steps = 0;
    for (uint32_t j = finish; j > 0; j = nodes[j].from) path[steps++] = j;
    while (steps > 0) {
      const OptNode& n = nodes[path[--steps]];
      const uint32_t start = pos + n.from;
      if (n.kind == kLiteral) {
        pk->tokens.push_back(literal_token(*at(pk, start)));
      } else {
        pk->tokens.push_back(match_token(static_cast<StepKind>(n.kind), n.length, n.distance));
        model_match(&pk->model, n.length, n.distance);
      }
      pk->token_input += n.length;
    }
    pos += finish;
    if (tail.length != 0) {
      pk->tokens.push_back(match_token(tail.kind, tail.length, tail.distance));
      model_match(&pk->model, tail.length, tail.distance);
      pk->token_input += tail.length;
      for (uint32_t r = 1; r < tail.length; ++r) {
        if (pk->caching) {
          // The second pass may stop inside this match: keep matches here too.
          const uint32_t q = pos + r;
          find_matches(pk, q, end, std::min(end - q, kMaxMatchAny), &pk->matches);
        } else {
          insert_only(pk, pos + r, end);
        }
      }
      pos += tail.length;
    }
  }
  return pos;
}

// The best level: parses [pos, stop) once to learn the segment's statistics
// and find every position's matches, then again with prices from those
// statistics; only the second parse is kept.
uint32_t parse_twice(Packer* pk, uint32_t pos, uint32_t stop, uint32_t end) {
  const ModelState model = pk->model;
  const std::size_t tokens = pk->tokens.size();
  const uint32_t token_input = pk->token_input;
  // Matches of positions the last second pass entered but did not reach.
  std::vector<uint32_t> kept_offsets;
  std::vector<Match> kept;
  if (pk->inserted_end > pos && pos >= pk->cache_start) {
    const uint32_t first = pos - pk->cache_start, last = pk->inserted_end - pk->cache_start;
    if (last < pk->cache_offsets.size()) {
      const uint32_t base = pk->cache_offsets[first];
      for (uint32_t k = first; k <= last; ++k) kept_offsets.push_back(pk->cache_offsets[k] - base);
      kept.assign(pk->cache_matches.begin() + base, pk->cache_matches.begin() + pk->cache_offsets[last]);
    }
  }
  forget_cache(pk, pos);
  if (!kept_offsets.empty()) {
    pk->cache_offsets = std::move(kept_offsets);
    pk->cache_matches = std::move(kept);
  }
  pk->caching = true;
  parse_optimal(pk, pos, stop, end);
  pk->caching = false;
  uint32_t freq[kTableLengths] = {};
  for (std::size_t i = tokens; i < pk->tokens.size(); ++i) count_token(pk->tokens[i], freq);
  prices_from_counts(&pk->prices, freq);
  pk->model = model;
  pk->tokens.resize(tokens);
  pk->token_input = token_input;
  return parse_optimal(pk, pos, stop, end);
}

}  // namespace

Packer* create_packer(int level) {
  level = std::clamp(level, kPackFastest, kPackBest);
  Packer* pk = new (std::nothrow) Packer();
  if (pk == nullptr) return nullptr;
  pk->level = level;
  pk->config = kLevels[level];
  pk->buffer.resize(kBufferSize);
  pk->head4.resize(1u << kHash4Bits);
  pk->head3.resize(1u << kHash3Bits);
  pk->head2.resize(1u << 16);
  pk->chain.resize(kWindowSize);
  if (pk->config.optimal) pk->nodes.resize(kOptWindow + kMaxMatchAny + 2);
  clear_history(pk);
  forget_cache(pk, 1);
  std::memset(&pk->model, 0, sizeof pk->model);
  default_prices(&pk->prices);
  return pk;
}

void destroy_packer(Packer* packer) { delete packer; }

void pack_entry(Packer* pk, const uint8_t* data, uint32_t size, bool solid, std::vector<uint8_t>* out,
                bool* continued) {
  out->clear();
  pk->writer = BitWriter{out};
  pk->saved = pk->model;
  pk->saved_history_start = pk->history_start;
  const bool chain = solid && pk->model.started && pk->fill_end + static_cast<uint64_t>(size) < kPositionLimit;
  *continued = chain;
  if (!chain) {
    // A non-solid entry: the decoder clears window, distances and lengths.
    if (pk->fill_end + static_cast<uint64_t>(size) >= kPositionLimit) clear_history(pk);
    pk->history_start = pk->fill_end;
    pk->inserted_end = pk->fill_end;
    std::memset(&pk->model, 0, sizeof pk->model);
  }
  pk->model.started = true;
  pk->entry_start = pk->fill_end;
  const uint32_t start = pk->fill_end;
  const uint32_t end = start + size;
  uint32_t fed = 0;
  uint32_t pos = start;
  bool first_tokens = !chain;
  if (size == 0 && !chain) flush_tokens(pk, true);
  while (pos < end) {
    if (fed < size && pk->fill_end - pos < kLookahead + kMaxMatchAny) {
      const uint32_t piece = std::min(kChunk, size - fed);
      feed(pk, data + fed, piece, pos);
      fed += piece;
    }
    const uint32_t stop = fed == size ? end : pk->fill_end - kLookahead;
    const uint32_t segment_stop = std::min(stop, pos + (kSegment - std::min(kSegment - 1, pk->token_input)));
    pos = pk->config.optimal ? parse_twice(pk, pos, segment_stop, end) : parse_lazy(pk, pos, segment_stop, end);
    if (pk->token_input >= kSegment || pos >= end) {
      flush_tokens(pk, first_tokens);
      first_tokens = false;
    }
  }
  pk->writer.finish();
}

void discard_last_entry(Packer* pk) {
  const uint32_t start = pk->entry_start;
  const uint32_t end = pk->fill_end;
  if (start >= pk->base && end - start <= kWindowSize) {
    // Take the entry's positions out of the hash tables, newest first, so
    // that every chain head is what it was before the entry.
    for (uint32_t q = end; q-- > start;) {
      if (q + 4 > end) continue;
      const uint8_t* p = at(pk, q);
      uint32_t& h4 = pk->head4[hash4(p)];
      if (h4 == q) h4 = pk->chain[q & kWindowMask];
      uint32_t& h3 = pk->head3[hash3(p)];
      if (h3 == q) h3 = 0;
      uint32_t& h2 = pk->head2[hash2(p)];
      if (h2 == q) h2 = 0;
    }
    pk->fill_end = start;
    pk->history_start = pk->saved_history_start;
    pk->inserted_end = start;
  } else {
    // Too much has moved on: forget the history before the entry.
    std::fill(pk->head4.begin(), pk->head4.end(), 0);
    std::fill(pk->head3.begin(), pk->head3.end(), 0);
    std::fill(pk->head2.begin(), pk->head2.end(), 0);
    pk->base = start;
    pk->fill_end = start;
    pk->history_start = start;
    pk->inserted_end = start;
  }
  forget_cache(pk, start);
  pk->model = pk->saved;
}
