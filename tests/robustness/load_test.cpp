// Eight clients at once sending a mix of requests over loopback: the server must stay up,
// answer every request as it answered it alone, and give back the memory the load took.
//
// `make test` runs 8 x 200 requests; the full size is run by hand:
//   BRACKWEN_LOAD_REQUESTS=2000 build/bin/test_robustness --gtest_filter='Load.*'
#include <gtest/gtest.h>
#include <simdjson.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <thread>

#include "api_types/json.hpp"
#include "robustness/reply_checks.hpp"
#include "support/server_harness.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using test::HttpReply;

// AddressSanitizer holds freed memory in quarantine: resident size then says nothing.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

constexpr int kClients = 8;
constexpr int kDefaultRequests = 200;
constexpr int kHistory = 300;
constexpr int kTags = 200;

std::string q(const std::string& text) {
  return to_json(text);
}

// How a reply is compared with the one given to a lone client.
enum class Compare {
  Exact,
  SortedKeys,    // hash maps: the members' order is not defined
  SortedArrays,  // hash sets as lists, and sorted keys too
  Number,        // a fresh id
};

struct Request {
  std::string path;
  std::string body;
  Compare compare = Compare::Exact;
};

void canonical(simdjson::dom::element element, bool sort_arrays, std::string& out) {
  switch (element.type()) {
    case simdjson::dom::element_type::OBJECT: {
      std::map<std::string, std::string> members;
      for (auto field : simdjson::dom::object(element)) {
        canonical(field.value, sort_arrays, members[std::string(field.key)]);
      }
      out += "{";
      for (const auto& [key, value] : members) out += q(key) + ":" + value + ",";
      out += "}";
      return;
    }
    case simdjson::dom::element_type::ARRAY: {
      std::vector<std::string> items;
      for (auto item : simdjson::dom::array(element))
        canonical(item, sort_arrays, items.emplace_back());
      if (sort_arrays) std::sort(items.begin(), items.end());
      out += "[";
      for (const auto& item : items) out += item + ",";
      out += "]";
      return;
    }
    default:
      out += simdjson::minify(element);
  }
}

std::string canonical(const std::string& text, bool sort_arrays) {
  simdjson::dom::parser parser;
  simdjson::dom::element element;
  if (parser.parse(text).get(element) != simdjson::SUCCESS) return "not JSON: " + text;
  std::string out;
  canonical(element, sort_arrays, out);
  return out;
}

std::string comparable(const Request& request, const std::string& reply) {
  switch (request.compare) {
    case Compare::Exact:
      return reply;
    case Compare::SortedKeys:
      return canonical(reply, false);
    case Compare::SortedArrays:
      return canonical(reply, true);
    case Compare::Number:
      return reply.find_first_not_of("0123456789") == std::string::npos && !reply.empty()
                 ? "a number"
                 : reply;
  }
  return reply;
}

size_t resident_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::stoul(line.substr(6));
  }
  return 0;
}

// A history of kHistory commits over a few files, kTags tags and a second branch, written
// with fast-import so that building it takes milliseconds.
void build_history(test::TempRepo& repo) {
  std::string stream;
  for (int i = 1; i <= kHistory; ++i) {
    std::string text = "line " + std::to_string(i) + "\nshared\n";
    std::string message = "change " + std::to_string(i) + " of the loader";
    stream += "commit refs/heads/main\nmark :" + std::to_string(i) +
              "\ncommitter Test User <test@example.com> " + std::to_string(1700000000 + i * 60) +
              " +0000\ndata " + std::to_string(message.size()) + "\n" + message + "\n";
    if (i > 1) stream += "from :" + std::to_string(i - 1) + "\n";
    std::string file = i % 3 == 0 ? "src/deep/c.txt" : i % 2 ? "a.txt" : "b.txt";
    stream +=
        "M 100644 inline " + file + "\ndata " + std::to_string(text.size()) + "\n" + text + "\n";
  }
  for (int t = 0; t < kTags; ++t) {
    stream += "reset refs/tags/v" + std::to_string(t) +
              "\nfrom :" + std::to_string(1 + t * kHistory / kTags) + "\n\n";
  }
  stream += "reset refs/heads/topic\nfrom :" + std::to_string(kHistory - 10) + "\n\n";
  repo.write(".git/history.stream", stream);
  test::sh(repo.path, "git fast-import --quiet < .git/history.stream && git reset -q --hard main");
}

