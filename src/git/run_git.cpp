// Running git for a query and keeping its whole standard output.
#include "git/run_git.hpp"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

#include "git/process.hpp"
#include "git/reading/read_budget.hpp"
#include "git/reading/request_budget.hpp"
#include "parser/diagnostics.hpp"
#include "parser/utf8.hpp"

namespace brackwen {

const std::string& GIT_PROGRAM() {
  static const std::string program = "git";
  return program;
}

namespace {

// A git that reads a FIFO, a hung network file system or a remote that never answers (a lazy
// fetch) waits in silence without using the CPU; one that searches a long history or looks at
// a cold work tree is silent too, but busy, and runs on.
constexpr std::chrono::seconds READING_STALL_LIMIT{30};

// The request a read is made for: the thread's, or for a read made outside any request (an
// action's look at the stash between its steps) one of its own, with the loop's cap: no read
// runs for ever, whoever waits for it. Start-up makes no read.
std::shared_ptr<RequestBudget> reading_request() {
  std::shared_ptr<RequestBudget> request = current_request_budget();
  return request ? request : std::make_shared<RequestBudget>(LOOP_READ_CAP);
}

// Packs and the index are mapped read-only, which the memory budget leaves out: only what git
// and its children allocate counts.
ProcessLimits reading_limits(RequestBudget& request) {
  return {READING_STALL_LIMIT, read_memory_budget(), &request, true};
}

// What git writes on standard error when an allocation fails ("Out of memory, malloc failed
// ...", "Out of memory? fdopen failed", zlib's "inflate: out of memory"), never translated. It
// starts its line, after git's own prefix ("fatal: ", which may be translated, "fatal : " in
// French): the words elsewhere on a line are a name git quotes, a branch or a file's.
constexpr std::string_view OUT_OF_MEMORY[] = {"Out of memory, ", "Out of memory? ",
                                              "inflate: out of memory", "deflate: out of memory"};
constexpr size_t LONGEST_PREFIX = 40;

bool starts_with_memory_words(std::string_view text) {
  return std::any_of(std::begin(OUT_OF_MEMORY), std::end(OUT_OF_MEMORY),
                     [&](std::string_view words) { return text.starts_with(words); });
}

bool tells_out_of_memory(std::string_view line) {
  size_t prefix_end = line.find(": ");
  if (starts_with_memory_words(line)) return true;
  return prefix_end < LONGEST_PREFIX && starts_with_memory_words(line.substr(prefix_end + 2));
}

// Standard error looked through as it comes, a line at a time, for git's words of an
// allocation that failed. Only a line's start can tell, so a long line keeps no more.
struct OutOfMemoryWatch {
  static constexpr size_t KEPT = 128;
  std::string line;
  bool seen = false;

