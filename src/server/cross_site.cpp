// Refusing requests that do not come from the server's own pages.
#include "server/cross_site.hpp"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace brackwen {
namespace {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return std::ranges::equal(
      a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

bool is_own_authority(std::string_view authority, uint16_t port) {
  std::string suffix = ":" + std::to_string(port);
  return equal_ignoring_case(authority, "127.0.0.1" + suffix) ||
         equal_ignoring_case(authority, "localhost" + suffix);
}

}  // namespace

bool is_own_site(const SiteHeaders& headers, uint16_t port) {
  const auto& [hosts, origins, fetch_sites] = headers;
  if (hosts.size() != 1 || !is_own_authority(hosts[0], port)) return false;
  if (fetch_sites.size() > 1) return false;
  if (fetch_sites.size() == 1 && fetch_sites[0] != "same-origin" && fetch_sites[0] != "none") {
    return false;
  }
  if (origins.empty()) return true;
  constexpr std::string_view scheme = "http://";
  if (origins.size() != 1 || !equal_ignoring_case(origins[0].substr(0, scheme.size()), scheme)) {
    return false;
  }
  return is_own_authority(std::string_view(origins[0]).substr(scheme.size()), port);
}

}  // namespace brackwen
