#include "api_types/json_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "api_types/json.hpp"
#include "json_failures.hpp"

namespace brackwen {
namespace {

using K = JsonFailureKind;
using test::failure_kind;
using test::failure_message;

// simdjson skips what it is not asked for without looking at it; these must still fail.
TEST(ReadUnknownKeys, MalformedValuesAreSyntaxFailures) {
  const char* bad[] = {
      "tru",
      "nul",
      "truex",
      "01",
      "-01",
      "1.",
      ".5",
      "-",
      "+1",
      "1e",
      "1e+",
      "0x10",
      "1.5.2",
      "[1,]",
      "[1 2]",
      "[,1]",
      "[1",
      "{\"a\" 1}",
      "{\"a\":1,}",
      "{,}",
      "{1:2}",
      "{\"a\":1 \"b\":2}",
      "\"\\q\"",
      "\"\\u12\"",
      "\"\\ud800\"",
      "\"\\udc00\"",
      "\"\\ud800\\u0041\"",
      "\"a\tb\"",
      "\"a\x01\"",
      "\"\xff\"",
      "[[[1]]",
      "NaN",
      "Infinity",
      "'a'",
      "[1]]",
  };
  for (const char* value : bad) {
    std::string body = std::string(R"({"repoPath":"a","x":)") + value + "}";
    EXPECT_EQ(failure_kind<ReqOptions>(body), K::Syntax) << body;
    std::string nested = std::string(R"({"repoPath":"a","x":{"y":[)") + value + "]}}";
    EXPECT_EQ(failure_kind<ReqOptions>(nested), K::Syntax) << nested;
  }
  std::string with_nul = std::string(R"({"repoPath":"a","x":"a)") + '\0' + "\"}";
  EXPECT_EQ(failure_kind<ReqOptions>(with_nul), K::Syntax);
}

TEST(ReadUnknownKeys, WellFormedValuesAreDropped) {
  const char* good[] = {
      "true",
      "null",
      "0",
      "-0",
      "1.5e-3",
      "1E400",
      "-1e-400",
      "123456789012345678901234567890",
      "\"\\ud83d\\ude00\\u0000\\/\"",
      "[]",
      "{}",
      "[1,[2,{\"a\":[null]}]]",
      "{\"\\u0061\":1}",
      " [ 1 , 2 ] ",
  };
  for (const char* value : good) {
    std::string body = std::string(R"({"x":)") + value + R"(,"repoPath":"a","y":)" + value + "}";
    auto read = parse_json<ReqOptions>(body);
    ASSERT_TRUE(read.value) << body << ": " << read.failure->message;
    EXPECT_EQ(read.value->repo_path, "a");
  }
}

TEST(ReadUnknownKeys, DeepNestingFailsWithoutExhaustingTheStack) {
  std::string deep =
      R"({"repoPath":"a","x":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  EXPECT_EQ(failure_kind<ReqOptions>(deep), K::Syntax);
  EXPECT_EQ(failure_kind<ReqOptions>(std::string(100000, '[')), K::Syntax);
  std::string fine = R"({"repoPath":"a","x":)" + std::string(50, '[') + std::string(50, ']') + "}";
  EXPECT_TRUE(read_body<ReqOptions>(fine));
}

TEST(ReadBody, NullWhitespaceAndTrailingCharacters) {
  const std::pair<std::string, std::optional<K>> cases[] = {
      {"null", std::nullopt},
      {" \t\r\nnull\n ", std::nullopt},
      {"", K::Syntax},
      {" \n", K::Syntax},
      {"nul", K::Syntax},
      {"nulx", K::Syntax},
      {"null x", K::TrailingCharacters},
      {"nullx", K::TrailingCharacters},
      {R"({"repoPath":"a"} x)", K::TrailingCharacters},
      {R"({"repoPath":"a"}})", K::TrailingCharacters},
      {R"({"repoPath":"a"},)", K::TrailingCharacters},
      {R"({"repoPath":"a"}{})", K::TrailingCharacters},
      {R"(["a"]])", K::TrailingCharacters},
      {R"({"repoPath":"a")", K::Syntax},
      {R"({"repoPath":)", K::Syntax},
      {"[", K::Syntax},
      {"{", K::Syntax},
      {"]", K::Syntax},
      {"[\"a\"", K::Syntax},
      {"[\"a\",", K::Syntax},
      {"\xef\xbb\xbf{\"repoPath\":\"a\"}", K::Syntax},
  };
  for (const auto& [body, kind] : cases) {
    auto read = parse_json<ReqOptions>(body);
    EXPECT_EQ(read.failure ? std::optional<K>(read.failure->kind) : std::nullopt, kind) << body;
    if (!kind) {
      EXPECT_FALSE(read.value) << body;
    }
  }
  EXPECT_TRUE(read_body<ReqOptions>(" \n{\"repoPath\":\"a\"}\r\n\t"));
}

// The body is read inside a bracket pair of our own; a body cut short must never borrow it.
TEST(ReadBody, EveryTruncatedBodyFails) {
  ReqWipHunksOptions request;
  request.repo_path = "r\"\\";
  request.head_commit.emplace().parent_ids = {"p"};
  std::string object = to_json(request);
  std::string array = R"(["r",["o","n","M"," ","M",false,"nM",false],null])";
  for (const std::string& body : {object, array}) {
    ASSERT_TRUE(read_body<ReqWipHunksOptions>(body)) << body;
    for (size_t size = 0; size < body.size(); ++size) {
      auto read = parse_json<ReqWipHunksOptions>(body.substr(0, size));
      EXPECT_TRUE(read.failure) << body.substr(0, size);
    }
  }
}

TEST(ReadBody, BareString) {
  EXPECT_EQ(read_body<std::string>(R"( "a\"b" )"), "a\"b");
  EXPECT_FALSE(read_body<std::string>("null"));
  EXPECT_EQ(failure_kind<std::string>("5"), K::InvalidType);
  EXPECT_EQ(failure_kind<std::string>("{}"), K::InvalidType);
  EXPECT_EQ(failure_kind<std::string>(R"("a"x)"), K::TrailingCharacters);
  EXPECT_EQ(failure_kind<std::string>(R"("a" "b")"), K::TrailingCharacters);
  EXPECT_EQ(failure_kind<std::string>(R"("a)"), K::Syntax);
}

TEST(ReadText, EveryEscapeIsDecoded) {
  auto text = read_body<std::string>(R"("\"\\\/\b\f\n\r\t\u0041\u00e9\u20ac\ud83d\ude00\u0000z")");
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, std::string("\"\\/\b\f\n\r\tAé€😀") + '\0' + "z");  // no cut at the NUL
}

TEST(ReadRecord, ArrayFormEqualsObjectForm) {
  EXPECT_EQ(read_body<ReqOptions>(R"(["p"])"), read_body<ReqOptions>(R"({"repoPath":"p"})"));
  EXPECT_EQ(read_body<MessageAC>(R"(["w","r",3,"createBranch"])"),
            (MessageAC{"w", "r", 3, AutoCompleteKind::CreateBranch}));
  EXPECT_EQ(read_body<WatchRepoOptions>(R"([["a","b"],"root",true])"),
            (WatchRepoOptions{{"a", "b"}, "root", true}));
}

TEST(ReadRecord, InvalidLengthAndTrailingElements) {
  EXPECT_EQ(failure_kind<ReqOptions>("[]"), K::InvalidLength);
  EXPECT_EQ(failure_message<ReqOptions>("[]"),
            "invalid length 0, expected struct ReqOptions with 1 element");
  EXPECT_EQ(failure_kind<ReqOptions>(R"(["a","b"])"), K::TrailingCharacters);
  EXPECT_EQ(failure_kind<ReqOptions>(R"(["a",])"), K::Syntax);
  EXPECT_EQ(failure_kind<ReqOptions>(R"(["a" "b"])"), K::Syntax);
  EXPECT_EQ(failure_message<ReqWipHunksOptions>(R"(["r",["o","n","M"," ","M",false,"nM",false]])"),
            "invalid length 2, expected struct ReqWipHunksOptions with 3 elements");
  EXPECT_EQ(failure_kind<ReqOptions>("5"), K::InvalidType);
  EXPECT_EQ(failure_kind<ReqOptions>(R"("a")"), K::InvalidType);
}

TEST(ReadRecord, DuplicateMissingAndCaseDifferentKeys) {
  EXPECT_EQ(failure_kind<ReqOptions>(R"({"repoPath":"a","repoPath":"b"})"), K::DuplicateField);
  EXPECT_EQ(failure_message<ReqOptions>(R"({"repoPath":"a","repoPath":"b"})"),
            "duplicate field `repoPath`");
  EXPECT_EQ(failure_kind<ReqOptions>(R"({"repoPath":"a","repo\u0050ath":"b"})"), K::DuplicateField);
  EXPECT_EQ(read_body<ReqOptions>(R"({"repo\u0050ath":"b"})"), ReqOptions{"b"});
  EXPECT_EQ(failure_message<ReqOptions>(R"({"RepoPath":"a"})"), "missing field `repoPath`");
  EXPECT_EQ(failure_message<ReqOptions>(R"({"repopath":"a","REPOPATH":"b"})"),
            "missing field `repoPath`");
  EXPECT_EQ(failure_kind<ReqOptions>(R"({"repoPath":null})"), K::InvalidType);
  EXPECT_EQ(failure_kind<ReqOptions>(R"({"repoPath":nul})"), K::Syntax);
}

TEST(ReadNumber, IntegerRanges) {
  const std::pair<std::string, std::optional<K>> u32_cases[] = {
      {"0", std::nullopt},
      {"4294967295", std::nullopt},
      {"4294967296", K::InvalidValue},
      {"-1", K::InvalidValue},
      {"-0", K::InvalidValue},
      {"1.0", K::InvalidType},
      {"1e2", K::InvalidType},
      {"\"1\"", K::InvalidType},
      {"null", K::InvalidType},
      {"01", K::Syntax},
      {"99999999999999999999999", K::InvalidValue},
  };
  for (const auto& [number, kind] : u32_cases) {
    EXPECT_EQ(failure_kind<PollOptions>(R"({"actionId":)" + number + "}"), kind) << number;
  }
  EXPECT_EQ(read_body<PollOptions>(R"({"actionId":4294967295})")->action_id, 4294967295u);
  EXPECT_EQ(read_body<int32_t>("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(read_body<int32_t>("2147483647"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(read_body<int32_t>("-0"), 0);
  EXPECT_EQ(failure_kind<int32_t>("-2147483649"), K::InvalidValue);
  EXPECT_EQ(failure_kind<int32_t>("2147483648"), K::InvalidValue);
  EXPECT_EQ(read_body<uint64_t>("18446744073709551615"), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(failure_kind<uint64_t>("18446744073709551616"), K::InvalidValue);
  EXPECT_EQ(read_body<MessageAC>(R"(["w","r",4294967296,"commitMessage"])")->max_num, 4294967296u);
  EXPECT_EQ(
      failure_kind<ReqCommitsOptions2>(
          R"({"repoPath":"r","numCommits":4294967296,"filters":[],"fast":false,"skipStashes":false})"),
      K::InvalidValue);
}

TEST(ReadNumber, FloatsRoundToNearestAndSaturate) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<std::string, float> cases[] = {
      {"1.5", 1.5f},
      {"1", 1.0f},
      {"1.0", 1.0f},
      {"-0.5e1", -5.0f},
      {"16777217", 16777216.0f},
      {"0.1", 0.1f},
      {"1700000000000", 1.7e12f},
      {"3.4028235e38", std::numeric_limits<float>::max()},
      {"1e39", inf},
      {"-1e39", -inf},
      {"1E400", inf},
      {"0.001e400", inf},
      {"1e-50", 0.0f},
      {"1.4e-45", std::numeric_limits<float>::denorm_min()},
      {"1e99999999999999999999", inf},
  };
  for (const auto& [text, value] : cases) {
    auto read = read_body<float>(text);
    ASSERT_TRUE(read) << text;
    EXPECT_EQ(*read, value) << text;
  }
  auto negative_zero = read_body<float>("-1e-50");
  ASSERT_TRUE(negative_zero);
  EXPECT_TRUE(*negative_zero == 0.0f && std::signbit(*negative_zero));
  EXPECT_EQ(failure_kind<float>("\"1\""), K::InvalidType);
  EXPECT_EQ(failure_kind<DateResult>(R"({"ms":null,"adjustment":0})"), K::InvalidType);
}

TEST(ReadContainers, ListsMapsAndPairs) {
  EXPECT_EQ(read_body<std::vector<std::string>>(R"([ "a" , "b" ])"),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(failure_kind<std::vector<std::string>>("{}"), K::InvalidType);
  EXPECT_EQ(failure_kind<std::vector<std::string>>(R"(["a",])"), K::Syntax);
  auto store = read_body<DataStoreValues>(R"({"data":{"k":"1","k":"2","\u006c":"3"}})");
  ASSERT_TRUE(store);
  EXPECT_EQ(store->data, (std::unordered_map<std::string, std::string>{{"k", "2"}, {"l", "3"}}));
  EXPECT_EQ(failure_kind<DataStoreValues>(R"({"data":{"k":1}})"), K::InvalidType);
  using Pair = std::pair<std::string, uint32_t>;
  EXPECT_EQ(read_body<Pair>(R"(["a",1])"), Pair("a", 1));
  EXPECT_EQ(failure_kind<Pair>(R"(["a"])"), K::InvalidLength);
  EXPECT_EQ(failure_kind<Pair>(R"(["a",1,2])"), K::TrailingCharacters);
  EXPECT_EQ(failure_kind<Pair>(R"(["a",1,])"), K::Syntax);
}

}  // namespace
}  // namespace brackwen
