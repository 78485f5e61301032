// Clearing the diff-search store keeps the searches still running.
#include "stores/diff_searches.hpp"

#include <gtest/gtest.h>

#include "stores/stores.hpp"

namespace brackwen {
namespace {

TEST(ClearSearches, KeepsOnlyRunningSearches) {
  DIFF_SEARCHES().set({});
  DiffSearch running;
  running.search_id = 3;
  DiffSearch done_with_results;
  done_with_results.complete = true;
  done_with_results.results = SearchResults{};
  DiffSearch done_without;
  done_without.complete = true;
  set_diff_search(1, done_with_results);
  set_diff_search(2, done_without);
  set_diff_search(3, running);
  clear_searches();
  auto left = get_diff_searches();
  ASSERT_TRUE(left);
  ASSERT_EQ(left->size(), 1u);
  EXPECT_EQ(left->begin()->first, 3u);
  clear_searches();
  EXPECT_EQ(get_diff_searches()->size(), 1u);
  DIFF_SEARCHES().set({});
}

}  // namespace
}  // namespace brackwen
