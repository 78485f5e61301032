// Housekeeping of the diff-search store.
#pragma once

namespace brackwen {

// Drops every finished search from DIFF_SEARCHES; searches still running stay, so that they
// can store their outcome.
void clear_searches();

}  // namespace brackwen
