// The bit writer, canonical and length-limited codes, and the stream builder.
#include "tests/bit_writer.h"

#include <algorithm>
#include <queue>
#include <stdexcept>

namespace vxtest {
namespace {

const uint32_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20,
                                  24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
const uint32_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint32_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
const uint32_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

uint32_t distance_bits(int slot) {
  static const uint32_t bits[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7,  7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14,
                                    15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
  return bits[slot];
}

uint32_t distance_base(int slot) {
  uint32_t base = 0;
  for (int k = 0; k < slot; ++k) base += 1u << distance_bits(k);
  return base;
}

// Slot of value in a table of bases and extra bits: base <= value < base + 2^bits.
int find_slot(const uint32_t* base, const uint32_t* bits, int n, uint32_t value) {
  for (int i = n - 1; i >= 0; --i)
    if (value >= base[i]) {
      if (value - base[i] >= (1u << bits[i])) throw std::invalid_argument("value out of slot range");
      return i;
    }
  throw std::invalid_argument("value below slot range");
}

void put_code(BitWriter& w, const HuffmanCode& code, int s) {
  if (s < 0 || s >= static_cast<int>(code.lengths.size()) || code.lengths[s] == 0)
    throw std::invalid_argument("symbol has no code");
  w.put(code.codes[s], code.lengths[s]);
}

}  // namespace

void BitWriter::put(uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i) {
    if (bits_ % 8 == 0) out_.push_back(0);
    if ((value >> i) & 1) out_.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
    ++bits_;
  }
}

void BitWriter::align() {
  bits_ = (bits_ + 7) / 8 * 8;
}

Bytes BitWriter::bytes() const {
  Bytes b = out_;
  b.resize((bits_ + 7) / 8, 0);
  return b;
}

HuffmanCode canonical_code(const std::vector<uint8_t>& lengths) {
  HuffmanCode c;
  c.lengths = lengths;
  c.codes.assign(lengths.size(), 0);
  uint32_t next = 0;
  for (int L = 1; L <= 15; ++L) {
    for (std::size_t s = 0; s < lengths.size(); ++s)
      if (lengths[s] == L) c.codes[s] = next++;
    next <<= 1;
  }
  return c;
}

std::vector<uint8_t> limited_code_lengths(const std::vector<uint32_t>& freq_in, int max_length) {
  std::vector<uint32_t> freq = freq_in;
  const std::size_t n = freq.size();
  std::vector<uint8_t> lengths(n, 0);
  int used = 0;
  for (uint32_t f : freq) used += f != 0;
  if (used == 0) return lengths;
  if (used == 1) {
    for (std::size_t i = 0; i < n; ++i)
      if (freq[i]) lengths[i] = 1;
    return lengths;
  }
  for (;;) {
    // Plain Huffman over the used symbols; parents tracked to get depths.
    struct Node {
      uint64_t weight;
      int index;
    };
    auto cmp = [](const Node& a, const Node& b) {
      return a.weight != b.weight ? a.weight > b.weight : a.index > b.index;
    };
    std::priority_queue<Node, std::vector<Node>, decltype(cmp)> heap(cmp);
    std::vector<int> parent(2 * n, -1);
    for (std::size_t i = 0; i < n; ++i)
      if (freq[i]) heap.push({freq[i], static_cast<int>(i)});
    int next = static_cast<int>(n);
    while (heap.size() > 1) {
      Node a = heap.top();
      heap.pop();
      Node b = heap.top();
      heap.pop();
      parent[a.index] = next;
      parent[b.index] = next;
      heap.push({a.weight + b.weight, next});
      ++next;
    }
    int longest = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (!freq[i]) continue;
      int depth = 0;
      for (int p = parent[i]; p != -1; p = parent[p]) ++depth;
      lengths[i] = static_cast<uint8_t>(depth);
      longest = std::max(longest, depth);
    }
    if (longest <= max_length) return lengths;
    for (uint32_t& f : freq)
      if (f) f = (f + 1) / 2;
  }
}

uint32_t new_match_bonus(uint32_t distance) {
  return (distance >= 0x2000) + (distance >= 0x40000);
}

uint32_t rep_match_bonus(uint32_t distance) {
  return (distance >= 0x101) + (distance >= 0x2000) + (distance >= 0x40000);
}

void StreamBuilder::send_lengths(const std::vector<uint8_t>& lengths, uint32_t header, int header_width) {
  const std::size_t total = lengths.size();
  const bool keep = (header >> (header_width - 2)) & 1;
  std::vector<LengthStep> steps;
  std::size_t i = 0;
  while (i < total) {
    std::size_t run = 1;
    while (i + run < total && lengths[i + run] == lengths[i]) ++run;
    if (lengths[i] == 0 && run >= 11) {
      const std::size_t n = std::min<std::size_t>(run, 138);
      steps.push_back({18, static_cast<uint32_t>(n - 11)});
      i += n;
    } else if (lengths[i] == 0 && run >= 3) {
      const std::size_t n = std::min<std::size_t>(run, 10);
      steps.push_back({17, static_cast<uint32_t>(n - 3)});
      i += n;
    } else if (i > 0 && lengths[i] == lengths[i - 1] && run >= 3) {
      const std::size_t n = std::min<std::size_t>(run, 6);
      steps.push_back({16, static_cast<uint32_t>(n - 3)});
      i += n;
    } else {
      const uint8_t base = keep ? prev[i] : 0;
      steps.push_back({(lengths[i] - base) & 0xF, 0});
      i += 1;
    }
  }
  std::vector<uint32_t> freq(19, 0);
  for (const LengthStep& s : steps) freq[s.symbol] += 1;
  raw_tables(header, header_width, limited_code_lengths(freq, 15), steps);
}

