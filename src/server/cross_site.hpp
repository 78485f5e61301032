// Refusing requests that do not come from the server's own pages.
//
// Any web page in the user's browser can send requests to 127.0.0.1, and this server runs
// git commands and writes files for whoever asks. Browsers always send the Host they
// address and, on cross-site requests, their page's Origin; DNS rebinding changes the Host.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace brackwen {

// True when there is exactly one Host header, naming 127.0.0.1 or localhost with `port`,
// and no Origin header or exactly one naming http://127.0.0.1 or http://localhost with it.
bool is_own_site(const std::vector<std::string>& hosts, const std::vector<std::string>& origins,
                 uint16_t port);

}  // namespace brackwen
