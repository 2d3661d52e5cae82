// Ranked-list arena: a pool of tables, the published one among them, and the
// list blob buffer.  Readers take no lock: see ranked_store.h for the scheme.
//
// Why it is safe, with every atomic operation sequentially consistent unless
// said otherwise: a reader increments the count of the table it loaded and
// then loads the published table again, reading only when both agree.  An install rebuilds a
// table only after seeing it unpublished with a zero count.  If that check
// came before the reader's increment, the reader's second load comes later
// still and sees the table unpublished (or published again only after it was
// rebuilt whole), so the reader backs off or reads a finished table; if the
// increment came first, the install sees it and leaves the table alone.
//
// Most answers come from servers not on the list, and for those a lookup
// raises no count: each table carries a filter, a bit per hashed entry, and a
// clear bit settles the lookup.  The filter is read seqlock-style: its words
// are atomics (so a rebuild racing the read is no data race), and the table's
// generation, odd while it is being rebuilt, is the same before and after the
// read only when the bit came from one finished build (the generation is
// loaded with acquire before the word, the word with acquire before the
// second look; a rebuild makes the generation odd before its release stores
// to the words).  The table is then
// checked to be still the published one, so a clear bit answers for the list
// published at that moment.  A set bit goes the counted way above.
#include "ranked/ranked_store.h"

#include <atomic>
#include <cstring>
#include <new>

#include "base/bytes.h"
#include "platform/platform.h"

