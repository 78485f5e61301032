// Heaps of their own for loaded histories. A history is a hundred thousand small allocations
// that live together and die together; made while the history it replaces still lives, they
// would fill that one's holes and the two would share pages, so that freeing the old one gave
// few pages back and each load left the process larger. Made in a heap that holds no other
// live history, a history leaves only empty pages behind when it goes, and those go back to
// the system. Where the allocator has no such heaps (the sanitizers' own), nothing changes.
#pragma once
#include <memory>

namespace brackwen {

// A heap held for one history: free for another once the last copy of this goes.
struct HistoryHeap;
using HistoryHeapLease = std::shared_ptr<HistoryHeap>;

// A heap that holds no live history, made when none is free.
HistoryHeapLease lease_history_heap();

// While it lives, what this thread allocates comes from the leased heap.
struct HistoryHeapScope {
  explicit HistoryHeapScope(const HistoryHeapLease& lease);
  ~HistoryHeapScope();
  HistoryHeapScope(const HistoryHeapScope&) = delete;
  HistoryHeapScope& operator=(const HistoryHeapScope&) = delete;
  unsigned previous = 0;
  bool switched = false;
};

}  // namespace brackwen
