// One repository made twice, in SHA-1 and in SHA-256, with the same contents, names and dates:
// every endpoint that reads it answers both alike, once each SHA-256 id is read as the SHA-1 id
// of the same object.
#include <gtest/gtest.h>
#include <simdjson.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <tuple>

#include "support/server_harness.hpp"

namespace brackwen::test {
namespace {

namespace fs = std::filesystem;

// Run in an empty folder with $FORMAT set, it leaves the repository in ./r: a tag of each
// kind, a remote behind, a rename, a merge, an image, a stash, a conflicted merge and changes
// in the working copy. Every commit has a date of its own, so that git lists both histories
// in one order.
constexpr const char* BUILD = R"(set -e
at() { export GIT_AUTHOR_DATE="$1 +0000" GIT_COMMITTER_DATE="$1 +0000"; }
c() { at "$1"; git add -A; git commit -q -m "$2"; }
git init -q --bare --object-format=$FORMAT origin.git
git init -q -b main --object-format=$FORMAT r
cd r
git config core.repositoryformatversion 1
git config extensions.objectformat $FORMAT
printf '1\n2\n3\n' > a.txt; mkdir docs; echo r > docs/readme.md; c 1700000000 root
git tag v1; git tag -a -m annotated v1a
git remote add origin ../origin.git; git push -q origin main
printf '1\n2\n3\n4\n' > a.txt; git mv docs/readme.md docs/guide.md; c 1700000100 two
git checkout -q -b topic; echo t > t.txt; c 1700000200 topic
git checkout -q main; echo m > m.txt; c 1700000300 three
at 1700000400; git merge -q --no-ff -m merge topic
printf '\211PNG\r\n\032\n' > img.png; c 1700000500 image
echo s >> m.txt; at 1700000600; git stash push -q -m 'wip here'
git checkout -q -b clash HEAD~1; echo clash > a.txt; c 1700000700 clash
git checkout -q main; echo ours > a.txt; c 1700000800 ours
git merge -q clash > /dev/null 2>&1 || true
echo new > new.txt; echo changed > m.txt
)";

// How a reply is compared: as it is, or with each list of texts in any order (where the
// order is a hashed set's, which the ids themselves decide).
enum class Order { Kept, Any };

struct Ask {
  std::string endpoint;
  // JSON members after "repoPath"; each {rev} stands for the id `git rev-parse rev` names, and
  // {dir} for the folder that holds the repository.
  std::string fields;
  Order order = Order::Kept;
};

std::string commit_json(const std::string& id, const std::string& parents, bool merge = false) {
  return R"({"author":"Test User","email":"test@example.com","date":{"ms":0,"adjustment":0},)"
         R"("id":")" +
         id + R"(","index":0,"parentIds":[)" + parents + R"(],"isMerge":)" +
         (merge ? "true" : "false") +
         R"(,"message":"m","stashId":null,"refs":[],"filtered":false,"numSkipped":0})";
}

std::string patch_json(const std::string& commit, const std::string& old_file,
                       const std::string& new_file, const std::string& type) {
  return R"({"commitId":")" + commit + R"(","oldFile":")" + old_file + R"(","newFile":")" +
         new_file + R"(","patchType":")" + type + R"(","id":"x","isImage":false})";
}

std::string wip_json(const std::string& file, const std::string& staged,
                     const std::string& unstaged, bool conflicted) {
  return R"({"oldFile":")" + file + R"(","newFile":")" + file + R"(","patchType":")" +
         (conflicted ? "U" : unstaged) + R"(","stagedType":")" + staged + R"(","unStagedType":")" +
         unstaged + R"(","conflicted":)" + (conflicted ? "true" : "false") +
         R"(,"id":"x","isImage":false})";
}

// Every endpoint that reads a repository; the history is loaded first, as the front end does.
std::vector<Ask> asks() {
  std::string head = R"("headCommit":)" + commit_json("{main}", R"("{main~1}")");
  std::vector<Ask> all = {
      {"load_commits_and_refs",
       R"("numCommits":100,"filters":[],"fast":false,"skipStashes":false)"},
      {"load_head_commit", ""},
      {"load_top_commit_for_branch", R"("branchName":"topic")"},
      {"commit_is_ancestor", R"("commitId":"{main}","ancestorCandidateId":"{v1}")"},
      {"commit_is_on_branch", R"("commitId":"{topic}")"},
      {"get_all_commits_on_current_branch", "", Order::Any},
      {"commit_ids_between_commits", R"("commitId1":"{v1}","commitId2":"{main}")"},
      {"get_un_pushed_commits", "", Order::Any},
      {"calc_head_info", ""},
      {"calc_ref_diffs", R"("headCommitId":"{main}")"},
      {"is_merge_in_progress", ""},
      {"is_rebase_in_progress", ""},
      {"load_wip_patches", ""},
      {"search_commits", R"("searchText":"o","numResults":10)"},
      {"start_diff_search", R"("searchText":"clash","numResults":10,"startCommitIndex":0)"},
      {"load_wip_hunks", R"("patch":)" + wip_json("m.txt", " ", "M", false) + "," + head},
      {"load_wip_hunk_lines", R"("patch":)" + wip_json("m.txt", " ", "M", false) + "," + head},
      {"load_conflicted_file", R"("patch":)" + wip_json("a.txt", "U", "U", true)},
      {"load_full_config", ""},
      {"run", R"("args":["rev-parse","HEAD","v1a","refs/stash"])"},
      {"load_commit_image",
       R"("commitId":"{main}","originalImagePath":"img.png","tempImagePath":"{dir}/image.png")"},
      {"auto_complete", R"("currentWord":"cl","maxNum":10,"kind":"commitMessage")"},
  };
  // The root, a rename, a merge and a commit with parents.
  const std::vector<std::tuple<std::string, std::string, bool, std::string>> commits = {
      {"v1", "", false, patch_json("{v1}", "a.txt", "a.txt", "A")},
      {"main~4", R"("{main~5}")", false,
       patch_json("{main~4}", "docs/readme.md", "docs/guide.md", "R")},
      {"main~2", R"("{main~3}","{topic}")", true, patch_json("{main~2}", "t.txt", "t.txt", "A")},
      {"main~1", R"("{main~2}")", false, patch_json("{main~1}", "img.png", "img.png", "A")},
  };
  for (const auto& [rev, parents, merge, patch] : commits) {
    all.push_back({"load_patches_for_commit", R"("commitId":"{)" + rev + R"(}")"});
    all.push_back({"load_hunks", R"("commit":)" + commit_json("{" + rev + "}", parents, merge) +
                                     R"(,"patch":)" + patch});
  }
  return all;
}

