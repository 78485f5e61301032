// Media types of static files by extension: the system's /etc/mime.types, with the types the
// front end's own files must be served with taking precedence.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace brackwen {

// Extension (lower case) -> the first media type that lists it, from mime.types text.
std::unordered_map<std::string, std::string> parse_mime_types(std::string_view text);

// The media type for an extension, ignoring ASCII case; nothing when it has no entry.
std::optional<std::string> media_type_for(std::string_view extension);

}  // namespace brackwen
