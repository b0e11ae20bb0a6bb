// Stable sort of the list by a text key: a most-significant-first sort over
// 8-byte chunks of the keys, so most comparisons are one integer compare
// and only rows with a common prefix look further into their keys.
#include <algorithm>

#include "mail_list_store.h"

namespace qovra::ui {
namespace {

struct Item {
  uint64_t chunk;  // the key's bytes at the current depth, big-endian, zero-padded
  uint32_t row;
  uint32_t pos;   // position before the sort: equal keys keep this order
  uint8_t count;  // key bytes in chunk, 9 when the key goes on
};

constexpr size_t kChunk = 8;

// Bytes [offset, offset + 8) of key; a-z become A-Z when upper is set.
void LoadChunk(std::string_view key, size_t offset, bool upper, Item& item) {
  const size_t rest = key.size() > offset ? key.size() - offset : 0;
  const size_t n = std::min(rest, kChunk);
  uint64_t chunk = 0;
  for (size_t i = 0; i < n; ++i) {
    auto b = static_cast<unsigned char>(key[offset + i]);
    if (upper && b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 32);
    chunk |= static_cast<uint64_t>(b) << (8 * (kChunk - 1 - i));
  }
  item.chunk = chunk;
  item.count = static_cast<uint8_t>(rest > kChunk ? kChunk + 1 : rest);
}

bool SamePrefix(const Item& a, const Item& b) {
  return a.chunk == b.chunk && a.count == b.count;
}

}  // namespace

void TMailListStore::SortByKey(Key key, bool descending, std::vector<int>& order) const {
  const bool upper = key == Key::kAddress;
  std::vector<Item> items(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    items[i].row = static_cast<uint32_t>(order[i]);
    items[i].pos = static_cast<uint32_t>(i);
  }
  // A shorter key that is a prefix of a longer one sorts first: count
  // breaks ties of chunk the same way.
  const auto less = [descending](const Item& a, const Item& b) {
    if (a.chunk != b.chunk) return descending ? a.chunk > b.chunk : a.chunk < b.chunk;
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
    for (size_t i = r.begin; i < r.end; ++i)
      LoadChunk(KeyOf(key, items[i].row), r.depth * kChunk, upper, items[i]);
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
