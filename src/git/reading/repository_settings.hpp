// What a repository's own configuration names that a read must not run: the filters and diff
// drivers it defines, and the programs a lazy fetch of a missing object would run (a partial
// clone fetches what it lacks as soon as git reads it). Found with one `git config --show-scope
// --list`, so that what the user set in their own files is told apart and put back.
#pragma once
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "model/config_listing.hpp"
#include "model/repository_location.hpp"

namespace brackwen {

// "-c" settings ("key=value") gathered from one repository or several (a status also reads its
// submodules'), each once, in the order found.
struct ReadingSettings {
  std::vector<std::string> settings;
  std::unordered_set<std::string> seen;
  // The bytes the settings take once git hands them on to the gits it starts itself, a
  // submodule's status or a lazy fetch: all in one environment string.
  size_t passed_on_bytes = 0;
  // A key "-c" cannot carry, or more than one environment string holds: the read is not run.
  bool refused = false;
  // The protocol policy, settled last since it must outrank everything before it: whether a
  // repository set any of it, the protocols named anywhere, and the user's own values.
  bool repository_protocols = false;
  std::set<std::string> protocols;
  std::map<std::string, std::string> user_protocol_values;
  // Transports to refuse because the repository names a program for them that a later
  // setting cannot replace (git takes the first value of these keys): its upload-pack runs
  // over ssh and for a local remote, its proxy for git://.
  bool upload_pack = false;
  bool git_proxy = false;
  // A promisor remote that is a local repository inside the repository itself (one it ships),
  // or one whose URL the configuration does not give: local remotes are refused.
  bool remote_inside = false;
  // Whether a read may fetch at all: a promisor remote is configured (a partial clone).
  bool lazy_fetches = false;
  // The keys of a repository's own configuration that a lazy fetch would have taken a program
  // or a remote from and that reads do not use (put back or refused), spelled as git's
  // documentation spells them, each once.
  std::vector<std::string> set_aside;
  // The repository's `filter.<name>.process` keys whose put-back (empty, since the user sets
  // none) still keeps git from running the user's own clean or smudge command of that filter.
  std::vector<std::string> set_aside_filters;
  // Whether a repository names credential helpers, which then give way to the user's, in order.
  bool credential_helpers = false;
  std::vector<std::pair<std::string, std::string>> user_helpers;
};

// The bytes git's children are allowed for one environment string (MAX_ARG_STRLEN), less a
// page for the variable's name and the settings every read pins.
inline constexpr size_t MAX_PASSED_ON_BYTES = 31 * 4096;

// Adds what the configuration git reads in `dir` calls for: every key of a filter
// (`filter.<name>.clean`, `smudge`, `process`, `required`) that the repository's own
// configuration (its config file, a worktree's, and what they include) sets, when `filters`,
// every key of a diff driver (`diff.<driver>.<variable>`) it sets, and what a lazy fetch would
// take from it, put back to the user's own values (or to what stands closest to none); a
// promisor remote inside the repository refused. False when the configuration cannot be read.
bool add_repository_settings(const std::string& dir, bool filters, ReadingSettings& out);

// The same from a listing already read at `place` (a located repository's, or a submodule's).
void add_listing_settings(const GitPlace& place, const ConfigListing& listing, bool filters,
                          ReadingSettings& out);

// Adds what another repository's lookup found (a submodule's).
void merge_settings(ReadingSettings& into, const ReadingSettings& from);

// What must outrank everything before it, once every repository's settings are in: the user's
// credential helpers and own protocol policy (GIT_ALLOW_PROTOCOL included, which reading runs
// do not see) put back over whatever a repository set, then the refusal of the transports that
// would run a program a repository names.
void finish_settings(ReadingSettings& out);

// The line a read that failed writes on standard error when a repository's configuration named
// what it did not use and that may be why: a filter process that keeps the user's own filter
// from running, or, when it may have fetched (a partial clone), the programs and remotes of the
// fetch, with why each refused transport was refused. Empty otherwise.
std::string set_aside_line(const ReadingSettings& settings, std::string_view subcommand);

}  // namespace brackwen
