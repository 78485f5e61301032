// What outlives a run: the children the process protocol started and owns, the marks of the
// reading runs under way, and the orphans this process adopts (14. of the process protocol).
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brackwen {

// Makes this process the reaper of its orphaned descendants, so that a process that leaves a
// run's group (setsid: a detached gc, an ssh master) comes back to it, and starts the thread
// that reaps them as they end. Called first thing in main, before any other thread: SIGCHLD
// stays blocked in every thread, and that thread waits for it.
void adopt_orphans();

// A new reading run's number, never 0, and the mark its child's environment carries:
// "BRACKWEN_READ_RUN=<number>", which every process it starts inherits.
uint64_t next_reading_run();
std::string reading_run_mark(uint64_t run);

// Runs `spawn` (one child made: its pid, or -1) so that no sweep can take the child for an
// orphan before it is registered: the protocol owns it until forget_child. `run` is the
// reading run's number, 0 for a child whose descendants may outlive it.
pid_t spawn_registered(const std::function<pid_t()>& spawn, uint64_t run);

// After the protocol has reaped `pid`. The end of a reading run sweeps at once: the adopted
// processes that carry the mark of a run no longer under way are killed, with their groups.
void forget_child(pid_t pid, uint64_t run);

// The adopted processes that carry `run`'s mark, the run's own child `leader` left out: the
// memory rule counts them with the run.
std::vector<pid_t> adopted_of(uint64_t run, pid_t leader);

}  // namespace brackwen
