// The object id git gives a text stored as a blob, computed here rather than by a child: a
// name that is stable across runs and machines for bytes of any kind.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace brackwen {

// What `git hash-object --stdin` prints for `bytes` (40 hexadecimal digits); absent when
// libgit2 cannot start or hash.
std::optional<std::string> blob_id(std::string_view bytes);

}  // namespace brackwen