std::vector<Request> mixed_requests(const fs::path& repo, const fs::path& scratch,
                                    const fs::path& home, const std::string& head,
                                    const std::string& parent, const std::string& old) {
  std::string r = q(repo.string());
  std::string commit = R"({"author":"Test User","email":"test@example.com",)"
                       R"("date":{"ms":1700018000000,"adjustment":0},"id":)" +
                       q(head) + R"(,"index":0,"parentIds":[)" + q(parent) +
                       R"(],"isMerge":false,"message":"m","stashId":null,"refs":[],)"
                       R"("filtered":false,"numSkipped":0})";
  std::string wip_patch = R"({"oldFile":"a.txt","newFile":"a.txt","patchType":"M",)"
                          R"("stagedType":" ","unStagedType":"M","conflicted":false,)"
                          R"("id":"a.txtM","isImage":false})";
  std::string file = q((scratch / "written.txt").string());
  return {
      {"load_commits_and_refs",
       R"({"repoPath":)" + r +
           R"(,"numCommits":1000,"filters":[],"fast":false,"skipStashes":false})"},
      {"load_commits_and_refs",
       R"({"repoPath":)" + r +
           R"(,"numCommits":1000,"filters":[{"file":{"file_name":"a.txt"}}],"fast":true,"skipStashes":true})"},
      {"load_head_commit", R"({"repoPath":)" + r + "}"},
      {"load_top_commit_for_branch", R"({"repoPath":)" + r + R"(,"branchName":"topic"})"},
      {"git_version", R"({"repoPath":""})"},
      {"commit_is_ancestor", R"({"repoPath":)" + r + R"(,"commitId":)" + q(head) +
                                 R"(,"ancestorCandidateId":)" + q(old) + "}"},
      {"commit_is_on_branch", R"({"repoPath":)" + r + R"(,"commitId":)" + q(old) + "}"},
      {"get_all_commits_on_current_branch", R"({"repoPath":)" + r + "}", Compare::SortedArrays},
      {"commit_ids_between_commits",
       R"({"repoPath":)" + r + R"(,"commitId1":)" + q(old) + R"(,"commitId2":)" + q(head) + "}",
       Compare::SortedArrays},
      {"get_un_pushed_commits", R"({"repoPath":)" + r + "}", Compare::SortedArrays},
      {"calc_head_info", R"({"repoPath":)" + r + "}"},
      {"calc_ref_diffs", R"({"repoPath":)" + r + R"(,"headCommitId":)" + q(head) + "}",
       Compare::SortedKeys},
      {"is_merge_in_progress", R"({"repoPath":)" + r + "}"},
      {"is_rebase_in_progress", R"({"repoPath":)" + r + "}"},
      {"load_patches_for_commit", R"({"repoPath":)" + r + R"(,"commitId":)" + q(parent) + "}"},
      {"search_commits", R"({"repoPath":)" + r + R"(,"searchText":"LOADER 2","numResults":50})",
       Compare::SortedArrays},
      {"start_diff_search",
       R"({"repoPath":)" + r + R"(,"searchText":"shared","numResults":20,"startCommitIndex":0})",
       Compare::Number},
      {"poll_diff_search", R"({"searchId":4000000000})"},
      {"load_wip_patches", R"({"repoPath":)" + r + "}"},
      {"load_hunks", R"({"repoPath":)" + r + R"(,"commit":)" + commit + R"(,"patch":{"commitId":)" +
                         q(head) +
                         R"(,"oldFile":"a.txt","newFile":"a.txt","patchType":"M","id":"a",)"
                         R"("isImage":false}})"},
      {"load_wip_hunks",
       R"({"repoPath":)" + r + R"(,"patch":)" + wip_patch + R"(,"headCommit":)" + commit + "}"},
      {"load_wip_hunk_lines",
       R"({"repoPath":)" + r + R"(,"patch":)" + wip_patch + R"(,"headCommit":)" + commit + "}"},
      {"load_full_config", R"({"repoPath":)" + r + "}", Compare::SortedKeys},
      {"load_conflicted_file", R"({"repoPath":)" + r + R"(,"patch":)" + wip_patch + "}"},
      {"run", R"({"repoPath":)" + r + R"(,"args":["rev-list","--count","main"]})"},
      {"load_commit_image", R"({"repoPath":)" + r + R"(,"commitId":)" + q(head) +
                                R"(,"originalImagePath":"a.txt","tempImagePath":)" +
                                q((scratch / "image.out").string()) + "}"},
      {"poll_action2", R"({"actionId":4000000000})"},
      {"set_credentials", R"({"username":"u","password":"p"})"},
      {"override_git_home", R"({"repoPath":)" + q(home.string()) + "}"},
      {"repo_has_changed", R"({"repoPath":)" + r + "}"},
      {"clear_repo_changed_status", R"({"repoPath":)" + r + "}"},
      {"auto_complete",
       R"({"currentWord":"v1","repoPath":)" + r + R"(,"maxNum":50,"kind":"createBranch"})"},
      {"auto_complete",
       R"({"currentWord":"lo","repoPath":)" + r + R"(,"maxNum":50,"kind":"commitMessage"})"},
      {"scan_workspace", R"({"repoPath":)" + r + R"(,"workspacesEnabled":false})"},
      {"set_data_store", R"({"data":{"theme":"dark","recent":"a\nb"}})"},
      {"get_data_store", R"({"repoPath":""})"},
      {"path_exists", r},
      {"temp_dir", R"("")"},
      {"file_size", q((repo / "a.txt").string())},
      {"write_file", R"({"filePath":)" + file + R"(,"content":"same text"})"},
      {"clear_cache", R"({"repoPath":)" + r + "}"},
      {"clear_all_caches", R"({"repoPath":)" + r + "}"},
  };
}

