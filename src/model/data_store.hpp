// The data store's replies: the stored texts or why they could not be read, and the outcome
// of a save.
#pragma once
#include <string>
#include <unordered_map>

namespace brackwen {

struct DataStoreReply {
  enum class Kind { Config, Error };
  Kind kind = Kind::Config;
  std::unordered_map<std::string, std::string> config;  // Config
  std::string error;                                    // Error
  bool operator==(const DataStoreReply&) const = default;
};

struct SetDataStoreResult {
  bool success = false;
  std::string message;
  bool operator==(const SetDataStoreResult&) const = default;
};

}  // namespace brackwen
