// The one check that a listed path still names the file it was listed for.
#include "git/queries/hunks/listed_path.hpp"

#include <string>

#include "parser/diagnostics.hpp"

namespace brackwen {
namespace {

constexpr std::string_view REPLACEMENT_CHARACTER = "\xEF\xBF\xBD";

}  // namespace

bool refuse_listed_path(std::string_view read, std::string_view path) {
  if (path.find(REPLACEMENT_CHARACTER) == std::string_view::npos) return false;
  write_stderr(std::string(read) +
               " stopped: its path holds U+FFFD, which also stands for a name that is not "
               "UTF-8, so it may name another file\n");
  return true;
}

}  // namespace brackwen
