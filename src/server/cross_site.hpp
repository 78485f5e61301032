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

// Every value of the headers that tell where a request comes from.
struct SiteHeaders {
  std::vector<std::string> hosts;
  std::vector<std::string> origins;
  std::vector<std::string> fetch_sites;  // Sec-Fetch-Site, which browsers send with every request
};

// True when there is exactly one Host header, naming 127.0.0.1 or localhost with `port`; no
// Origin header or exactly one naming http://127.0.0.1 or http://localhost with it; and no
// Sec-Fetch-Site header or exactly one saying "same-origin" or "none" (a page of another site,
// an <img> tag included, says "cross-site" or "same-site").
bool is_own_site(const SiteHeaders& headers, uint16_t port);

}  // namespace brackwen
