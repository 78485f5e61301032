#include "server/handlers/hunks.hpp"

#include <gtest/gtest.h>

#include "server/endpoints.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

// A handler's reply as one text: its pieces joined.
std::optional<std::string> joined(std::optional<Reply> reply) {
  if (!reply) return std::nullopt;
  std::string text;
  for (const std::string& piece : std::get<TextPieces>(reply->body)) text += piece;
  return text;
}

std::optional<std::string> reply_of(Handler handler, const std::string& body) {
  return joined(handler(body));
}

using test::TempRepo;

std::string commit_json(const std::string& id, const std::vector<std::string>& parents,
                        bool merge = false) {
  std::string list;
  for (const auto& p : parents) list += (list.empty() ? "\"" : ",\"") + p + "\"";
  return R"({"author":"a","email":"e","date":{"ms":0,"adjustment":0},"id":")" + id +
         R"(","index":0,"parentIds":[)" + list + R"(],"isMerge":)" + (merge ? "true" : "false") +
         R"(,"message":"m","stashId":null,"refs":[],"filtered":false,"numSkipped":0})";
}

std::string patch_json(const std::string& file, const std::string& type = "M") {
  return R"({"commitId":"c","oldFile":")" + file + R"(","newFile":")" + file +
         R"(","patchType":")" + type + R"(","id":"x","isImage":false})";
}

std::string hunk_request(const TempRepo& repo, const std::string& commit,
                         const std::string& patch) {
  return R"({"repoPath":")" + repo.str() + R"(","commit":)" + commit + R"(,"patch":)" + patch + "}";
}

TEST(LoadHunksEndpoint, RepliesHunksAndTheirFlatLineList) {
  TempRepo repo;
  auto first = repo.commit_file("f.txt", "a\n", "one");
  auto second = repo.commit_file("f.txt", "b\n", "two");
  auto reply = reply_of(handle_load_hunks,
                        hunk_request(repo, commit_json(second, {first}), patch_json("f.txt")));
  const std::string minus =
      R"({"status":"-","oldNum":1,"newNum":null,"hunkIndex":0,"text":"a","index":0,"lineEnding":"\n"})";
  const std::string plus =
      R"({"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"b","index":1,"lineEnding":"\n"})";
  auto marker = [](const std::string& status, int index) {
    return R"({"status":")" + status + R"(","oldNum":null,"newNum":null,"hunkIndex":)" +
           std::to_string(index) + R"(,"text":"","index":0,"lineEnding":"\n"})";
  };
  EXPECT_EQ(
      reply,
      R"([[{"oldLineRange":{"start":1,"length":1},"newLineRange":{"start":1,"length":1},"contextLine":"","lines":[)" +
          minus + "," + plus + "]," + R"("index":0}],[)" + marker("headerStart", 0) + "," +
          marker("headerEnd", 0) + "," + minus + "," + plus + "," + marker("headerStart", -1) +
          "]]");
}

TEST(LoadHunksEndpoint, NullDropAndOptionLikeIds) {
  TempRepo repo;
  auto first = repo.commit_file("f.txt", "a\n", "one");
  // Nothing changed in that file: git prints nothing.
  EXPECT_EQ(reply_of(handle_load_hunks,
                     hunk_request(repo, commit_json(first, {first}), patch_json("f.txt"))),
            "null");
  EXPECT_EQ(reply_of(handle_load_hunks,
                     hunk_request(repo, commit_json("--output=o", {}), patch_json("f.txt"))),
            "null");
  EXPECT_FALSE(std::filesystem::exists(repo.path / "o"));
  // A merge without a second parent cannot form a range: dropped.
  EXPECT_EQ(reply_of(handle_load_hunks,
                     hunk_request(repo, commit_json(first, {first}, true), patch_json("f.txt"))),
            std::nullopt);
  EXPECT_EQ(reply_of(handle_load_hunks, R"({"repoPath":"x"})"), std::nullopt);
  EXPECT_EQ(reply_of(handle_load_hunks, "null"), std::nullopt);
}

}  // namespace
}  // namespace brackwen
