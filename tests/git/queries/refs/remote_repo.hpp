// A working repository with bare remotes on disk ("origin" first), and the commit cache
// filled for it the way the history view fills it.
#pragma once
#include <memory>
#include <string>

#include "git/queries/load_commits.hpp"
#include "server/history.hpp"
#include "stores/stores.hpp"
#include "support/git_recorder.hpp"
#include "support/temp_repo.hpp"

namespace brackwen::test {

struct RemoteRepo {
  RemoteRepo() {
    use_plain_git_config();
    add_remote("origin");
  }

  // A bare repository in the remotes' folder, added as remote `name`.
  void add_remote(const std::string& name) {
    git(remotes.path, {"init", "-q", "--bare", "-b", "main", name + ".git"});
    git(repo.path, {"remote", "add", name, (remotes.path / (name + ".git")).string()});
  }

  // Contents and messages carry the repository's path, so no two tests share commit ids
  // (counts are cached process-wide by commit id).
  std::string commit(const std::string& message, long seconds) {
    return repo.commit_file("f.txt", repo.str() + " " + message, message + " " + repo.str(),
                            seconds);
  }

  std::string rev(const std::string& name) { return trimmed(git(repo.path, {"rev-parse", name})); }

  // Fills COMMITS_CACHE with the newest `count` commits.
  bool load(uint32_t count = 500) {
    return load_commits_and_refs(HistoryQuery{repo.str(), count, {}, false, false}).has_value();
  }

  TempDir remotes;
  TempRepo repo;
};

}  // namespace brackwen::test
