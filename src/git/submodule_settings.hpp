// The submodules a status looks into, for their configurations: git runs a status of its own in
// each, which reads that submodule's settings and attributes and takes the "-c" settings of the
// status that started it.
#pragma once
#include <string>

#include "git/repository_settings.hpp"

namespace brackwen {

// Adds the settings of every submodule a status in `repo_path` looks into (those whose
// directory holds a ".git"), nested ones included, each directory once. A submodule whose
// configuration git cannot read is left out: its own status fails there without running
// anything.
void add_submodule_settings(const std::string& repo_path, ReadingSettings& out);

}  // namespace brackwen
