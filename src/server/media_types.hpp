// Media types of static files by extension: the table of the mime_guess crate (2.0.4), which
// the build takes from Debian's librust-mime-guess-dev.
#pragma once
#include <optional>
#include <string_view>

namespace brackwen {

// The first media type the table lists for an extension, ignoring ASCII case; nothing when it
// has no entry.
std::optional<std::string_view> media_type_for(std::string_view extension);

}  // namespace brackwen
