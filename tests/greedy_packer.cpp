// Greedy LZ77 over the 1 MB window: at each position the longest match from a
// hash chain is compared with the four recent distances; lengths and
// distances are bounded so that every match is codable, and the decoder's
// match history is mirrored so that 256 and 257..260 mean what they must.
#include "tests/greedy_packer.h"

#include <algorithm>

namespace vxtest {
namespace {

constexpr uint32_t kMaxDistance = (1u << 20) - 1;
constexpr int kHashBits = 16;

enum TokenKind : uint8_t { kLiteral, kNewMatch, kRepMatch, kShortMatch, kRepeatLast };

struct Token {
  TokenKind kind;
  uint8_t which;     // rep_match: 1..4
  uint32_t length;   // matches
  uint32_t value;    // literal byte or distance
};

// Match history as the decoder keeps it.
struct History {
  uint32_t ring[4] = {};
  uint32_t index = 0;
  uint32_t last_length = 0;
  uint32_t last_distance = 0;
  void push(uint32_t length, uint32_t distance) {
    ring[index & 3] = distance;
    index += 1;
    last_length = length;
    last_distance = distance;
  }
  uint32_t recent(int which) const { return ring[(index - which) & 3]; }
};

class Matcher {
 public:
  explicit Matcher(const Bytes& data) : data_(data), head_(1u << kHashBits, -1), prev_(data.size(), -1) {}

  void insert(std::size_t pos) {
    if (pos + 3 > data_.size()) return;
    const uint32_t h = hash(pos);
    prev_[pos] = head_[h];
    head_[h] = static_cast<int64_t>(pos);
  }

  uint32_t length_at(std::size_t pos, uint32_t distance, std::size_t limit) const {
    uint32_t n = 0;
    while (pos + n < limit && data_[pos + n] == data_[pos + n - distance]) ++n;
    return n;
  }

  // Longest match at pos from the chain, within [floor, pos) and the window.
  void longest(std::size_t pos, std::size_t floor, std::size_t end, int depth, uint32_t* best_length,
               uint32_t* best_distance) const {
    *best_length = 0;
    *best_distance = 0;
    if (pos + 3 > end) return;
    for (int64_t c = head_[hash(pos)]; c >= 0 && depth-- > 0; c = prev_[c]) {
      const std::size_t cand = static_cast<std::size_t>(c);
      if (cand < floor || pos - cand > kMaxDistance) break;
      const uint32_t distance = static_cast<uint32_t>(pos - cand);
      const uint32_t cap = 258 + new_match_bonus(distance);
      const uint32_t n = length_at(pos, distance, std::min<std::size_t>(end, pos + cap));
      if (n >= 3 + new_match_bonus(distance) && n > *best_length) {
        *best_length = n;
        *best_distance = distance;
      }
    }
  }

