// Running git for a query and keeping its whole standard output.
#include "git/run_git.hpp"

#include <algorithm>
#include <cerrno>

#include "git/process.hpp"
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
// Packs and the index are mapped read-only, which the data limit leaves out: only what git
// allocates counts, well under this for the reads of a large repository.
constexpr uint64_t READING_DATA_LIMIT = uint64_t{1} << 30;
constexpr ProcessLimits READING_LIMITS{READING_STALL_LIMIT, READING_DATA_LIMIT};

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

// errno is that of the run's way out.
void report_stall(const std::vector<std::string>& argv) {
  if (errno != ETIMEDOUT) return;
  write_stderr("git" + subcommand_of(argv) + " stopped: no output or activity for " +
               std::to_string(READING_STALL_LIMIT.count()) + " s\n");
}

std::optional<std::string> output_text(std::optional<ProcessOutput> output) {
  if (!output || output->out.empty()) return std::nullopt;
  repair_utf8(output->out);
  return std::move(output->out);
}

}  // namespace

std::optional<std::string> run_git(const std::string& repo_path,
                                   const std::vector<std::string>& args) {
  auto command = reading_git_command(repo_path, args);
  if (!command) return std::nullopt;
  std::optional<ProcessOutput> run = run_reading_process(command->argv, repo_path);
  if (run) report_failed_read(*command, run->status);
  return output_text(std::move(run));
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
  std::optional<ProcessOutput> output = run_process(argv, cwd, input, READING_LIMITS);
  if (!output) report_stall(argv);
  return output;
}

std::optional<StreamEnd> stream_reading_process(const std::vector<std::string>& argv,
                                                const std::string& cwd, StreamHandlers handlers) {
  handlers.limits = READING_LIMITS;
  std::optional<StreamEnd> end = stream_process(argv, cwd, handlers);
  if (!end) report_stall(argv);
  return end;
}

std::optional<std::string> run_git_with_input(const std::string& repo_path,
                                              const std::vector<std::string>& args,
                                              const std::vector<std::string>& lines) {
  auto command = reading_git_command(repo_path, args);
  if (!command) return std::nullopt;
  std::string input;
  for (const std::string& line : lines) {
    input += line;
    input += '\n';
  }
  std::optional<ProcessOutput> run = run_reading_process(command->argv, repo_path, input);
  if (run) report_failed_read(*command, run->status);
  return output_text(std::move(run));
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
