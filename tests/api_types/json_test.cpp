// The JSON reader and writer where no reply shows them: values of unknown keys, bodies cut short,
// JSON that is well formed but not the record asked for, and the layout of floats.
#include "api_types/json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace brackwen {
namespace {

template <class T>
bool reads(std::string_view body) {
  return parse_json<T>(body).value.has_value();
}

// simdjson skips what it is not asked for without looking at it; the reader walks such values
// instead and drops them, as deep as a body may go. Malformed ones, and ones too deep for the
// stack, are corpus files of the request fuzz target.
TEST(ReadUnknownKeys, WellFormedValuesAreDropped) {
  for (std::string value :
       {"true", "null", "0", "-0", "1.5e-3", "1E400", "-1e-400", "123456789012345678901234567890",
        "\"\\ud83d\\ude00\\u0000\\/\"", "[1,[2,{\"a\":[null]}],{}]", "{\"\\u0061\":1}",
        " [ 1 , 2 ] ", "\"\\ud800\"", "{\"\\udc00\":[\"\\ud800x\"]}"}) {
    auto read = read_body<ReqOptions>(R"({"x":)" + value + R"(,"repoPath":"a","y":)" + value + "}");
    EXPECT_EQ(read, ReqOptions{"a"}) << value;
  }
  EXPECT_TRUE(reads<ReqOptions>(R"({"\ud800":1,"repoPath":"a"})"));  // a key no field has
  // Texts that are read keep their rules: a lone surrogate names no character.
  EXPECT_FALSE(reads<ReqOptions>(R"({"repoPath":"\ud800"})"));
  EXPECT_FALSE(reads<DataStoreValues>(R"({"data":{"\ud800":"v"}})"));
  std::string deep = std::string(50, '[') + std::string(50, ']');
  EXPECT_TRUE(reads<ReqOptions>(R"({"repoPath":"a","x":)" + deep + "}"));
}

// The body is read inside a bracket pair of our own; a body cut short must never borrow it.
TEST(ReadBody, EveryTruncatedBodyFails) {
  const std::string patch = R"(["o","n","M"," ","M",false,"nM",false])";
  for (const std::string& body :
       {R"({"repoPath":"r\"\\","patch":)" + patch + R"(,"headCommit":null})",
        R"(["r",)" + patch + ",null]"}) {
    ASSERT_TRUE(reads<ReqWipHunksOptions>(body)) << body;
    for (size_t size = 0; size < body.size(); ++size) {
      EXPECT_TRUE(parse_json<ReqWipHunksOptions>(body.substr(0, size)).failure)
          << body.substr(0, size);
    }
  }
}

// Well-formed JSON, so only the reader's own checks can refuse it.
TEST(ReadBody, AcceptedAndRefusedShapes) {
  for (std::string body : {"\xef\xbb\xbf{\"repoPath\":\"a\"}", R"([])", R"(["a","b"])", R"("a")",
                           R"({"repoPath":"a","repoPath":"b"})", R"({"repoPath":null})",
                           R"({"repoPath":"a","repo\u0050ath":"b"})", R"({"RepoPath":"a"})"}) {
    EXPECT_FALSE(reads<ReqOptions>(body)) << body;
  }
  for (std::string id :
       {"4294967296", "99999999999999999999999", "-1", "-0", "1.0", "1e2", "\"1\""}) {
    EXPECT_FALSE(reads<PollOptions>(R"({"actionId":)" + id + "}")) << id;
  }
  for (std::string type : {R"({"M":1})", R"("m")", R"(" M")"}) {
    EXPECT_FALSE(reads<PatchType>(type)) << type;
  }
  EXPECT_FALSE(reads<WipPatchType>(R"("T")"));
  const std::string patch = R"(["o","n","M"," ","M",false,"nM",false])";
  EXPECT_FALSE(reads<ReqWipHunksOptions>(R"(["r",)" + patch + "]"));
  EXPECT_TRUE(reads<ReqWipHunksOptions>(R"({"repoPath":"r","patch":)" + patch + "}"));
  EXPECT_TRUE(reads<ReqOptions>(" \n{\"repoPath\":\"a\"}\r\n\t"));
  EXPECT_TRUE(reads<PollOptions>(R"({"actionId":4294967295})"));
  EXPECT_TRUE(reads<PatchType>(R"({ "M" : null })"));
  EXPECT_TRUE(
      reads<Commit>(R"({"author":"a","email":"b","date":{"ms":1.5,"adjustment":60},"id":"c",)"
                    R"("index":0,"parentIds":[],"isMerge":false,"message":"m","refs":[],)"
                    R"("filtered":false,"numSkipped":0})"));  // without its stashId
  EXPECT_FALSE(reads<int32_t>("-2147483649") || reads<int32_t>("2147483648"));
  EXPECT_FALSE(reads<uint64_t>("18446744073709551616"));
  EXPECT_FALSE(reads<float>("\"1\"") || reads<DateResult>(R"({"ms":null,"adjustment":0})"));
  EXPECT_FALSE(reads<DataStoreValues>(R"({"data":{"k":1}})"));
  EXPECT_FALSE(reads<AutoCompleteKind>(R"({"createBranch":true})"));
  EXPECT_FALSE(reads<CommandsOptions>(R"({"repoPath":"r","commands":["a"]})"));
}

TEST(ReadBody, ValuesRead) {
  EXPECT_EQ(read_body<ReqOptions>(R"({"repo\u0050ath":"b"})"), ReqOptions{"b"});
  EXPECT_EQ(read_body<uint64_t>("18446744073709551615"), std::numeric_limits<uint64_t>::max());
  auto store = read_body<DataStoreValues>(R"({"data":{"k":"1","k":"2","\u006c":"3"}})");
  EXPECT_EQ(store->data, (std::unordered_map<std::string, std::string>{{"k", "2"}, {"l", "3"}}));
}

TEST(ReadNumber, FloatsRoundToNearestAndSaturate) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<std::string, float> cases[] = {
      {"16777217", 16777216.0f},
      {"1700000000000", 1.7e12f},
      {"3.4028235e38", std::numeric_limits<float>::max()},
      {"1e39", inf},
      {"0.001e400", inf},
      {"1e-50", 0.0f},
      {"1.4e-45", std::numeric_limits<float>::denorm_min()},
      {"1e99999999999999999999", inf},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(read_body<float>(text), value) << text;
  auto negative_zero = read_body<float>("-1e-50");
  EXPECT_TRUE(negative_zero && *negative_zero == 0.0f && std::signbit(*negative_zero));
}

// The word-at-a-time scan must find a character to escape at any offset of a long text.
TEST(WriteText, EscapesAtEveryOffsetOfLongTexts) {
  for (char escaped : {'"', '\\', '\n', '\x1f'}) {
    for (size_t at = 0; at < 40; ++at) {
      std::string text(40, 'x');
      text[at] = escaped;
      std::string json = to_json(text);
      EXPECT_EQ(read_body<std::string>(json), text) << json;
      EXPECT_EQ(json.size(), 42u + (escaped == '\x1f' ? 5 : 1));
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
