#include "parser/input.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

std::optional<std::string> take_five(Input& in) {
  return sequence(in, [](Input& in) -> std::optional<std::string> {
    size_t start = in.position;
    for (int i = 0; i < 5; ++i) {
      if (in.at_end()) return std::nullopt;
      in.advance();
    }
    return in.slice(start, in.position);
  });
}

TEST(ParseAll, ReportsLeftoverTextAtFurthestPositionInCodePoints) {
  testing::internal::CaptureStderr();
  auto v = parse_all("éabcdxyz", take_five);
  std::string report = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(v);
  EXPECT_EQ(report,
            "\nPARSE FAILURE AT POSITION 5:\n  SUCCESSFULLY PARSED:\n  \"éabcd\"\n  \n"
            "  FAILED AT:\n  \"xyz\"\n\n");
}

TEST(ParseAll, FailureOnEmptyTextIsSilent) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(parse_all("", take_five));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Literal, PartialMatchRestoresPositionButCountsFurthest) {
  Input in{"\rx"};
  EXPECT_FALSE(literal(in, "\r\n"));
  EXPECT_EQ(in.position, 0u);
  EXPECT_EQ(in.furthest_position, 1u);
}

}  // namespace
}  // namespace brackwen
