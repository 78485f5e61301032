// Where the parts of a repository lie, as git itself finds them from a folder: the guards and
// the reads of working files go where git goes, never where a guess beside git would. The
// answer for a folder that holds its repository's git dir itself is kept while the files git
// found it by are unchanged.
#pragma once
#include <optional>
#include <string>

#include "git/revisions.hpp"
#include "model/repository_location.hpp"

namespace brackwen {

// What one `git rev-parse` answers at a place, and why it is absent when it is.
struct LocationAnswer {
  std::optional<RepositoryLocation> location;
  // git ran to its end and failed there: it finds no repository, or cannot read it.
  bool git_failed = false;
  // The run was ended before its end (a limit, which says so on standard error).
  bool stopped = false;
  // Otherwise git named a path its one-per-line answer cannot carry (one holding a line feed).
};
LocationAnswer locate_repository(const GitPlace& place);

// The answer kept for the place, when there is one still valid; no git runs.
std::optional<RepositoryLocation> kept_repository_location(const GitPlace& place);

// The location alone: absent when git finds no repository in `dir`, fails, or its answer
// cannot be read.
std::optional<RepositoryLocation> repository_location(const std::string& dir);

// Puts the option that makes `argv`'s git see the place's repository after its first word.
void add_place_option(GitArgs& argv, const GitPlace& place);

// The environment, which decides where git looks and what it reads (HOME, GIT_DIR,
// GIT_CONFIG_*, ...), as a key of what is kept: all of it but the server's own variables, the
// user's credentials among them, which git never reads.
std::string environment_key();

}  // namespace brackwen
