// Media types of static files by extension, looked up in the table the build generates.
#include "server/media_types.hpp"

#include <algorithm>
#include <string>

#include "media_type_table.hpp"

namespace brackwen {
namespace {

constexpr bool is_sorted_by_extension() {
  return std::adjacent_find(std::begin(MEDIA_TYPE_TABLE), std::end(MEDIA_TYPE_TABLE),
                            [](const auto& a, const auto& b) { return a.first >= b.first; }) ==
         std::end(MEDIA_TYPE_TABLE);
}
static_assert(is_sorted_by_extension(), "the generated table must be sorted, each extension once");

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

std::optional<std::string_view> media_type_for(std::string_view extension) {
  std::string key = ascii_lower(extension);
  const auto* end = std::end(MEDIA_TYPE_TABLE);
  const auto* found =
      std::lower_bound(std::begin(MEDIA_TYPE_TABLE), end, key,
                       [](const auto& row, const std::string& k) { return row.first < k; });
  if (found == end || found->first != key) return std::nullopt;
  return found->second;
}

}  // namespace brackwen
