// Housekeeping of the diff-search store.
#include "stores/diff_searches.hpp"

#include "stores/stores.hpp"

namespace brackwen {

void clear_searches() {
  DIFF_SEARCHES().update([](DiffSearches& searches) {
    std::erase_if(searches, [](const auto& s) { return s.second.complete; });
  });
}

}  // namespace brackwen