 private:
  uint32_t hash(std::size_t pos) const {
    const uint32_t v = data_[pos] | (data_[pos + 1] << 8) | (data_[pos + 2] << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
  }
  const Bytes& data_;
  std::vector<int64_t> head_;
  std::vector<int64_t> prev_;
};

// Tokens of data[begin, end), matches reaching back to floor. The matcher and
// last_pair (latest position of each byte pair) hold every position before
// begin; candidates below floor are not used.
std::vector<Token> tokenize(const Bytes& data, std::size_t floor, std::size_t begin, std::size_t end,
                            Matcher& matcher, std::vector<int64_t>& last_pair, History& history, int depth) {
  std::vector<Token> out;
  std::size_t p = begin;
  while (p < end) {
    uint32_t new_length, new_distance;
    matcher.longest(p, floor, end, depth, &new_length, &new_distance);

    int rep_which = 0;
    uint32_t rep_length = 0;
    for (int which = 1; which <= 4; ++which) {
      const uint32_t d = history.recent(which);
      if (d == 0 || d > p - floor || d > kMaxDistance) continue;
      const uint32_t cap = 257 + rep_match_bonus(d);
      const uint32_t n = matcher.length_at(p, d, std::min<std::size_t>(end, p + cap));
      if (n >= 2 + rep_match_bonus(d) && n > rep_length) {
        rep_length = n;
        rep_which = which;
      }
    }

    Token t{kLiteral, 0, 1, data[p]};
    if (new_length > 0 && new_length >= rep_length + 2) {
      t = {kNewMatch, 0, new_length, new_distance};
    } else if (rep_which != 0) {
      const uint32_t d = history.recent(rep_which);
      if (rep_which == 1 && history.last_length >= 2 && rep_length >= history.last_length &&
          d == history.last_distance) {
        t = {kRepeatLast, 0, history.last_length, d};
      } else {
        t = {kRepMatch, static_cast<uint8_t>(rep_which), rep_length, d};
      }
    } else if (new_length > 0) {
      t = {kNewMatch, 0, new_length, new_distance};
    } else if (p + 2 <= end) {
      const int64_t q = last_pair[data[p] | (data[p + 1] << 8)];
      if (q >= static_cast<int64_t>(floor) && p - static_cast<std::size_t>(q) <= 256)
        t = {kShortMatch, 0, 2, static_cast<uint32_t>(p - static_cast<std::size_t>(q))};
    }
    if (t.kind != kLiteral) history.push(t.length, t.value);
    out.push_back(t);
    for (uint32_t k = 0; k < t.length; ++k, ++p) {
      matcher.insert(p);
      if (p + 1 < data.size()) last_pair[data[p] | (data[p + 1] << 8)] = static_cast<int64_t>(p);
    }
  }
  return out;
}

uint32_t length_slot(uint32_t value) {
  static const uint32_t base[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20,
                                    24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
  uint32_t s = 27;
  while (base[s] > value) --s;
  return s;
}

uint32_t distance_slot(uint32_t value) {
  uint32_t base = 0;
  for (uint32_t s = 0; s < 48; ++s) {
    const uint32_t bits = s < 4 ? 0 : std::min<uint32_t>((s - 2) / 2, 16);
    if (value < base + (1u << bits)) return s;
    base += 1u << bits;
  }
  return 47;
}

// Emits one block: tables fitted to its tokens, then the tokens.
void emit_block(StreamBuilder& b, const std::vector<Token>& tokens, std::size_t from, std::size_t to) {
  std::vector<uint32_t> main(298, 0), dist(48, 0), rep(28, 0);
  main[269] = 1;  // always codable: the next block or entry may change tables
  for (std::size_t i = from; i < to; ++i) {
    const Token& t = tokens[i];
    switch (t.kind) {
      case kLiteral: main[t.value] += 1; break;
      case kNewMatch:
        main[270 + length_slot(t.length - new_match_bonus(t.value) - 3)] += 1;
        dist[distance_slot(t.value - 1)] += 1;
        break;
      case kRepMatch:
        main[256 + t.which] += 1;
        rep[length_slot(t.length - rep_match_bonus(t.value) - 2)] += 1;
        break;
      case kShortMatch: main[261 + (t.value <= 4 ? 0 : t.value <= 8 ? 1 : t.value <= 16 ? 2 : t.value <= 32 ? 3
                                    : t.value <= 64 ? 4 : t.value <= 128 ? 5 : t.value <= 192 ? 6 : 7)] += 1;
        break;
      case kRepeatLast: main[256] += 1; break;
    }
  }
  b.tables(limited_code_lengths(main, 15), limited_code_lengths(dist, 15), limited_code_lengths(rep, 15), true);
  for (std::size_t i = from; i < to; ++i) {
    const Token& t = tokens[i];
    switch (t.kind) {
      case kLiteral: b.literal(static_cast<uint8_t>(t.value)); break;
      case kNewMatch: b.new_match(t.length, t.value); break;
      case kRepMatch: b.rep_match(t.which, t.length); break;
      case kShortMatch: b.short_match(t.value); break;
      case kRepeatLast: b.repeat_last(); break;
    }
  }
}

}  // namespace

std::vector<Bytes> greedy_pack(const std::vector<Bytes>& files, bool solid, const PackOptions& options) {
  std::vector<Bytes> packed;
  Bytes all;
  for (const Bytes& f : files) all.insert(all.end(), f.begin(), f.end());
  Matcher matcher(all);
  std::vector<int64_t> last_pair(1u << 16, -1);
  History history;
  StreamBuilder carried;  // tables and history that a solid entry continues
  std::size_t begin = 0;
  bool first = true;
  for (const Bytes& f : files) {
    const std::size_t end = begin + f.size();
    StreamBuilder b;
    const bool continues = solid && !first;
    std::size_t floor = begin;
    if (continues) {
      b = carried;
      b.bits = BitWriter();
      floor = 0;
    } else {
      history = History();
    }
    const std::vector<Token> tokens =
        tokenize(all, floor, begin, end, matcher, last_pair, history, options.chain_depth);
    if (!continues) {
      emit_block(b, tokens, 0, std::min<std::size_t>(tokens.size(), options.block_symbols));
    } else if (!tokens.empty()) {
      b.table_change();
      emit_block(b, tokens, 0, std::min<std::size_t>(tokens.size(), options.block_symbols));
    }
    for (std::size_t from = options.block_symbols; from < tokens.size(); from += options.block_symbols) {
      b.table_change();
      emit_block(b, tokens, from, std::min<std::size_t>(tokens.size(), from + options.block_symbols));
    }
    packed.push_back(b.bytes());
    carried = b;
    begin = end;
    first = false;
  }
  return packed;
}

}  // namespace vxtest
