// Running git for a query and keeping its whole standard output.
#include "git/run_git.hpp"

#include "git/process.hpp"
#include "parser/utf8.hpp"

namespace brackwen {

const std::string& GIT_PROGRAM() {
  static const std::string program = "git";
  return program;
}

namespace {

std::optional<std::string> output_text(std::optional<ProcessOutput> output) {
  if (!output || output->out.empty()) return std::nullopt;
  repair_utf8(output->out);
  return std::move(output->out);
}

}  // namespace

std::optional<std::string> run_git(const std::string& repo_path,
                                   const std::vector<std::string>& args) {
  auto argv = reading_git_argv(repo_path, args);
  if (!argv) return std::nullopt;
  return output_text(run_process(*argv, repo_path));
}

std::optional<StreamEnd> stream_git(const std::string& repo_path,
                                    const std::vector<std::string>& args,
                                    const StreamHandlers& handlers) {
  auto argv = reading_git_argv(repo_path, args);
  if (!argv) return std::nullopt;
  return stream_process(*argv, repo_path, handlers);
}

std::optional<ProcessOutput> run_reading_process(const std::vector<std::string>& argv,
                                                 const std::string& cwd) {
  return run_process(argv, cwd);
}

std::optional<std::string> run_git_with_input(const std::string& repo_path,
                                              const std::vector<std::string>& args,
                                              const std::vector<std::string>& lines) {
  auto argv = reading_git_argv(repo_path, args);
  if (!argv) return std::nullopt;
  std::string input;
  for (const std::string& line : lines) {
    input += line;
    input += '\n';
  }
  return output_text(run_process(*argv, repo_path, input));
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
