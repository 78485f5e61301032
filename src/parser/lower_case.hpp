// Unicode lower-casing for case-insensitive sorting and searching.
#pragma once
#include <string>
#include <string_view>

namespace brackwen {

// The full Unicode lower-case mapping of a UTF-8 text (one character may become several; a
// final capital sigma becomes the final small sigma). ASCII texts take a fast path.
std::string to_lower_unicode(std::string_view utf8);

}  // namespace brackwen
