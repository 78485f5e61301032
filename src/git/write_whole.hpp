// Writing a whole buffer to a descriptor.
#pragma once
#include <string_view>

namespace brackwen {

// Repeats partial writes and writes interrupted by a signal. False on any other error, or
// when a write stores nothing; the descriptor may then hold part of the bytes. errno tells.
bool write_whole(int fd, std::string_view bytes);

}  // namespace brackwen
