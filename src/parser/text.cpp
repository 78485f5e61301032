// Lines and path components.
#include "parser/text.hpp"

namespace brackwen {

std::string_view without_cr(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

std::vector<std::string_view> path_components(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.starts_with('/')) parts.emplace_back("/");
  for (size_t at = 0; at < path.size();) {
    size_t slash = path.find('/', at);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash > at) parts.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return parts;
}

}  // namespace brackwen
