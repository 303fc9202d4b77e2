// Huffman code lengths, canonical codes, slot tables and table changes.
#include "packer/pack20_codes.h"

#include <algorithm>
#include <cstring>

namespace pack20 {
namespace {

// A code-length symbol with its extra bits (format.h: 16 repeats the length
// before 3..6 times, 17 sends 3..10 zeros, 18 sends 11..138).
struct LengthOp {
  uint8_t symbol;
  uint8_t bits;
  uint8_t extra;
};

// The code-length symbols that describe lengths against base (all zero in
// the absolute form). Runs are taken greedily; in the change form a run of
// repeats is not used where every length is unchanged, as a change of 0 is
// usually the cheapest symbol there.
void length_ops(const uint8_t* lengths, const uint8_t* base, bool changes, std::vector<LengthOp>* ops) {
  ops->clear();
  int i = 0;
  while (i < kTableLengths) {
    if (lengths[i] == 0) {
      int z = i;
      while (z < kTableLengths && lengths[z] == 0) ++z;
      z -= i;
      if (z >= 11) {
        const int n = std::min(z, 138);
        ops->push_back({kLongZerosSymbol, 7, static_cast<uint8_t>(n - 11)});
        i += n;
        continue;
      }
      if (z >= 3) {
        const int n = std::min(z, 10);
        ops->push_back({kShortZerosSymbol, 3, static_cast<uint8_t>(n - 3)});
        i += n;
        continue;
      }
    }
    if (i > 0) {
      int r = i;
      bool all_unchanged = true;
      while (r < kTableLengths && r - i < 6 && lengths[r] == lengths[i - 1]) {
        all_unchanged = all_unchanged && lengths[r] == base[r];
        ++r;
      }
      r -= i;
      if (r >= 3 && !(changes && all_unchanged)) {
        ops->push_back({kRepeatLengthSymbol, 2, static_cast<uint8_t>(r - 3)});
        i += r;
        continue;
      }
    }
    ops->push_back({static_cast<uint8_t>((lengths[i] - base[i]) & 0xF), 0, 0});
    ++i;
  }
}

struct TablePlan {
  std::vector<LengthOp> ops;
  uint8_t code_lengths[kCodeLengthSymbols];
  uint32_t bits;
};

void plan_form(const uint8_t* lengths, const uint8_t* base, bool changes, TablePlan* plan) {
  length_ops(lengths, base, changes, &plan->ops);
  uint32_t freq[kCodeLengthSymbols] = {};
  uint32_t bits = 2 + 4 * kCodeLengthSymbols;
  for (const LengthOp& op : plan->ops) {
    ++freq[op.symbol];
    bits += op.bits;
  }
  build_code_lengths(freq, kCodeLengthSymbols, kMaxCodeLength, plan->code_lengths);
  for (int s = 0; s < kCodeLengthSymbols; ++s) bits += freq[s] * plan->code_lengths[s];
  plan->bits = bits;
}

// Plans both forms and keeps the cheaper; returns whether it is the change form.
bool plan_table(const uint8_t* lengths, const uint8_t* previous, TablePlan* plan) {
  static const uint8_t kZero[kTableLengths] = {};
  plan_form(lengths, kZero, false, plan);
  TablePlan changed;
  plan_form(lengths, previous, true, &changed);
  if (changed.bits < plan->bits) {
    *plan = std::move(changed);
    return true;
  }
  return false;
}

}  // namespace

Slot length_slot(uint32_t value) {
  int s = 0;
  if (value >= 8) {
    // Four slots per extra-bit count from value 8 on.
    int bits = 1;
    uint32_t base = 8;
    while (value >= base + (4u << bits)) {
      base += 4u << bits;
      ++bits;
    }
    s = 8 + 4 * (bits - 1) + static_cast<int>((value - base) >> bits);
  } else {
    s = static_cast<int>(value);
  }
  const CodeSlot& slot = kLengthSlots[s];
  return {static_cast<uint8_t>(s), static_cast<uint8_t>(slot.bits), value - slot.base};
}

Slot distance_slot(uint32_t value) {
  if (value < 4) return {static_cast<uint8_t>(value), 0, 0};
  if (value >= 0x40000) {
    const uint32_t s = 36 + ((value - 0x40000) >> 16);
    return {static_cast<uint8_t>(s), 16, (value - 0x40000) & 0xFFFF};
  }
  int top = 31 - __builtin_clz(value);  // 2..17
  const uint32_t s = 2 * top + ((value >> (top - 1)) & 1);
  const uint32_t base = (2u | ((value >> (top - 1)) & 1)) << (top - 1);
  return {static_cast<uint8_t>(s), static_cast<uint8_t>(top - 1), value - base};
}

Slot short_slot(uint32_t value) {
  int s = kShortSlotCount - 1;
  while (kShortSlots[s].base > value) --s;
  return {static_cast<uint8_t>(s), static_cast<uint8_t>(kShortSlots[s].bits), value - kShortSlots[s].base};
}

void build_code_lengths(const uint32_t* freq, int count, int max_length, uint8_t* lengths) {
  std::memset(lengths, 0, static_cast<std::size_t>(count));
  struct Node {
    uint64_t weight;
    int parent;
  };
  int used[kTableLengths];
  int n = 0;
  for (int s = 0; s < count; ++s) {
    if (freq[s] != 0) used[n++] = s;
  }
  if (n == 0) return;
  if (n == 1) {
    lengths[used[0]] = 1;
    return;
  }
  uint32_t scaled[kTableLengths];
  for (int k = 0; k < n; ++k) scaled[k] = freq[used[k]];
  for (;;) {
    // Leaves sorted by weight, then internal nodes made in order of rising
    // weight: two queues give the Huffman tree without a heap.
    int order[kTableLengths];
    for (int k = 0; k < n; ++k) order[k] = k;
    std::stable_sort(order, order + n, [&](int a, int b) { return scaled[a] < scaled[b]; });
    Node nodes[2 * kTableLengths];
    for (int k = 0; k < n; ++k) nodes[k] = {scaled[order[k]], -1};
    int leaf = 0, inner = n, made = n;
    auto take = [&]() {
      if (leaf < n && (inner >= made || nodes[leaf].weight <= nodes[inner].weight)) return leaf++;
      return inner++;
    };
    while (made < 2 * n - 1) {
      const int a = take();
      const int b = take();
      nodes[made] = {nodes[a].weight + nodes[b].weight, -1};
      nodes[a].parent = made;
      nodes[b].parent = made;
      ++made;
    }
    int depth[2 * kTableLengths];
    depth[made - 1] = 0;
    int longest = 0;
    for (int k = made - 2; k >= 0; --k) {
      depth[k] = depth[nodes[k].parent] + 1;
      if (k < n) longest = std::max(longest, depth[k]);
    }
    if (longest <= max_length) {
      for (int k = 0; k < n; ++k) lengths[used[order[k]]] = static_cast<uint8_t>(depth[k]);
      return;
    }
    // Too deep: flatten the weights and build again.
    for (int k = 0; k < n; ++k) scaled[k] = (scaled[k] >> 1) | 1;
  }
}

void build_codes(const uint8_t* lengths, int count, uint16_t* codes) {
  int per_length[kMaxCodeLength + 1] = {};
  for (int s = 0; s < count; ++s) ++per_length[lengths[s]];
  per_length[0] = 0;
  uint32_t next[kMaxCodeLength + 2] = {};
  for (int l = 1; l <= kMaxCodeLength; ++l) next[l] = (next[l - 1] + per_length[l - 1]) << 1;
  for (int s = 0; s < count; ++s) {
    if (lengths[s] != 0) codes[s] = static_cast<uint16_t>(next[lengths[s]]++);
  }
}

void finish_block_code(BlockCode* code) {
  std::memset(code->codes, 0, sizeof code->codes);
  build_codes(code->lengths, kMainSymbols, code->codes);
  build_codes(code->lengths + kDistanceBase, kDistanceSymbols, code->codes + kDistanceBase);
  build_codes(code->lengths + kRepLengthBase, kRepLengthSymbols, code->codes + kRepLengthBase);
}

uint32_t table_cost(const uint8_t* lengths, const uint8_t* previous) {
  TablePlan plan;
  plan_table(lengths, previous, &plan);
  return plan.bits;
}

void write_table(BitWriter* writer, const uint8_t* lengths, const uint8_t* previous) {
  TablePlan plan;
  const bool changes = plan_table(lengths, previous, &plan);
  writer->put(changes ? kHeaderChanges : 0, 2);  // not audio
  for (int s = 0; s < kCodeLengthSymbols; ++s) writer->put(plan.code_lengths[s], 4);
  uint16_t codes[kCodeLengthSymbols] = {};
  build_codes(plan.code_lengths, kCodeLengthSymbols, codes);
  for (const LengthOp& op : plan.ops) {
    writer->put(codes[op.symbol], plan.code_lengths[op.symbol]);
    if (op.bits) writer->put(op.extra, op.bits);
  }
}

}  // namespace pack20
