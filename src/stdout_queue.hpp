// Diagnostic lines for standard output that must never hold up the thread that has them (a
// request, a watcher): a front end that stops reading the pipe would otherwise block the
// writer once the pipe is full.
#pragma once
#include <chrono>
#include <string>

namespace brackwen {

// Hands the line to a writer thread and returns at once. Lines are written whole, in order;
// while more than a megabyte is waiting, new lines are dropped.
void queue_stdout_line(std::string line);

// Waits at most `limit` for the waiting lines to be written; used before the process ends.
void flush_stdout_queue(std::chrono::milliseconds limit);

}  // namespace brackwen
