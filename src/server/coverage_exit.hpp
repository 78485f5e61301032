// Coverage builds (BRACKWEN_COVERAGE) write their line counts at a normal exit only, but the
// server ends with _exit after "/ex" or by a signal; these write them on those ways out too.
// In other builds they do nothing.
#pragma once

namespace brackwen {

// Writes the counts gathered so far, before an _exit.
void write_coverage();

// A SIGTERM writes the counts and ends the process. Called before any other thread starts, so
// that every thread inherits SIGTERM blocked and only the thread that waits for it takes it.
void write_coverage_on_sigterm();

}  // namespace brackwen
