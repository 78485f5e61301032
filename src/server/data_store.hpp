// The front end's settings: one JSON object of texts in "data_store.json" in the user's
// application-support directory, read whole on every get and replaced whole on every set.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>

#include "model/data_store.hpp"

namespace brackwen {

using DataStore = std::unordered_map<std::string, std::string>;

// The application-support directory: $XDG_DATA_HOME when set and absolute, else
// $HOME/.local/share (the password database when HOME is unset or empty), then "brackwen".
// Looked up on every call, since "/f/override_git_home" may move HOME.
std::optional<std::filesystem::path> data_store_dir();

// That directory (created with its parents) joined with "data_store.json".
std::optional<std::filesystem::path> data_store_path();

// The file's layout: "{}" when empty, else one "  key: value" line per entry.
std::string data_store_text(const DataStore& store);

DataStoreReply load_data_store();

// Writes a new file beside the old one and renames it into place, so a failed save keeps
// the old store whole. Queues the path and the text for standard output.
SetDataStoreResult save_data_store(const DataStore& store);

}  // namespace brackwen
