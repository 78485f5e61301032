// UTF-8 checks and lossy decoding for text that comes from outside (git output, files).
#pragma once
#include <string>
#include <string_view>

namespace brackwen {

bool is_valid_utf8(std::string_view bytes);

// UTF-8 with each maximal invalid subpart replaced by one U+FFFD, as the Unicode standard
// recommends. Valid input is copied once.
std::string decode_utf8_lossy(std::string_view bytes);

// The same in place: valid input (the usual case for git output) is only checked.
void repair_utf8(std::string& bytes);

}  // namespace brackwen
