// One request's budget, shared by every reading git run made on its behalf: on the request
// loop's thread, in the parallel regions it enters and on the threads it starts for the request.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace brackwen {

// The most a reply may weigh, and the most one request may hold at once of git's output, the
// records built from it and the reply: a quarter of a gibibyte is over a million short lines,
// far more than anyone reads in a window, and it bounds what a small hostile repository
// (millions of identical lines compress to almost nothing) can make the server hold and send.
inline constexpr uint64_t MAX_REPLY_BYTES = uint64_t{256} << 20;

// How a sample of the memory rule leaves a run: within the budget, ended to make room for the
// older runs of its request (it starts again when there is room), or ended for good, for
// holding more than the budget alone (or, unable to start again, for wanting room).
enum class RoomVerdict { Fits, EndedForRoom, OutOfMemory };

// One run of a request, from its first start to its end, through every start again.
struct RequestRun {
  bool under_way = true;  // started, or given room to start again, and not ended since
  pid_t child = 0;        // of the start under way, once sampled; killed with its group
  uint64_t held = 0;      // by its processes at that start's last sample
  uint64_t peak = 0;      // the most it held at a sample, over every start
  bool can_restart = false;
  RoomVerdict verdict = RoomVerdict::Fits;  // of the start under way
};

// The wall-clock cap on a request's reads, counted from when its budget is made. A request of
// the loop holds every other request up while it runs: a read that stays busy for ever (git
// reading a mailmap of /dev/zero, an upload-pack that sends keep-alives while its pack-objects
// waits on a FIFO) would freeze the server, and the stall rule sees progress in both. The
// longest honest reads (a 100,000-commit history, its whole-history changed files, a status
// of 100,000 files) take seconds.
inline constexpr std::chrono::seconds LOOP_READ_CAP{120};
// A diff search runs on its own thread, holding nothing up, and may diff every commit of a long
// history.
inline constexpr std::chrono::seconds SEARCH_READ_CAP{600};

// Which time limit put a request out of time first.
enum class TimeLimit { None, Stall, Cap };

// Once the stall rule has ended one of a request's runs, or its cap has passed, the request is
// out of time: its runs under way end and later ones are refused (13. of the process protocol).
// The data its runs hold at once is held to one budget (12.), which they share by age: the
// oldest run under way is never ended for room. Each limit that stops a run of the request is
// told in one line, the first time.
struct RequestBudget {
  RequestBudget() = default;
  explicit RequestBudget(std::chrono::seconds read_cap);
  std::chrono::seconds cap{0};  // zero: none
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  std::atomic<TimeLimit> out_of_time{TimeLimit::None};
  std::atomic<bool> told_time{false};
  std::atomic<bool> told_memory{false};
  std::atomic<uint64_t> held{0};            // HeldBytes of the request, together
  std::atomic<bool> holds_too_much{false};  // once they passed MAX_REPLY_BYTES and `room`
  std::atomic<uint64_t> room{0};            // beyond MAX_REPLY_BYTES (widen_room)
  std::atomic<bool> told_held{false};
  std::mutex runs_mutex;
  std::condition_variable run_ended;  // a start ended or a run left: there may be room
  uint64_t next_age = 0;
  std::map<uint64_t, RequestRun> runs;  // by age: the run that started first comes first
};

// A run's place among its request's runs, held from its first start to its end: its age is the
// scope's reserved one (RequestBudgetScope), or the next when there is none. No place without a
// request.
struct RunPlace {
  RunPlace(RequestBudget* budget, bool can_restart);
  ~RunPlace();
  RunPlace(const RunPlace&) = delete;
  RunPlace& operator=(const RunPlace&) = delete;
  RequestBudget* request;
  uint64_t age = 0;
  RoomVerdict verdict = RoomVerdict::Fits;  // of the last start, once it has ended
};

