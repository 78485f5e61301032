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

std::optional<std::string> run_to_text(const std::vector<std::string>& argv,
                                       const std::string& repo_path) {
  auto output = run_process(argv, repo_path);
  if (!output || output->out.empty()) return std::nullopt;
  repair_utf8(output->out);
  return std::move(output->out);
}

// One word for sh, whatever it holds: inside single quotes only the quote itself is special.
std::string shell_quoted(std::string_view word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

std::optional<std::string> run_git(const std::string& repo_path,
                                   const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  argv.reserve(args.size() + 1);
  argv.push_back(GIT_PROGRAM());
  argv.insert(argv.end(), args.begin(), args.end());
  return run_to_text(argv, repo_path);
}

std::optional<std::string> run_git_with_input(const std::string& repo_path,
                                              const std::vector<std::string>& args,
                                              const std::vector<std::string>& lines) {
  // The lines travel as sh's arguments ("$@"), never as script text.
  std::string script = "printf '%s\\n' \"$@\" | " + shell_quoted(GIT_PROGRAM());
  for (const std::string& arg : args) script += " " + shell_quoted(arg);
  std::vector<std::string> argv{"sh", "-c", std::move(script), "sh"};
  argv.insert(argv.end(), lines.begin(), lines.end());
  return run_to_text(argv, repo_path);
}

}  // namespace brackwen
