// Media types of static files by extension: the system's /etc/mime.types, with the types the
// front end's own files must be served with taking precedence.
#include "server/media_types.hpp"

#include <cctype>
#include <fstream>
#include <sstream>
#include <utility>

namespace brackwen {
namespace {

constexpr const char* MIME_TYPES_FILE = "/etc/mime.types";

// The front end's scripts and fonts must keep these exact types whatever the system lists
// (mime.types says "text/javascript" for js, for instance).
constexpr std::pair<const char*, const char*> PREFERRED[] = {
    {"html", "text/html"},
    {"htm", "text/html"},
    {"js", "application/javascript"},
    {"mjs", "application/javascript"},
    {"css", "text/css"},
    {"json", "application/json"},
    {"map", "text/plain"},
    {"svg", "image/svg+xml"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"ico", "image/x-icon"},
    {"woff", "application/font-woff"},
    {"woff2", "font/woff2"},
    {"ttf", "font/ttf"},
    {"wasm", "application/wasm"},
    {"txt", "text/plain"},
};

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::unordered_map<std::string, std::string> load_table() {
  std::ifstream file(MIME_TYPES_FILE, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  auto table = parse_mime_types(text.str());
  for (const auto& [extension, type] : PREFERRED) table[extension] = type;
  return table;
}

}  // namespace

std::unordered_map<std::string, std::string> parse_mime_types(std::string_view text) {
  std::unordered_map<std::string, std::string> table;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::string type, extension;
    if (!(words >> type)) continue;
    while (words >> extension) table.try_emplace(ascii_lower(extension), type);
  }
  return table;
}

std::optional<std::string> media_type_for(std::string_view extension) {
  static const auto table = load_table();
  auto it = table.find(ascii_lower(extension));
  if (it == table.end()) return std::nullopt;
  return it->second;
}

}  // namespace brackwen
