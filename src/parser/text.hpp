// Two ways of cutting a text that every layer needs: into lines, and into path components.
#pragma once
#include <string_view>
#include <vector>

namespace brackwen {

// Calls `each` with every line of `text` without its "\n" (a "\r" before it stays); a last
// line without "\n" is a line too, and an empty text has none.
template <class F>
void for_each_line(std::string_view text, F&& each) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    each(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
}

// The line without a "\r" that ends it.
std::string_view without_cr(std::string_view line);

// "/" for an absolute path, then every non-empty component between slashes, "." and ".."
// included: "/a//b/./c/" gives "/", "a", "b", ".", "c".
std::vector<std::string_view> path_components(std::string_view path);

}  // namespace brackwen
