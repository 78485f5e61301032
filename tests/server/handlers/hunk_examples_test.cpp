// The worked examples of working-copy and commit hunks, asked of the real server binary.
#include <gtest/gtest.h>
#include <simdjson.h>

#include <string>

#include "support/server_harness.hpp"

namespace brackwen {
namespace {

using test::ServerProcess;
using test::TempRepo;

std::string wip_request(const TempRepo& repo, const std::string& file, const std::string& type,
                        const std::string& head, bool image = false) {
  std::string head_json =
      head.empty()
          ? "null"
          : R"({"author":"a","email":"e","date":{"ms":0,"adjustment":0},"id":")" + head +
                R"(","index":0,"parentIds":[],"isMerge":false,"message":"m","stashId":null,"refs":[],"filtered":false,"numSkipped":0})";
  return R"({"repoPath":")" + repo.str() + R"(","patch":{"oldFile":")" + file + R"(","newFile":")" +
         file + R"(","patchType":")" + type + R"(","stagedType":" ","unStagedType":")" + type +
         R"(","conflicted":false,"id":"i","isImage":)" + (image ? "true" : "false") +
         R"(},"headCommit":)" + head_json + "}";
}

std::string number(simdjson::dom::element value) {
  return value.is_null() ? "" : std::to_string(int64_t(value));
}

// One line as "<status><old>/<new>", e.g. " 8/8", "-11/", "+/11".
std::string line_shape(simdjson::dom::element line) {
  return std::string(std::string_view(line["status"])) + number(line["oldNum"]) + "/" +
         number(line["newNum"]);
}

// "[old start,length new start,length] line line ...; " per hunk, then the count.
std::string hunks_shape(const std::string& body) {
  simdjson::dom::parser parser;
  simdjson::dom::element reply = parser.parse(body);
  if (reply.is_null()) return "null";
  std::string out;
  int64_t index = 0;
  for (auto hunk : simdjson::dom::array(reply.at(0))) {
    EXPECT_EQ(int64_t(hunk["index"]), index);
    EXPECT_EQ(std::string_view(hunk["contextLine"]), "");
    auto range = [](simdjson::dom::element r) {
      return std::to_string(int64_t(r["start"])) + "," + std::to_string(int64_t(r["length"]));
    };
    out += "[" + range(hunk["oldLineRange"]) + " " + range(hunk["newLineRange"]) + "]";
    for (auto line : simdjson::dom::array(hunk["lines"])) {
      EXPECT_EQ(int64_t(line["hunkIndex"]), index);
      out += " " + line_shape(line);
    }
    out += "; ";
    ++index;
  }
  return out + std::to_string(int64_t(reply.at(1)));
}

std::string numbered(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += std::to_string(i) + "\n";
  return text;
}

TEST(WorkingCopyHunkExamples, AnsweredByTheServer) {
  TempRepo repo;
  auto head = repo.commit_file("twenty.txt", numbered(1, 20), "twenty");
  head = repo.commit_file("gone.txt", "x\ny", "gone");
  head = repo.commit_file("lf.txt", "one\ntwo\nthree\n", "lf");
  head = repo.commit_file("thirty.txt", numbered(1, 30), "thirty");
  ServerProcess server;
  auto shape = [&](const std::string& file, const std::string& type, const std::string& head_id) {
    auto reply = server.post("/f/load_wip_hunks", wip_request(repo, file, type, head_id));
    EXPECT_EQ(reply.status, 200) << file;
    return hunks_shape(reply.body);
  };

  EXPECT_EQ(shape("twenty.txt", "M", head), "0");  // no change yet: [[],0]
  repo.write("twenty.txt", numbered(1, 10) + "eleven\n" + numbered(12, 20));
  EXPECT_EQ(shape("twenty.txt", "M", head),
            "[8,7 8,7]  8/8  9/9  10/10 -11/ +/11  12/12  13/13  14/14; 2");
  repo.write("twenty.txt", numbered(1, 14) + "fifteen\n" + numbered(16, 20));
  EXPECT_EQ(shape("twenty.txt", "M", head),
            "[12,9 12,9]  12/12  13/13  14/14 -15/ +/15  16/16  17/17  18/18  19/19  20/20; 2");

  // Six unchanged lines between two changes share a hunk; seven split it, and the fourth
  // of the seven is in neither hunk.
  repo.write("thirty.txt", numbered(1, 9) + "ten\n" + numbered(11, 16) + "x\n" + numbered(18, 30));
  EXPECT_EQ(shape("thirty.txt", "M", head).substr(0, 12), "[7,14 7,14] ");
  repo.write("thirty.txt", numbered(1, 9) + "ten\n" + numbered(11, 17) + "x\n" + numbered(19, 30));
  EXPECT_EQ(shape("thirty.txt", "M", head),
            "[7,7 7,7]  7/7  8/8  9/9 -10/ +/10  11/11  12/12  13/13; "
            "[15,7 15,7]  15/15  16/16  17/17 -18/ +/18  19/19  20/20  21/21; 4");

  // Added (or no head commit): every line "+"; deleted: every committed line "-".
  repo.write("new.txt", "a\nb");
  EXPECT_EQ(shape("new.txt", "A", head), "[0,1 1,2] +/1 +/2; 2");
  EXPECT_EQ(shape("new.txt", "M", ""), "[0,1 1,2] +/1 +/2; 2");
  std::filesystem::remove(repo.path / "gone.txt");
  EXPECT_EQ(shape("gone.txt", "D", head), "[1,2 0,1] -1/ -2/; 2");
  // A removal at the end of the file: the new range has length 0.
  repo.write("lf.txt", "one\ntwo\n");
  EXPECT_EQ(shape("lf.txt", "M", head), "[1,3 1,0]  1/1  2/2 -3/; 1");
  // The same lines with "\r\n" endings are no change.
  repo.write("lf.txt", "one\r\ntwo\r\nthree\r\n");
  EXPECT_EQ(shape("lf.txt", "M", head), "0");
  // An image is not diffed.
  auto image = server.post("/f/load_wip_hunks", wip_request(repo, "p.png", "A", head, true));
  EXPECT_EQ(image.body, "null");
}

TEST(WorkingCopyHunkExamples, LineListKeepsEveryLineWithItsEnding) {
  TempRepo repo;
  auto head = repo.commit_file("f.txt", "a\nb\nc\nd\n", "f");
  // 3 "\n" and 3 "\r": "\r\n" ends the last line too, and the committed text is compared
  // with "\r\n" endings.
  repo.write("f.txt", "a\r\nB\r\nc\r\nd");
  ServerProcess server;
  auto reply = server.post("/f/load_wip_hunk_lines", wip_request(repo, "f.txt", "M", head));
  ASSERT_EQ(reply.status, 200);
  simdjson::dom::parser parser;
  std::string shape;
  uint64_t index = 0;
  for (auto line : simdjson::dom::array(parser.parse(reply.body))) {
    EXPECT_EQ(uint64_t(line["index"]), index++);
    EXPECT_EQ(int64_t(line["hunkIndex"]), -1);
    EXPECT_EQ(std::string_view(line["lineEnding"]), "\r\n");
    shape += line_shape(line) + std::string(std::string_view(line["text"])) + " ";
  }
  EXPECT_EQ(shape, " 1/1a -2/b +/2B  3/3c  4/4d ");
  EXPECT_EQ(server.post("/f/load_wip_hunk_lines", wip_request(repo, "p.png", "A", head, true)).body,
            "null");
}

}  // namespace
}  // namespace brackwen
