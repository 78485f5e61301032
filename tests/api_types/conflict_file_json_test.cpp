#include "api_types/conflict_file_json.hpp"

#include <gtest/gtest.h>

#include "api_types/json.hpp"
#include "git/conflicts/api.hpp"

namespace brackwen {
namespace {

TEST(ConflictFileJson, WorkedExampleAndEmptyFile) {
  auto file = read_conflicts("a\n<<<<<<< HEAD\nb\nc\n=======\nd\n>>>>>>> topic\ne\n");
  file.ref_name_bottom = "Local/topic";
  EXPECT_EQ(
      to_json(file),
      R"({"lines":[{"ok":{"text":"a"}},{"slot":{"section":0,"index":0}},)"
      R"({"slot":{"section":0,"index":1}},{"ok":{"text":"e"}}],)"
      R"("sections":[{"left":[{"conflict":{"text":"b","side":"left","section":0,"key":"Left-0-0"}},)"
      R"({"conflict":{"text":"c","side":"left","section":0,"key":"Left-0-1"}}],)"
      R"("right":[{"conflict":{"text":"d","side":"right","section":0,"key":"Right-0-0"}},)"
      R"({"blank":{"section":0}}]}],)"
      R"("refNameTop":"HEAD","refNameBottom":"Local/topic","lineEnding":"\n","maxLineLength":1})");
  EXPECT_EQ(to_json(read_conflicts("")),
            R"({"lines":[],"sections":[],"refNameTop":"","refNameBottom":"","lineEnding":"\n",)"
            R"("maxLineLength":0})");
  EXPECT_EQ(to_json(std::optional<ConflictFile>()), "null");
}

}  // namespace
}  // namespace brackwen