  void look(std::string_view bytes) {
    while (!seen && !bytes.empty()) {
      size_t end = bytes.find('\n');
      std::string_view piece = bytes.substr(0, end);
      line.append(piece.substr(0, KEPT - std::min(KEPT, line.size())));
      if (end == bytes.npos) return;
      seen = tells_out_of_memory(line);
      line.clear();
      bytes.remove_prefix(end + 1);
    }
  }
  bool told() const { return seen || tells_out_of_memory(line); }
};

// git's subcommand in a whole argv: the first word after git's own options and the values of
// "-c" and "-C". Only a plain word is named, so the diagnostic stays one line.
std::string subcommand_of(const std::vector<std::string>& argv) {
  for (size_t i = 1; i < argv.size(); ++i) {
    if (argv[i] == "-c" || argv[i] == "-C") {
      ++i;
      continue;
    }
    if (argv[i].starts_with("-")) continue;
    bool plain = std::all_of(argv[i].begin(), argv[i].end(),
                             [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; });
    return plain ? " " + argv[i] : "";
  }
  return "";
}

// Why the request's reads ran out of time, after "stopped: ".
std::string time_limit_reason(const RequestBudget& request) {
  if (request.out_of_time == TimeLimit::Cap)
    return "its request's reads took more than " + std::to_string(request.cap.count()) + " s";
  return "no output or activity for " + std::to_string(READING_STALL_LIMIT.count()) + " s";
}

// errno is that of the run's way out; one line per request and limit.
void report_limit(const std::vector<std::string>& argv, RequestBudget& request) {
  int reason = errno;
  if (reason == ETIMEDOUT && first_telling(request, &RequestBudget::told_time))
    write_stderr("git" + subcommand_of(argv) + " stopped: " + time_limit_reason(request) + "\n");
  if (reason == ENOMEM && first_telling(request, &RequestBudget::told_memory))
    report_memory_budget("git" + subcommand_of(argv));
  errno = reason;
}

// A git that failed once an allocation failed under its data limit is a read the memory budget
// stopped, whatever it printed before.
bool died_of_memory(int status, bool said_so) {
  if (status == 0 || !said_so) return false;
  errno = ENOMEM;
  return true;
}

std::optional<std::string> output_text(std::optional<ProcessOutput> output) {
  if (!output || output->out.empty()) return std::nullopt;
  repair_utf8(output->out);
  return std::move(output->out);
}

// run_git's output, with `input` on git's standard input.
std::optional<std::string> read_output(const std::string& repo_path,
                                       const std::vector<std::string>& args,
                                       std::string_view input) {
  auto command = reading_git_command(repo_path, args);
  if (!command) return std::nullopt;
  std::optional<ProcessOutput> run = run_reading_process(command->argv, repo_path, input);
  if (run) report_failed_read(*command, run->status);
  return output_text(std::move(run));
}

}  // namespace

std::optional<std::string> run_git(const std::string& repo_path,
                                   const std::vector<std::string>& args) {
  return read_output(repo_path, args, {});
}

std::optional<StreamEnd> stream_git(const std::string& repo_path,
                                    const std::vector<std::string>& args,
                                    const StreamHandlers& handlers) {
  auto command = reading_git_command(repo_path, args);
  if (!command) return std::nullopt;
  std::optional<StreamEnd> end = stream_reading_process(command->argv, repo_path, handlers);
  if (end) report_failed_read(*command, end->status);
  return end;
}

std::optional<ProcessOutput> run_reading_process(const std::vector<std::string>& argv,
                                                 const std::string& cwd, std::string_view input) {
  ProcessOutput output;
  // Kept whole for the caller, so charged to the request until it ends.
  HeldBytes held("git" + subcommand_of(argv));
  StreamHandlers handlers;
  handlers.input = input;
  handlers.on_out = [&](std::string_view bytes) {
    if (held.add(bytes.size())) output.out.append(bytes);
  };
  handlers.on_err = [&](std::string_view bytes) {
    if (held.add(bytes.size())) output.err.append(bytes);
  };
  handlers.cancelled = [&] { return held.too_much(); };
  handlers.restart = [&] {
    output = ProcessOutput{};
    held.set(0);
  };
  std::optional<StreamEnd> end = stream_reading_process(argv, cwd, std::move(handlers));
  if (!end || held.too_much()) return std::nullopt;
  held.keep();
  output.status = end->status;
  return output;
}

std::optional<StreamEnd> stream_reading_process(const std::vector<std::string>& argv,
                                                const std::string& cwd, StreamHandlers handlers) {
  std::shared_ptr<RequestBudget> request = reading_request();
  handlers.limits = reading_limits(*request);
  OutOfMemoryWatch memory;
  handlers.on_err = [&memory, on_err = std::move(handlers.on_err)](std::string_view bytes) {
    memory.look(bytes);
    if (on_err) on_err(bytes);
  };
  if (handlers.restart) {
    handlers.restart = [&memory, restart = std::move(handlers.restart)] {
      memory = OutOfMemoryWatch{};
      restart();
    };
  }
  std::optional<StreamEnd> end = stream_process(argv, cwd, handlers);
  if (end && died_of_memory(end->status, memory.told())) end.reset();
  if (!end) report_limit(argv, *request);
  return end;
}

std::optional<std::string> run_git_with_input(const std::string& repo_path,
                                              const std::vector<std::string>& args,
                                              const std::vector<std::string>& lines) {
  std::string input;
  for (const std::string& line : lines) {
    input += line;
    input += '\n';
  }
  return read_output(repo_path, args, input);
}

std::optional<std::string> run_user_git(const std::string& repo_path,
                                        const std::vector<std::string>& args) {
  std::vector<std::string> argv{GIT_PROGRAM()};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOutput output;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) { output.out.append(bytes); };
  handlers.whole_environment = true;
  if (!stream_process(argv, repo_path, handlers)) return std::nullopt;
  return output_text(std::move(output));
}

}  // namespace brackwen
