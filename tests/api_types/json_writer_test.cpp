// The JSON writer's text and number layout, and floats that must read back bit
// for bit.
#include "api_types/json_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "api_types/json_reader.hpp"

namespace brackwen {
namespace {

// The word-at-a-time scan must find a character to escape at any offset of a
// long text.
TEST(WriteText, EscapesAtEveryOffsetOfLongTexts) {
  for (char special : {'"', '\\', '\n', '\x1f'}) {
    for (size_t at = 0; at < 40; ++at) {
      std::string text(40, 'x');
      text[at] = special;
      std::string json = to_json(text);
      EXPECT_EQ(read_body<std::string>(json), text) << json;
      EXPECT_EQ(json.size(), 42u + (special == '\x1f' ? 5 : 1));
    }
  }
}

TEST(WriteNumber, FloatLayout) {
  const std::pair<float, std::string> cases[] = {
      {1.7e12f, "1700000000000.0"},
      {-0.0f, "-0.0"},
      {1e30f, "1e30"},
      {123.456f, "123.456"},
      {1e-6f, "0.000001"},
      {1.234e-7f, "1.234e-7"},
      {9.999999e12f, "9999999000000.0"},
      {1.5e13f, "1.5e13"},
      {std::numeric_limits<float>::max(), "3.4028235e38"},
      {std::numeric_limits<float>::denorm_min(), "1e-45"},
      {std::nanf(""), "null"},
      {-std::numeric_limits<float>::infinity(), "null"}};
  for (const auto& [value, json] : cases) EXPECT_EQ(to_json(value), json) << json;
}

TEST(WriteNumber, EveryFiniteFloatReadsBackTheSame) {
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    uint32_t bits = random();
    float value;
    std::memcpy(&value, &bits, 4);
    if (!std::isfinite(value)) continue;
    auto back = read_body<float>(to_json(value));
    EXPECT_TRUE(back && std::memcmp(&*back, &value, 4) == 0) << to_json(value);
  }
}

}  // namespace
}  // namespace brackwen
