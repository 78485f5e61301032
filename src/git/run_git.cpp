// Running git for a query and keeping its whole standard output.
#include "git/run_git.hpp"

#include "git/process.hpp"
#include "parser/utf8.hpp"

namespace brackwen {

const std::string& GIT_PROGRAM() {
  static const std::string program = "git";
  return program;
}

std::optional<std::string> run_git(const std::string& repo_path,
                                   const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  argv.reserve(args.size() + 1);
  argv.push_back(GIT_PROGRAM());
  argv.insert(argv.end(), args.begin(), args.end());
  auto output = run_process(argv, repo_path);
  if (!output || output->out.empty()) return std::nullopt;
  repair_utf8(output->out);
  return std::move(output->out);
}

}  // namespace brackwen