// Notes `bytes` as what the start under way of the run at `place`, whose child is `child`, holds
// now. Past `budget` alone, the run is out of memory. Past it with the request's other runs
// under way (at their last samples), the youngest of them that hold something are ended, their
// groups killed, until the rest fit; the oldest is never among them. The verdict on this run,
// which another run's sample may have given.
RoomVerdict note_data(RunPlace& place, pid_t child, uint64_t bytes, uint64_t budget);

// The start under way has ended (its child is not reaped yet: until then its pid still names
// its group); the verdict on it is kept in `place`.
void end_start(RunPlace& place);

// Whether `request` is out of time: once the stall rule has put it so (stall_request), or from
// its deadline on.
bool out_of_time(RequestBudget& request);

// The stall rule has ended one of the request's runs.
void stall_request(RequestBudget& request);

// Waits until the run at `place`, ended for room, may start again: once every older run of
// the request has ended, or once what the runs under way have held at most leaves room for the
// most it held. False when the request runs out of time (errno ETIMEDOUT) or `cancelled` says
// so (errno ECANCELED) first.
bool wait_for_room(RunPlace& place, uint64_t budget, const std::function<bool()>& cancelled);

// The budget of the request this thread works for; null outside any (start-up, and work that
// is not a request's: an action's look at the stash between its steps).
std::shared_ptr<RequestBudget> current_request_budget();

// An age among the request's runs taken now, for a scope whose runs start later but must count
// as older than those that start meanwhile: work that another run of the request waits for
// while it is under way (the stash list, which the commit log waits for at its first record).
// A run ended for room waits for the older ones, so it must never be the one waited for.
uint64_t reserve_age(RequestBudget& request);

// Makes `budget` this thread's for the scope's life, then puts back the one before: installed
// by the request loop for each request, by background work for its own, and carried into each
// task of a parallel region or thread that runs git for the request. The runs made within it
// take `age` when it is given (reserve_age): they follow one another on this thread.
struct RequestBudgetScope {
  explicit RequestBudgetScope(std::shared_ptr<RequestBudget> budget,
                              std::optional<uint64_t> age = std::nullopt);
  ~RequestBudgetScope();
  RequestBudgetScope(const RequestBudgetScope&) = delete;
  RequestBudgetScope& operator=(const RequestBudgetScope&) = delete;
  std::shared_ptr<RequestBudget> outer;
  std::optional<uint64_t> outer_age;
};

// What one reader of a request holds (git's output kept, a file read whole, the records built
// from them, a reply), charged to the request of the thread that makes it as it grows and given
// back when it goes. Once the request's charges together pass MAX_REPLY_BYTES, the request
// holds too much: every charge of it fails from then on, as its reads do, and one line on
// standard error tells it, the first time: "<read> stopped: the request holds more than a
// reply may (256 MiB)". `read` holds nothing from a repository or a request. Outside any
// request a charge never fails.
struct HeldBytes {
  explicit HeldBytes(std::string read);
  ~HeldBytes();
  HeldBytes(HeldBytes&& other) noexcept;
  HeldBytes& operator=(HeldBytes&& other) noexcept;
  // Makes the charge `bytes`; false when the request holds too much.
  bool set(uint64_t bytes);
  bool add(uint64_t bytes) { return set(charged + bytes); }
  // What was charged stays charged until the request ends: for what the reader hands on.
  void keep() { charged = 0; }
  bool too_much() const { return request && request->holds_too_much; }
  std::shared_ptr<RequestBudget> request;
  std::string read;
  uint64_t charged = 0;
};

// The thread's request may hold `bytes` more than a reply may, from now to its end: for a
// load whose honest size grows with the commits it reads (the changed files of a whole window),
// given room per commit, so that what one commit can make it hold stays bounded. Nothing
// outside any request.
void widen_room(uint64_t bytes);

// Whether the thread's request holds too much (HeldBytes); false outside any request.
bool holds_too_much();

// What a text holds beyond its own record: nothing while it fits in the record.
uint64_t heap_bytes(const std::string& text);

// Whether a line about `told` is still to be written: true once per request.
bool first_telling(RequestBudget& request, std::atomic<bool> RequestBudget::*told);

}  // namespace brackwen