int requests_per_client() {
  const char* size = std::getenv("BRACKWEN_LOAD_REQUESTS");
  return size ? std::max(1, std::atoi(size)) : kDefaultRequests;
}

TEST(Load, EightClientsAtOnce) {
  test::TempRepo repo;
  build_history(repo);
  repo.write("a.txt", "changed\nshared\n");
  test::TempDir scratch;
  std::string head = test::git(repo.path, {"rev-parse", "main"}).substr(0, 40);
  std::string parent = test::git(repo.path, {"rev-parse", "main~"}).substr(0, 40);
  std::string old = test::git(repo.path, {"rev-parse", "main~200"}).substr(0, 40);
  test::ServerProcess server;
  auto requests = mixed_requests(repo.path, scratch.path, server.home, head, parent, old);

  // What each request gets when it is alone; every later answer must be the same.
  std::vector<std::string> expected;
  {
    auto client = server.client();
    for (const auto& request : requests) {
      HttpReply reply = test::post_with(*client, "/f/" + request.path, request.body);
      ASSERT_EQ(reply.status, 200) << request.path;
      expected.push_back(comparable(request, reply.body));
    }
    // The action protocol within the mix: one command, followed until it is reported done.
    std::string started =
        test::post_with(*client, "/f/command",
                        R"({"repoPath":)" + q(repo.str()) + R"(,"args":["rev-parse","HEAD"]})")
            .body;
    auto end = test::follow_action(*client, std::stoul(started),
                                   std::chrono::steady_clock::now() + std::chrono::seconds(10));
    ASSERT_TRUE(end.done && !end.failed);
  }

  const int per_client = requests_per_client();
  std::atomic<int> wrong = 0;
  std::atomic<int> answered = 0;
  std::atomic<int> actions = 0;
  auto round = [&](int count) {
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c] {
        auto client = server.client();
        for (int i = 0; i < count; ++i) {
          size_t at = (static_cast<size_t>(c) * 5 + i) % (requests.size() + 1);
          if (at == requests.size()) {
            // One action in the mix: started, polled to its end, its output checked.
            std::string id = test::post_with(*client, "/f/command",
                                             R"({"repoPath":)" + q(repo.str()) +
                                                 R"(,"args":["rev-parse","HEAD"]})")
                                 .body;
            std::string poll = R"({"actionId":)" + id + "}";
            std::string last;
            for (int tries = 0; tries < 2000 && last.find("\"done\":true") == std::string::npos;
                 ++tries) {
              last = test::post_with(*client, "/f/poll_action2", poll).body;
            }
            std::string want =
                R"({"stdout":[)" + q(head) + R"(],"stderr":[],"done":true,"error":null})";
            if (last != want) {
              ++wrong;
              ADD_FAILURE() << "action " << id << " ended with " << last;
            }
            ++actions;
            continue;
          }
          const Request& request = requests[at];
          HttpReply reply = test::post_with(*client, "/f/" + request.path, request.body);
          ++answered;
          std::string got = reply.status == 200 ? comparable(request, reply.body)
                                                : "status " + std::to_string(reply.status);
          if (got != expected[at]) {
            if (++wrong <= 10) {
              ADD_FAILURE() << request.path << ": " << got.substr(0, 300) << "\nexpected "
                            << expected[at].substr(0, 300);
            }
          }
        }
      });
    }
    for (auto& client : clients) client.join();
  };

  round(static_cast<int>(requests.size()) + 1);  // warm-up: every cache filled
  size_t warm = resident_kib(server.pid);
  auto started = std::chrono::steady_clock::now();
  answered = 0;
  actions = 0;
  round(per_client);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  size_t after = resident_kib(server.pid);

  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(server.post("/pi", "").body, "brackwen");
  std::cout << "[ load     ] " << kClients << " clients x " << per_client
            << " requests: " << answered << " answered, " << actions << " actions followed, "
            << seconds << " s; VmRSS after warm-up " << warm << " KiB, after load " << after
            << " KiB\n";
  // Caches are full after the warm-up; the load itself must not keep what it used. Slack for
  // the allocator's arenas of the connection threads.
  if (kResidentSizeMeaningful) {
    EXPECT_LE(after, warm + warm / 2 + 16 * 1024);
  }
}

}  // namespace
}  // namespace brackwen