void StreamBuilder::tables(const std::vector<uint8_t>& m, const std::vector<uint8_t>& d,
                           const std::vector<uint8_t>& r, bool keep) {
  if (m.size() != 298 || d.size() != 48 || r.size() != 28) throw std::invalid_argument("table sizes");
  std::vector<uint8_t> all = m;
  all.insert(all.end(), d.begin(), d.end());
  all.insert(all.end(), r.begin(), r.end());
  send_lengths(all, keep ? 1 : 0, 2);
}

void StreamBuilder::audio_tables(const std::vector<std::vector<uint8_t>>& channels, bool keep) {
  const int n = static_cast<int>(channels.size());
  if (n < 1 || n > 4) throw std::invalid_argument("channel count");
  std::vector<uint8_t> all;
  for (const auto& c : channels) {
    if (c.size() != 257) throw std::invalid_argument("channel table size");
    all.insert(all.end(), c.begin(), c.end());
  }
  send_lengths(all, 0x8 | (keep ? 0x4 : 0) | static_cast<uint32_t>(n - 1), 4);
}

void StreamBuilder::raw_tables(uint32_t header, int header_width, const std::vector<uint8_t>& cl,
                               const std::vector<LengthStep>& steps) {
  bits.put(header, header_width);
  const bool audio = (header >> (header_width - 1)) & 1;
  const bool keep = (header >> (header_width - 2)) & 1;
  const int channels = audio ? static_cast<int>(header & 3) + 1 : 0;
  const std::size_t total = audio ? 257u * channels : 374u;
  if (!keep) prev.fill(0);
  for (int i = 0; i < 19; ++i) bits.put(cl[i], 4);
  const HuffmanCode code = canonical_code(cl);
  std::array<uint8_t, 1028> work{};
  std::size_t i = 0;
  for (const LengthStep& s : steps) {
    if (i >= total) throw std::invalid_argument("steps past the table");
    put_code(bits, code, s.symbol);
    if (s.symbol < 16) {
      work[i] = (prev[i] + s.symbol) & 0xF;
      ++i;
    } else if (s.symbol == 16) {
      bits.put(s.extra, 2);
      for (uint32_t n = 3 + s.extra; n > 0 && i < total; --n, ++i) work[i] = i == 0 ? 0 : work[i - 1];
    } else if (s.symbol == 17) {
      bits.put(s.extra, 3);
      i = std::min<std::size_t>(total, i + 3 + s.extra);
    } else {
      bits.put(s.extra, 7);
      i = std::min<std::size_t>(total, i + 11 + s.extra);
    }
  }
  if (i < total) throw std::invalid_argument("steps end before the table");
  if (audio) {
    for (int k = 0; k < channels; ++k)
      channel[k] = canonical_code(std::vector<uint8_t>(work.begin() + 257 * k, work.begin() + 257 * (k + 1)));
  } else {
    main = canonical_code(std::vector<uint8_t>(work.begin(), work.begin() + 298));
    distance = canonical_code(std::vector<uint8_t>(work.begin() + 298, work.begin() + 346));
    rep = canonical_code(std::vector<uint8_t>(work.begin() + 346, work.begin() + 374));
  }
  prev = work;
}

void StreamBuilder::symbol(int s) {
  put_code(bits, main, s);
}

void StreamBuilder::push_match(uint32_t length, uint32_t dist) {
  ring[ring_index & 3] = dist;
  ring_index += 1;
  last_length = length;
  last_distance = dist;
}

void StreamBuilder::new_match(uint32_t length, uint32_t dist) {
  new_match_coded(length - new_match_bonus(dist), dist);
}

uint32_t StreamBuilder::new_match_coded(uint32_t coded, uint32_t dist) {
  const int ls = find_slot(kLengthBase, kLengthBits, 28, coded - 3);
  uint32_t dbase[48], dbits[48];
  for (int i = 0; i < 48; ++i) {
    dbase[i] = distance_base(i);
    dbits[i] = distance_bits(i);
  }
  const int ds = find_slot(dbase, dbits, 48, dist - 1);
  put_code(bits, main, 270 + ls);
  bits.put(coded - 3 - kLengthBase[ls], kLengthBits[ls]);
  put_code(bits, distance, ds);
  bits.put(dist - 1 - dbase[ds], dbits[ds]);
  push_match(coded + new_match_bonus(dist), dist);
  return last_length;
}

void StreamBuilder::rep_match(int which, uint32_t length) {
  rep_match_coded(which, length - rep_match_bonus(ring_distance(which)));
}

uint32_t StreamBuilder::rep_match_coded(int which, uint32_t coded) {
  const uint32_t dist = ring_distance(which);
  const int ls = find_slot(kLengthBase, kLengthBits, 28, coded - 2);
  put_code(bits, main, 256 + which);
  put_code(bits, rep, ls);
  bits.put(coded - 2 - kLengthBase[ls], kLengthBits[ls]);
  push_match(coded + rep_match_bonus(dist), dist);
  return last_length;
}

void StreamBuilder::short_match(uint32_t dist) {
  const int j = find_slot(kShortBase, kShortBits, 8, dist - 1);
  put_code(bits, main, 261 + j);
  bits.put(dist - 1 - kShortBase[j], kShortBits[j]);
  push_match(2, dist);
}

void StreamBuilder::repeat_last() {
  symbol(256);
  push_match(last_length, last_distance);
}

}  // namespace vxtest
