// Kept only for src/server/server.cpp, which still includes it: remove once that file includes
// diagnostics.hpp and calls flush_diagnostics.
#pragma once
#include "diagnostics.hpp"

namespace brackwen {

inline void flush_stdout_queue(std::chrono::milliseconds limit) {
  flush_diagnostics(limit);
}

}  // namespace brackwen
