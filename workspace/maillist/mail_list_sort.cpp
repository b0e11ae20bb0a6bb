// Stable sort of the list by a text key: a most-significant-first sort over
// 16-byte chunks of the keys, so most comparisons are integer compares and
// only rows with a common prefix look further into their keys.
#include <algorithm>

#include "mail_list_store.h"

namespace qovra::ui {
namespace {

struct Item {
  uint64_t high, low;  // the key's bytes at the current depth, big-endian, zero-padded
  uint32_t row;
  uint32_t pos;    // position before the sort: equal keys keep this order
  uint32_t count;  // key bytes in the chunk, kChunk + 1 when the key goes on
};

constexpr size_t kChunk = 16;

// Bytes [offset, offset + 16) of key; a-z become A-Z when upper is set.
void LoadChunk(std::string_view key, size_t offset, bool upper, Item& item) {
  const size_t rest = key.size() > offset ? key.size() - offset : 0;
  const size_t n = std::min(rest, kChunk);
  uint64_t half[2] = {0, 0};
  for (size_t i = 0; i < n; ++i) {
    auto b = static_cast<unsigned char>(key[offset + i]);
    if (upper && b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 32);
    half[i / 8] |= static_cast<uint64_t>(b) << (8 * (7 - i % 8));
  }
  item.high = half[0];
  item.low = half[1];
  item.count = static_cast<uint32_t>(rest > kChunk ? kChunk + 1 : rest);
}

bool SamePrefix(const Item& a, const Item& b) {
  return a.high == b.high && a.low == b.low && a.count == b.count;
}

}  // namespace

void TMailListStore::SortByKey(Key key, bool descending, std::vector<int>& order) const {
  const bool upper = key == Key::kAddress;
  // The first chunks are read in row order, so the key arena is read
  // front to back; items go to their list positions.
  std::vector<uint32_t> position(order.size());
  for (size_t i = 0; i < order.size(); ++i) position[order[i]] = static_cast<uint32_t>(i);
  std::vector<Item> items(order.size());
  for (size_t row = 0; row < order.size(); ++row) {
    Item& item = items[position[row]];
    item.row = static_cast<uint32_t>(row);
    item.pos = position[row];
    LoadChunk(KeyOf(key, row), 0, upper, item);
  }
  // A shorter key that is a prefix of a longer one sorts first: count
  // breaks ties of the chunk the same way.
  const auto less = [descending](const Item& a, const Item& b) {
    if (a.high != b.high) return descending ? a.high > b.high : a.high < b.high;
    if (a.low != b.low) return descending ? a.low > b.low : a.low < b.low;
    if (a.count != b.count) return descending ? a.count > b.count : a.count < b.count;
    return a.pos < b.pos;
  };
  struct Range {
    size_t begin, end, depth;
  };
  std::vector<Range> todo{{0, items.size(), 0}};
  while (!todo.empty()) {
    const Range r = todo.back();
    todo.pop_back();
    if (r.depth > 0) {
      const KeyArena& arena = KeyArenaOf(key);
      constexpr size_t kAhead = 8;
      for (size_t i = r.begin; i < r.end; ++i) {
        if (i + kAhead < r.end) __builtin_prefetch(&arena.starts[items[i + kAhead].row]);
        LoadChunk(KeyOf(key, items[i].row), r.depth * kChunk, upper, items[i]);
      }
    }
    std::sort(items.begin() + static_cast<std::ptrdiff_t>(r.begin),
              items.begin() + static_cast<std::ptrdiff_t>(r.end), less);
    // Runs that share the chunk and go on are sorted by their next chunk.
    for (size_t i = r.begin; i < r.end;) {
      size_t j = i + 1;
      while (j < r.end && SamePrefix(items[i], items[j])) ++j;
      if (j - i > 1 && items[i].count > kChunk) todo.push_back({i, j, r.depth + 1});
      i = j;
    }
  }
  for (size_t i = 0; i < items.size(); ++i) order[i] = static_cast<int>(items[i].row);
}

}  // namespace qovra::ui
