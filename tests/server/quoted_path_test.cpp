#include "server/quoted_path.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

TEST(QuotedPath, EscapesLikeTheDiagnosticLinesShowThem) {
  struct Case {
    std::string path;
    std::string quoted;
  };
  for (const auto& c : std::vector<Case>{
           {"/home/u/data_store.json", R"("/home/u/data_store.json")"},
           {"", R"("")"},
           {"a\\b\"c'd", R"("a\\b\"c\'d")"},
           {"t\tn\nr\r", R"("t\tn\nr\r")"},
           {"bell\x07"
            "del\x7f",
            R"("bell\u{7}del\u{7f}")"},
           {"ünï cödé/日本", "\"ünï cödé/日本\""},
           {"nbsp\u00a0zwsp\u200b", R"("nbsp\u{a0}zwsp\u{200b}")"},
           {"e\u0301", R"("e\u{301}")"},  // a combining mark on its own is escaped
           {"bad\xff\xfe!", R"("bad\xFF\xFE!")"},
           {"cut\xe6\x97", R"("cut\xE6\x97")"},
       }) {
    EXPECT_EQ(quoted_path(c.path), c.quoted) << c.path;
  }
}

}  // namespace
}  // namespace brackwen
