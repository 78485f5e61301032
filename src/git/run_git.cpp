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

std::vector<std::string> git_argv(const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  argv.reserve(args.size() + 1);
  argv.push_back(GIT_PROGRAM());
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::optional<std::string> output_text(std::optional<ProcessOutput> output) {
  if (!output || output->out.empty()) return std::nullopt;
  repair_utf8(output->out);
  return std::move(output->out);
}

}  // namespace

std::optional<std::string> run_git(const std::string& repo_path,
                                   const std::vector<std::string>& args) {
  return output_text(run_process(git_argv(args), repo_path));
}

std::optional<StreamEnd> stream_git(const std::string& repo_path,
                                    const std::vector<std::string>& args,
                                    const StreamHandlers& handlers) {
  return stream_process(git_argv(args), repo_path, handlers);
}

std::optional<std::string> run_git_with_input(const std::string& repo_path,
                                              const std::vector<std::string>& args,
                                              const std::vector<std::string>& lines) {
  std::string input;
  for (const std::string& line : lines) {
    input += line;
    input += '\n';
  }
  return output_text(run_process(git_argv(args), repo_path, input));
}

}  // namespace brackwen
