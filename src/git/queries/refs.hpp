// Ref names as git decorates commits with them: the fields of a RefInfo read from one name.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "model/commit.hpp"
#include "parser/input.hpp"

namespace brackwen {

// The RefInfo of one full ref name such as refs/remotes/origin/main; `commit_id` and `time`
// are left for the caller. Every "^{}" (a peeled tag) is dropped from the name.
RefInfo ref_from_name(std::string_view name, bool head = false);

// Reads one ref name: everything up to the next whitespace. Git forbids whitespace in ref
// names but allows "(", ")" and ",", so those belong to the name. Fails on an empty name.
std::optional<RefInfo> parse_ref(Input& in);

// "Local" or "Remote".
std::string_view location_text(RefLocation location);

// Names the side of a conflict-marker line: "HEAD", or the location word, "/" and the short
// name of the ref after the marker; the piece itself when it does not read as a ref.
std::string parse_ref_id(std::string_view marker_line);

}  // namespace brackwen
