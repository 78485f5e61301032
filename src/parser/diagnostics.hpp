// Lines for the front end on standard output and standard error. Both are pipes it may stop
// reading, and a full pipe blocks its writer, so every line goes to a writer thread of its
// descriptor: no thread that reports (the request loop, a watcher) can be held up.
#pragma once
#include <chrono>
#include <string>

namespace brackwen {

// Return at once. The lines of a descriptor are written whole, in order; while more than a
// megabyte waits for it, new ones are dropped.
void write_stdout(std::string text);
void write_stderr(std::string text);

// Waits at most `limit` for the waiting lines of both descriptors to be written: before the
// process ends, since stdio is not used and nothing else would write them.
void flush_diagnostics(std::chrono::milliseconds limit);

}  // namespace brackwen
