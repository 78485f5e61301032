// Diagnostic lines: each written whole and flushed at once, since standard output and
// standard error are pipes to the front end, where stdio would hold lines back.
#pragma once
#include <string_view>

namespace brackwen {

// Writes to standard error under one lock, so reports of different threads never interleave.
void write_stderr(std::string_view text);

// Writes to standard output under one lock and flushes.
void write_stdout(std::string_view text);

}  // namespace brackwen
