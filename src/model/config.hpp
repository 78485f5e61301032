// A repository's configuration as `git config --list` prints it.
#pragma once
#include <string>
#include <unordered_map>

namespace brackwen {

using TextMap = std::unordered_map<std::string, std::string>;

struct RepoConfig {
  TextMap entries;  // keys exactly as `git config --list` prints them
  TextMap remotes;
};

}  // namespace brackwen
