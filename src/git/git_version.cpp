// Reading `git --version` into the GIT_VERSION store.
#include "git/git_version.hpp"

#include <charconv>
#include <string>
#include <tuple>
#include <vector>

#include "git/process.hpp"
#include "git/run_git.hpp"
#include "parser/standard_parsers.hpp"
#include "parser/utf8.hpp"
#include "stores/stores.hpp"

namespace brackwen {
namespace {

// A part that is not plain ASCII digits (numeric_word also takes other scripts' digits) or
// does not fit 32 bits counts as 0.
uint32_t version_part(const std::vector<std::string>& parts, size_t i) {
  if (i >= parts.size()) return 0;
  const std::string& p = parts[i];
  uint32_t value = 0;
  auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), value);
  if (ec != std::errc() || end != p.data() + p.size()) return 0;
  return value;
}

}  // namespace

std::optional<GitVersion> parse_git_version(std::string_view output) {
  std::string text = decode_utf8_lossy(output);
  Input in{text};
  size_t prefix_start = in.position;
  while (!in.at_end() && !is_numeric(in.peek())) in.advance();
  if (in.position == prefix_start) return std::nullopt;

  std::vector<std::string> parts;
  while (auto part = numeric_word(in)) {
    parts.push_back(std::move(*part));
    if (in.at_end() || in.peek() != U'.') break;
    in.advance();
    if (in.at_end()) break;
  }
  return GitVersion{version_part(parts, 0), version_part(parts, 1), version_part(parts, 2)};
}

void load_git_version() {
  auto output = run_process({GIT_PROGRAM(), "--version"}, ".");
  if (!output || output->out.empty()) return;
  auto version = parse_git_version(output->out);
  if (!version) return;
  GIT_VERSION().set(*version);
}

std::optional<GitVersion> get_git_version() {
  return GIT_VERSION().get();
}

bool git_is_at_least(const GitVersion& version) {
  auto installed = get_git_version();
  if (!installed || installed->major == 0) return true;
  auto as_tuple = [](const GitVersion& v) { return std::tie(v.major, v.minor, v.patch); };
  return as_tuple(*installed) >= as_tuple(version);
}

}  // namespace brackwen
