// What a repository's own configuration names that a read must not run: the filters it
// defines, and the programs a lazy fetch of a missing object would run (a partial clone
// fetches what it lacks as soon as git reads it). Found with one `git config --show-scope
// --list`, so that what the user set in their own files is told apart and kept.
#pragma once
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "model/config_listing.hpp"

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
  // setting cannot replace (git takes the first value of these keys).
  bool local_upload_pack = false;
  bool git_proxy = false;
  // Whether a repository names credential helpers, which then give way to the user's, in order.
  bool credential_helpers = false;
  std::vector<std::pair<std::string, std::string>> user_helpers;
};

// The bytes git's children are allowed for one environment string (MAX_ARG_STRLEN), less a
// page for the variable's name and the settings every read pins.
inline constexpr size_t MAX_PASSED_ON_BYTES = 31 * 4096;

// Adds what the configuration git reads in `dir` calls for: the clean, smudge and process
// filters that the repository's own configuration (its config file, a worktree's, and what
// they include) defines switched off, when `filters`; and the settings a lazy fetch would take
// from it put back to the user's. False when the configuration cannot be read.
bool add_repository_settings(const std::string& dir, bool filters, ReadingSettings& out);

// The same from a listing already read (a located repository's, or a submodule's).
void add_listing_settings(const ConfigListing& listing, bool filters, ReadingSettings& out);

// Adds what another repository's lookup found (a submodule's).
void merge_settings(ReadingSettings& into, const ReadingSettings& from);

// What must outrank everything before it, once every repository's settings are in: the user's
// credential helpers and own protocol policy (GIT_ALLOW_PROTOCOL included, which reading runs
// do not see) put back over whatever a repository set, then the refusal of the transports that
// would run a program a repository names.
void finish_settings(ReadingSettings& out);

}  // namespace brackwen
