#include <gtest/gtest.h>

#include "api_types/json.hpp"

namespace brackwen {
namespace {

TEST(Json, CommitRoundTrip) {
  Commit c;
  c.author = "a";
  c.date.ms = 1.7e12f;
  auto back = read_body<Commit>(to_json(c));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, c);
}

}  // namespace
}  // namespace brackwen
