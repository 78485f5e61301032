#include "server/handlers/hunks.hpp"

#include <gtest/gtest.h>

#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

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

TEST(HunkLineList, MarkersLeadEachHunkAndOneClosesTheList) {
  std::vector<Hunk> hunks(2);
  hunks[1].index = 1;
  hunks[0].lines.resize(1);
  hunks[1].lines.resize(2);
  auto lines = hunk_line_list(hunks);
  std::vector<std::pair<HunkLineStatus, int32_t>> shape;
  for (const auto& line : lines) shape.emplace_back(line.status, line.hunk_index);
  using S = HunkLineStatus;
  EXPECT_EQ(shape, (std::vector<std::pair<S, int32_t>>{{S::HeaderStart, 0},
                                                       {S::HeaderEnd, 0},
                                                       {S::Unchanged, 0},
                                                       {S::HeaderStart, 1},
                                                       {S::HeaderEnd, 1},
                                                       {S::Unchanged, 0},
                                                       {S::Unchanged, 0},
                                                       {S::HeaderStart, -1}}));
  EXPECT_EQ(lines.back().line_ending, "\n");
  EXPECT_EQ(hunk_line_list({}), std::vector<HunkLine>());
}

TEST(LoadHunksEndpoint, RepliesHunksAndTheirFlatLineList) {
  TempRepo repo;
  auto first = repo.commit_file("f.txt", "a\n", "one");
  auto second = repo.commit_file("f.txt", "b\n", "two");
  auto reply =
      handle_load_hunks(hunk_request(repo, commit_json(second, {first}), patch_json("f.txt")));
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
  EXPECT_EQ(handle_load_hunks(hunk_request(repo, commit_json(first, {first}), patch_json("f.txt"))),
            "null");
  EXPECT_EQ(
      handle_load_hunks(hunk_request(repo, commit_json("--output=o", {}), patch_json("f.txt"))),
      "null");
  EXPECT_FALSE(std::filesystem::exists(repo.path / "o"));
  // A merge without a second parent cannot form a range: dropped.
  EXPECT_EQ(
      handle_load_hunks(hunk_request(repo, commit_json(first, {first}, true), patch_json("f.txt"))),
      std::nullopt);
  EXPECT_EQ(handle_load_hunks(R"({"repoPath":"x"})"), std::nullopt);
  EXPECT_EQ(handle_load_hunks("null"), std::nullopt);
}

std::string wip_request(const TempRepo& repo, const std::string& file, const std::string& type,
                        const std::string& head_commit, bool image = false) {
  return R"({"repoPath":")" + repo.str() + R"(","patch":{"oldFile":")" + file + R"(","newFile":")" +
         file + R"(","patchType":")" + type + R"(","stagedType":" ","unStagedType":")" + type +
         R"(","conflicted":false,"id":"i","isImage":)" + (image ? "true" : "false") +
         R"(},"headCommit":)" + head_commit + "}";
}

TEST(WipHunkEndpoints, OneChangedLineGivesOneHunkAndTwoChanges) {
  TempRepo repo;
  std::string text;
  for (int i = 1; i <= 20; ++i) text += std::to_string(i) + "\n";
  auto id = repo.commit_file("f.txt", text, "f");
  auto request = wip_request(repo, "f.txt", "M", commit_json(id, {}));
  EXPECT_EQ(handle_load_wip_hunks(request), "[[],0]");

  repo.write("f.txt", text.replace(text.find("\n11\n") + 1, 2, "eleven"));
  auto reply = handle_load_wip_hunks(request);
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->starts_with(
      R"([[{"oldLineRange":{"start":8,"length":7},"newLineRange":{"start":8,"length":7},"contextLine":"","lines":[{"status":" ","oldNum":8,"newNum":8,"hunkIndex":0,"text":"8","index":7,)"))
      << *reply;
  EXPECT_TRUE(reply->ends_with(R"("index":0}],2])")) << *reply;

  auto lines = handle_load_wip_hunk_lines(request);
  ASSERT_TRUE(lines);
  EXPECT_TRUE(lines->starts_with(
      R"([{"status":" ","oldNum":1,"newNum":1,"hunkIndex":-1,"text":"1","index":0,"lineEnding":"\n"},)"));

  // Without a head commit the file is all added lines.
  auto added = handle_load_wip_hunks(wip_request(repo, "f.txt", "M", "null"));
  ASSERT_TRUE(added);
  EXPECT_TRUE(added->ends_with(",20]")) << *added;
}

TEST(WipHunkEndpoints, ImagesAndBadBodies) {
  TempRepo repo;
  repo.write("p.png", "png");
  EXPECT_EQ(handle_load_wip_hunks(wip_request(repo, "p.png", "A", "null", true)), "null");
  EXPECT_EQ(handle_load_wip_hunk_lines(wip_request(repo, "p.png", "A", "null", true)), "null");
  EXPECT_EQ(handle_load_wip_hunks(R"({"repoPath":"x"})"), std::nullopt);
  EXPECT_EQ(handle_load_wip_hunk_lines("[1]"), std::nullopt);
}

}  // namespace
}  // namespace brackwen
