// HEAD as git's log decorates with it, from runs that read refs and no object: `symbolic-ref`
// names the ref HEAD points at through every link, as git's decorations resolve it, and that
// ref's id comes from `for-each-ref`, which takes the name exactly (a ref of another namespace
// cannot stand in for an unborn branch); a detached HEAD holds its id itself.
#include "git/queries/refs/head_decoration.hpp"

#include "git/reading/reading_argv.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/text.hpp"

namespace brackwen {
namespace {

constexpr std::string_view REFS_PREFIX = "refs/";
constexpr std::string_view BRANCH_PREFIX = "refs/heads/";
// An id, then the ref's name: names hold no NUL.
constexpr std::string_view REF_FORMAT = "--format=%(objectname)%00%(refname)";

// The text of a one-line answer without its line end.
std::optional<std::string> one_line(std::optional<std::string> text) {
  if (!text || !text->ends_with('\n')) return std::nullopt;
  text->pop_back();
  if (text->find('\n') != std::string::npos) return std::nullopt;
  return text;
}

// The id of the ref named exactly `name`; the pattern also lists refs below it.
std::optional<std::string> ref_id(const std::string& repo_path, const std::string& name) {
  std::optional<std::string> listed =
      run_git(repo_path, {"for-each-ref", std::string(REF_FORMAT), name});
  if (!listed) return std::nullopt;
  std::optional<std::string> id;
  for_each_line(*listed, [&](std::string_view line) {
    size_t nul = line.find('\0');
    if (nul == std::string_view::npos || line.substr(nul + 1) != name) return;
    if (is_object_id(line.substr(0, nul))) id = std::string(line.substr(0, nul));
  });
  return id;
}

}  // namespace

std::optional<HeadDecoration> load_head_decoration(const std::string& repo_path) {
  if (log_decorates_head()) return std::nullopt;
  std::optional<std::string> target = one_line(run_git(repo_path, {"symbolic-ref", "-q", "HEAD"}));
  if (!target) {
    // Not a link: a detached HEAD, which "HEAD" names before any ref of that name.
    std::optional<std::string> id =
        one_line(run_git(repo_path, {"rev-parse", "--verify", "-q", "HEAD"}));
    if (!id || !is_object_id(*id)) return std::nullopt;
    return HeadDecoration{std::move(*id), std::nullopt};
  }
  if (!target->starts_with(REFS_PREFIX)) return std::nullopt;
  std::optional<std::string> id = ref_id(repo_path, *target);
  if (!id) return std::nullopt;
  std::optional<std::string> branch;
  if (target->starts_with(BRANCH_PREFIX)) branch = std::move(*target);
  return HeadDecoration{std::move(*id), std::move(branch)};
}

}  // namespace brackwen
