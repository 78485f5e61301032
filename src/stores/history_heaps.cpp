// History heaps on the allocator's arenas (jemalloc's mallctl interface), found at run time:
// a build without jemalloc (the sanitizer builds) has none and allocates as usual.
#include "stores/history_heaps.hpp"

#include <cstddef>
#include <mutex>
#include <vector>

extern "C" int mallctl(const char* name, void* old_value, size_t* old_size, void* new_value,
                       size_t new_size) __attribute__((weak));

namespace brackwen {

struct HistoryHeap {
  unsigned arena = 0;
  bool held = false;
};

namespace {

struct HeapPool {
  std::mutex mutex;
  std::vector<std::unique_ptr<HistoryHeap>> heaps;
};

HeapPool& heap_pool() {
  // Never destroyed: a history freed while the process exits still gives its heap back.
  static auto* pool = new HeapPool;
  return *pool;
}

HistoryHeap* new_heap() {
  unsigned arena = 0;
  size_t size = sizeof arena;
  if (!mallctl || mallctl("arenas.create", &arena, &size, nullptr, 0) != 0) return nullptr;
  auto& heaps = heap_pool().heaps;
  heaps.push_back(std::make_unique<HistoryHeap>(HistoryHeap{arena, false}));
  return heaps.back().get();
}

void give_back(HistoryHeap* heap) {
  std::lock_guard lock(heap_pool().mutex);
  heap->held = false;
}

}  // namespace

HistoryHeapLease lease_history_heap() {
  std::lock_guard lock(heap_pool().mutex);
  HistoryHeap* free_heap = nullptr;
  for (auto& heap : heap_pool().heaps) {
    if (!heap->held) free_heap = heap.get();
  }
  if (!free_heap) free_heap = new_heap();
  if (!free_heap) return nullptr;
  free_heap->held = true;
  return HistoryHeapLease(free_heap, give_back);
}

HistoryHeapScope::HistoryHeapScope(const HistoryHeapLease& lease) {
  if (!lease || !mallctl) return;
  size_t size = sizeof previous;
  unsigned arena = lease->arena;
  switched = mallctl("thread.arena", &previous, &size, &arena, sizeof arena) == 0;
}

HistoryHeapScope::~HistoryHeapScope() {
  if (switched) mallctl("thread.arena", nullptr, nullptr, &previous, sizeof previous);
}

}  // namespace brackwen