// `text` with {dir} replaced by `dir`, and each {rev} by the id git gives it in the repository.
std::string resolved(const fs::path& dir, std::string text) {
  for (size_t at; (at = text.find("{dir}")) != std::string::npos;)
    text.replace(at, 5, dir.string());
  return with_ids(dir / "r", text);
}

std::string answer(const ServerProcess& server, const fs::path& dir, const Ask& ask) {
  std::string body = "{\"repoPath\":" + quoted((dir / "r").string()) +
                     resolved(dir, ask.fields.empty() ? "" : "," + ask.fields) + "}";
  std::string reply = server.post("/f/" + ask.endpoint, body).body;
  if (ask.endpoint != "start_diff_search") return reply;
  std::string poll = "{\"searchId\":" + reply + "}";
  eventually([&] {
    reply = server.post("/f/poll_diff_search", poll).body;
    return reply.find("\"complete\":true") != std::string::npos;
  });
  return reply;
}

// Each ask's reply from a fresh server, and the ids of every object of the repository in the
// order git lists them, one history as the other.
struct Replies {
  std::vector<std::string> replies;
  std::vector<std::string> ids;
};

Replies replies_of(const fs::path& dir, const std::string& format) {
  fs::remove_all(dir / "r");
  fs::remove_all(dir / "origin.git");
  sh(dir, "FORMAT=" + format + "\n" + BUILD);
  Replies out;
  ServerProcess server;
  for (const Ask& ask : asks()) out.replies.push_back(answer(server, dir, ask));
  std::istringstream listed(git(dir / "r", {"rev-list", "--all", "--objects", "--date-order"}));
  for (std::string line; std::getline(listed, line);)
    out.ids.push_back(line.substr(0, line.find(' ')));
  return out;
}

bool is_lower_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// A SHA-256 reply as the SHA-1 repository would give it: each id of `from` written as the id at
// the same place in `to`, and the format's name "sha256" as "sha1".
std::string with_ids_of(const std::string& reply, const Replies& from, const Replies& to) {
  std::map<std::string, std::string> ids;
  for (size_t i = 0; i < from.ids.size() && i < to.ids.size(); ++i) ids[from.ids[i]] = to.ids[i];
  std::string out;
  for (size_t at = 0; at < reply.size();) {
    size_t end = at;
    while (end < reply.size() && is_lower_hex(reply[end])) ++end;
    auto known = ids.find(reply.substr(at, end - at));
    if (known != ids.end()) {
      out += known->second;
      at = end;
    } else if (reply.compare(at, 8, "\"sha256\"") == 0) {
      out += "\"sha1\"";
      at += 8;
    } else {
      out.append(reply, at, std::max(end, at + 1) - at);
      at = std::max(end, at + 1);
    }
  }
  return out;
}

// The JSON text again, with every list of texts sorted.
void write_sorted(simdjson::dom::element element, std::string& out) {
  if (element.is_array()) {
    std::vector<std::string> items;
    for (simdjson::dom::element item : simdjson::dom::array(element)) {
      items.emplace_back();
      write_sorted(item, items.back());
    }
    out += "[";
    for (const std::string& item : sorted(items)) out += item + ",";
    out += "]";
    return;
  }
  if (element.is_object()) {
    out += "{";
    for (auto [key, value] : simdjson::dom::object(element)) {
      out += quoted(std::string(key)) + ":";
      write_sorted(value, out);
      out += ",";
    }
    out += "}";
    return;
  }
  out += simdjson::to_string(element);
}

std::string in_order(const std::string& reply, Order order) {
  if (order == Order::Kept) return reply;
  simdjson::dom::parser parser;
  simdjson::dom::element element;
  if (parser.parse(reply).get(element) != simdjson::SUCCESS) return "not JSON: " + reply;
  std::string out;
  write_sorted(element, out);
  return out;
}

TEST(ObjectFormats, Sha256AnswersAsSha1) {
  TempDir dir;
  Replies sha1 = replies_of(dir.path, "sha1");
  Replies sha256 = replies_of(dir.path, "sha256");
  ASSERT_EQ(sha256.ids.size(), sha1.ids.size());
  std::vector<Ask> all = asks();
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(in_order(with_ids_of(sha256.replies[i], sha256, sha1), all[i].order),
              in_order(sha1.replies[i], all[i].order))
        << all[i].endpoint << " " << all[i].fields;
  }
}

}  // namespace
}  // namespace brackwen::test
