// The settings of a status: those of the repository git finds in a folder and of every
// submodule the status looks into, found as git's status finds them. git runs a status of its
// own in each submodule, which reads that submodule's settings and attributes and takes the
// "-c" settings of the status that started it.
#pragma once
#include <string>

#include "git/reading/repository_settings.hpp"

namespace brackwen {

// Adds the settings of the repository git finds in `repo_path` and of every submodule a status
// there looks into (the gitlinks of its index whose folder holds a ".git"), nested ones
// included, each folder once. False when the status must not run: git cannot say where one of
// them lies, or cannot read its configuration or index (then git's status fails there too),
// or the answer cannot be used, which one line on standard error says.
bool add_status_settings(const std::string& repo_path, ReadingSettings& out);

}  // namespace brackwen
