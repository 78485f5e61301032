// Media types by extension: the system table with the front end's own types first.
#include "server/media_types.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

TEST(ParseMimeTypes, FirstTypeListingAnExtensionWinsAndCommentsAreSkipped) {
  auto table = parse_mime_types(
      "# comment js\n"
      "text/one\t\tone ONE2\n"
      "\n"
      "text/two   one two # trailing comment three\n"
      "text/alone\n");
  EXPECT_EQ(table.at("one"), "text/one");
  EXPECT_EQ(table.at("one2"), "text/one");
  EXPECT_EQ(table.at("two"), "text/two");
  EXPECT_FALSE(table.contains("three"));
  EXPECT_FALSE(table.contains("js"));
  EXPECT_EQ(table.size(), 3u);
}

TEST(MediaTypeFor, FrontEndTypesTakePrecedenceAndCaseIsIgnored) {
  const std::pair<const char*, const char*> cases[] = {
      {"html", "text/html"},
      {"HTM", "text/html"},
      {"js", "application/javascript"},
      {"Mjs", "application/javascript"},
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
      {"TXT", "text/plain"},
      // From the system's table.
      {"gz", "application/gzip"},
      {"pdf", "application/pdf"},
  };
  for (const auto& [extension, type] : cases) {
    EXPECT_EQ(media_type_for(extension), type) << extension;
  }
  for (const char* unknown : {"", "nosuchextension", "tar.gz", "h\xc3\xa9"}) {
    EXPECT_EQ(media_type_for(unknown), std::nullopt) << unknown;
  }
}

}  // namespace
}  // namespace brackwen