namespace ranked {
namespace {

// Three tables: the published one, one a slow reader may still hold after an
// install replaced it, and one to build in.  Should all be held, the install
// (never a reader) waits for a reader to leave; readers hold a table only for
// one binary search.
constexpr int pool_size = 3;

// The filter: 2^17 bits, 16 KiB a table, so that a full list of 8000 entries
// sets about one bit in sixteen.
constexpr int filter_bits_log2 = 17;
constexpr size_t filter_words = (size_t{1} << filter_bits_log2) / 32;

struct table_slot {
  uint8_t* entries;
  size_t count;
  std::atomic<uint32_t>* filter;
  std::atomic<uint32_t> generation;  // odd while the table is being rebuilt
  std::atomic<uint32_t> readers;
};

uint8_t* arena = nullptr;
uint8_t* blob_buffer = nullptr;  // written under install_lock only
table_slot pool[pool_size] = {};
std::atomic<table_slot*> published{nullptr};  // null: the empty list
platform::lock* install_lock = nullptr;

// An entry as one number whose order is the table order (bytes compared
// first to last as unsigned values).
uint64_t order_key(const uint8_t* entry) {
  return (static_cast<uint64_t>(bytes::load_u32be(entry)) << 32) | bytes::load_u32be(entry + 4);
}

// The filter bit of an entry (its 8 bytes): two multiplicative mixes, the
// top bits taken.
uint32_t filter_bit(const uint8_t* entry) {
  const uint32_t h =
      (bytes::load_u32be(entry) * 0x9E3779B1u ^ bytes::load_u32be(entry + 4)) * 0x85EBCA6Bu;
  return h >> (32 - filter_bits_log2);
}

// Builds the filter of a table being rebuilt (its generation odd).  Release
// stores: a reader whose acquire load sees one of them also sees the odd
// generation on its second look.
void build_filter(table_slot& slot) {
  for (size_t w = 0; w < filter_words; ++w) slot.filter[w].store(0, std::memory_order_release);
  for (size_t i = 0; i < slot.count; ++i) {
    const uint32_t bit = filter_bit(slot.entries + i * ranked_entry_size);
    std::atomic<uint32_t>& word = slot.filter[bit / 32];
    const uint32_t with_bit = word.load(std::memory_order_relaxed) | uint32_t{1} << (bit % 32);
    word.store(with_bit, std::memory_order_release);
  }
}

// True when the published table's filter says for certain that no entry
// equals the key; false when the list may hold it (or a rebuild got in the
// way).
bool surely_unlisted(uint32_t bit) {
  const table_slot* slot = published.load();
  if (!slot) return true;
  const uint32_t generation = slot->generation.load(std::memory_order_acquire);
  const uint32_t word = slot->filter[bit / 32].load(std::memory_order_acquire);
  if (generation % 2 != 0 || slot->generation.load(std::memory_order_relaxed) != generation)
    return false;
  return (word >> (bit % 32) & 1) == 0 && published.load() == slot;
}

// The published table with its reader count raised, or null for the empty
// list.  Each retry means an install published in between.
table_slot* hold_published() {
  for (;;) {
    table_slot* slot = published.load();
    if (!slot) return nullptr;
    slot->readers.fetch_add(1);
    if (published.load() == slot) return slot;
    slot->readers.fetch_sub(1);
  }
}

void release(table_slot* slot) {
  if (slot) slot->readers.fetch_sub(1);
}

// Under install_lock: a table no reader holds and no reader can reach.
table_slot* free_slot() {
  for (;;) {
    const table_slot* now = published.load();
    for (table_slot& slot : pool)
      if (&slot != now && slot.readers.load() == 0) return &slot;
    platform::sleep_ms(0);
  }
}

}  // namespace

int arena_allocate() {
  if (!install_lock) install_lock = platform::lock_create();
  if (!install_lock) return 1;
  if (!arena) {
    uint8_t* bytes = new (std::nothrow) uint8_t[ranked_table_size * pool_size + ranked_blob_max_size]();
    if (!bytes) return 1;
    for (int i = 0; i < pool_size; ++i) pool[i].entries = bytes + ranked_table_size * i;
    blob_buffer = bytes + ranked_table_size * pool_size;
    auto* filters = new (std::nothrow) std::atomic<uint32_t>[filter_words * pool_size]();
    if (!filters) {
      delete[] bytes;
      return 1;
    }
    for (int i = 0; i < pool_size; ++i) pool[i].filter = filters + filter_words * i;
    arena = bytes;
  }
  return 0;
}

bool arena_allocated() { return arena != nullptr; }

int install_ranked_blob(const uint8_t* blob, size_t m) {
  if (!arena || !blob || m > ranked_blob_max_size) return 1;
  platform::lock_acquire(install_lock);
  std::memcpy(blob_buffer, blob, m);
  if (verify_ranked_blob(blob_buffer, m) != 0) {
    platform::lock_release(install_lock);
    return 1;
  }
  table_slot* slot = free_slot();
  const uint32_t generation = slot->generation.load(std::memory_order_relaxed);
  slot->generation.store(generation + 1, std::memory_order_relaxed);
  slot->count = build_ranked_table(blob_buffer, m, slot->entries);
  build_filter(*slot);
  slot->generation.store(generation + 2, std::memory_order_release);
  published.store(slot);
  platform::lock_release(install_lock);
  return 0;
}

bool ranked_lookup(uint32_t address, uint16_t port) {
  uint8_t key_bytes[ranked_entry_size];
  ranked_key(address, port, key_bytes);
  if (surely_unlisted(filter_bit(key_bytes))) return false;
  const uint64_t key = order_key(key_bytes);
  table_slot* slot = hold_published();
  if (!slot) return false;
  platform::test_point("ranked_lookup_holding");
  const uint8_t* table = slot->entries;
  size_t low = 0;
  size_t high = slot->count;
  bool found = false;
  while (low < high) {
    const size_t mid = low + (high - low) / 2;
    const uint64_t entry = order_key(table + mid * ranked_entry_size);
    if (entry == key) {
      found = true;
      break;
    }
    if (entry < key)
      low = mid + 1;
    else
      high = mid;
  }
  release(slot);
  return found;
}

size_t ranked_count() {
  table_slot* slot = hold_published();
  const size_t n = slot ? slot->count : 0;
  release(slot);
  return n;
}

bool ranked_entry(size_t i, uint8_t out[ranked_entry_size]) {
  table_slot* slot = hold_published();
  const bool inside = slot && i < slot->count;
  if (inside) std::memcpy(out, slot->entries + i * ranked_entry_size, ranked_entry_size);
  release(slot);
  return inside;
}

void ranked_reset() {
  if (!install_lock) return;
  platform::lock_acquire(install_lock);
  published.store(nullptr);
  platform::lock_release(install_lock);
}

}  // namespace ranked
