// What a small repository can make the server hold, seen from the front end: messages of tens
// of megabytes, commits of a million files and a blob of gigabytes, each a few kilobytes
// packed. Every reply stays the size of its cap, and every cut or refusal is one line.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "server/handlers/endpoint_table.hpp"
#include "support/server_harness.hpp"

namespace brackwen {
namespace {

using test::ServerProcess;
using test::TempDir;
using test::TempRepo;

constexpr size_t MIB = size_t{1} << 20;

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines standard error gains while `request` runs.
std::string new_stderr(const ServerProcess& server, const std::function<void()>& request) {
  size_t before = server.stderr_so_far().size();
  request();
  return server.stderr_so_far().substr(before);
}

std::string history_body(const TempRepo& repo, const std::string& filters) {
  return test::body({{"repoPath", test::quoted(repo.str())},
                     {"numCommits", "100"},
                     {"filters", filters},
                     {"fast", "false"},
                     {"skipStashes", "false"}});
}

// Four commits and a stash whose messages are 24 MiB of "é" after one "x": the character that
// crosses 1 MiB is left out whole. Every query that reads messages gets them cut there, each
// with one line naming its commit, and the server holds no message whole on the way.
TEST(ContentCaps, LongMessagesAreCutAtOneMebibyte) {
  TempRepo repo;
  std::string ids = test::sh(repo.path, R"(
printf x >msg && yes é | tr -d '\n' | head -c 25165824 >>msg
tree=$(git mktree </dev/null) && p=
for i in 1 2 3 4; do p=$(git commit-tree $tree ${p:+-p $p} -F msg) && echo $p; done
git update-ref refs/heads/main $p && git update-ref --create-reflog refs/stash $p~3
git repack -adq && rm msg)");
  std::vector<std::string> commits = lines_of(ids);
  ASSERT_EQ(commits.size(), 4u);
  std::string cut = "\"x";
  for (size_t i = 0; i < (MIB - 2) / 2; ++i) cut += "é";
  cut += '"';
  std::string head = commits.back();
  ServerProcess server;
  [[maybe_unused]] size_t start_kib = server.status_kib("VmHWM:");
  auto line = [](const std::string& id) {
    return "Commit " + id + ": its message passed 1 MiB and was cut there";
  };
  struct Case {
    std::string endpoint, body;
    std::vector<std::string> cut_commits;  // in the reply, and one line each
    size_t messages;                       // in the reply
  } cases[] = {
      {"load_commits_and_refs",
       history_body(repo, "[]"),
       {commits[0], commits[1], commits[2], commits[3], commits[0]},
       5},
      {"load_head_commit", test::repo_body(repo.path), {head}, 1},
      {"load_top_commit_for_branch",
       test::body({{"repoPath", test::quoted(repo.str())}, {"branchName", "\"main\""}}),
       {head},
       1},
  };
  for (const Case& c : cases) {
    std::string reply;
    std::string err =
        new_stderr(server, [&] { reply = server.post("/f/" + c.endpoint, c.body).body; });
    EXPECT_EQ(count(reply, cut), c.messages) << c.endpoint;
    EXPECT_LT(reply.size(), (c.messages + 1) * MIB) << c.endpoint;
    EXPECT_EQ(lines_of(err).size(), c.cut_commits.size()) << c.endpoint << err;
    for (const std::string& id : c.cut_commits) {
      auto times = std::count(c.cut_commits.begin(), c.cut_commits.end(), id);
      EXPECT_EQ(count(err, line(id)), static_cast<size_t>(times)) << c.endpoint << err;
    }
  }
  // Messages of 24 MiB went by: the server held none of them whole (the replies themselves
  // take a few mebibytes).
#ifndef __SANITIZE_ADDRESS__  // its shadow memory and quarantine
  EXPECT_LT(server.status_kib("VmHWM:"), start_kib + 32 * 1024);
#endif
}

// The size of every file below `dir`, together.
uintmax_t bytes_below(const std::filesystem::path& dir) {
  uintmax_t bytes = 0;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file()) bytes += it->file_size();
  }
  return bytes;
}

// Two trees of a thousand entries, one naming the other a thousand times: six commits that
// alternate it with the empty tree each change a million files, from a repository of a few
// hundred kilobytes; a merge brings in a side branch of 101,000 files. Their changed files
// answer as failed reads, with one line each (the merge's names the merge) when first read,
// and are kept neither in memory nor on disk; a plain commit of the same history answers as
// ever, through every endpoint that reads changed files.
TEST(ContentCaps, CommitsOfAMillionFilesAreFailedReads) {
  TempRepo repo;
  std::vector<std::string> refused = lines_of(test::sh(repo.path, R"(
blob=$(echo needle | git hash-object -w --stdin)
t1=$(for i in $(seq -w 0 999); do printf '100644 blob %s\tf%s\n' $blob $i; done | git mktree)
t2=$(for i in $(seq -w 0 999); do printf '040000 tree %s\td%s\n' $t1 $i; done | git mktree)
t3=$(for i in $(seq -w 0 100); do printf '040000 tree %s\td%s\n' $t1 $i; done | git mktree)
empty=$(git mktree </dev/null) && root=$(git commit-tree $empty -m root) && p=$root
for i in 1 2 3 4 5 6; do
  [ $((i % 2)) = 1 ] && t=$t2 || t=$empty
  p=$(git commit-tree $t -p $p -m "million $i") && echo $p
done
git update-ref refs/heads/main $p && git commit-tree $t3 -p $root -m side)"));
  ASSERT_EQ(refused.size(), 7u);
  std::string plain = repo.commit_file("a.txt", "needle\n", "plain", 1700000100);
  refused.push_back(test::trimmed(test::sh(repo.path, R"(
tree=$( (git ls-tree )" + refused.back() + R"(; git ls-tree HEAD) | git mktree)
merge=$(GIT_COMMITTER_DATE='1700000200 +0000' git commit-tree $tree -p HEAD -p )" +
                                                          refused.back() + R"( -m merge)
git update-ref refs/heads/main $merge && git repack -adq && echo $merge)")));
  ServerProcess server;
  [[maybe_unused]] size_t start_kib = server.status_kib("VmHWM:");
  ASSERT_NE(server.post("/f/load_commits_and_refs", history_body(repo, "[]")).body, "null");
  auto files_of = [&](const std::string& id) {
    return server
        .post("/f/load_patches_for_commit",
              test::body({{"repoPath", test::quoted(repo.str())}, {"commitId", test::quoted(id)}}))
        .body;
  };
  std::string plain_files = "[" + std::string(R"({"commitId":")") + plain +
                            R"(","oldFile":"a.txt","newFile":"a.txt","patchType":"A",)"
                            R"("id":"a.txt-A","isImage":false})" +
                            "]";
  std::string err = new_stderr(server, [&] {
    EXPECT_EQ(files_of(plain), plain_files);
    for (const std::string& id : refused) EXPECT_EQ(files_of(id), "null") << id;
    server.post("/f/search_commits", test::whole_history_body(repo.path));
  });
  EXPECT_EQ(lines_of(err).size(), refused.size()) << err;
  for (const std::string& id : refused) {
    EXPECT_EQ(count(err, "Commit " + id +
                             ": its diff lists more than 100000 files or 32 MiB of "
                             "paths; its changed files are not read"),
              1u)
        << err;
  }
  // Known as refused, they are not read again: no line, no git.
  err = new_stderr(server, [&] {
    std::string found =
        server
            .post("/f/search_commits", test::body({{"repoPath", test::quoted(repo.str())},
                                                   {"searchText", "\"a.txt\""},
                                                   {"numResults", "10"}}))
            .body;
    EXPECT_EQ(count(found, "\"matches\":"), 1u) << found;
    EXPECT_NE(found.find(plain), std::string::npos) << found;
    std::string filtered =
        server.post("/f/load_commits_and_refs", history_body(repo, R"([{"file":["a.txt"]}])")).body;
    EXPECT_EQ(count(filtered, "\"message\":"), 1u) << filtered;
    EXPECT_EQ(files_of(refused[0]), "null");
  });
  EXPECT_EQ(err, "");
  // The pickaxe finds the plain commit and a refused one, which is left out.
  std::string poll = test::completed_diff_search(server, repo.path, "\"needle\"", "2");
  EXPECT_NE(poll.find("\"results\":[[\"" + plain + "\",[{"), std::string::npos) << poll;
  EXPECT_EQ(count(poll, "[\""), 1u) << poll;
  EXPECT_LT(bytes_below(server.home / ".cache"), 64u << 10);
#ifndef __SANITIZE_ADDRESS__  // its shadow memory and quarantine
  EXPECT_LT(server.status_kib("VmHWM:"), start_kib + 128 * 1024);
#endif
}

// A blob of zeros past the reply cap committed as logo.png answers false before git reads it,
// and writes nothing: a file already there keeps its bytes. (A blob of 2 GiB, as the attack
// had it, takes git ten seconds and more to hash and pack; one mebibyte past the cap is the
// same refusal.) So does a path holding U+FFFD, which the
// listings write for a name that is not UTF-8 and so may stand for another file. The small
// image beside them is written.
TEST(ContentCaps, ACommitImagePastTheCapIsNotRead) {
  TempRepo repo;
  std::string head = test::trimmed(test::sh(
      repo.path,
      "truncate -s 257M logo.png && printf png >small.png && printf png >'caf\357\277\275.png' && "
      "git -c core.compression=1 add . && git commit -qm images && rm logo.png && "
      "git rev-parse HEAD"));
  TempDir out;
  ServerProcess server;
  struct Case {
    std::string path;
    std::string reply, line;
  } cases[] = {
      {"logo.png", "false",
       "Commit image not read: the file is 269484032 bytes, past the cap of 256 MiB\n"},
      {"caf\xEF\xBF\xBD.png", "false",
       "Commit image not read: its path holds U+FFFD, which may stand for another file's name\n"},
      {"small.png", "true", ""},
  };
  for (const Case& c : cases) {
    for (bool there : {false, true}) {
      auto target = out.path / "image";
      std::filesystem::remove(target);
      if (there) std::ofstream(target) << "before";
      std::string err = new_stderr(server, [&] {
        std::string reply =
            server
                .post("/f/load_commit_image",
                      test::body({{"repoPath", test::quoted(repo.str())},
                                  {"commitId", test::quoted(head)},
                                  {"originalImagePath", test::quoted(c.path)},
                                  {"tempImagePath", test::quoted(target.string())}}))
                .body;
        EXPECT_EQ(reply, c.reply) << c.path;
      });
      EXPECT_EQ(err, c.line) << c.path;
      bool written = c.reply == "true";
      EXPECT_EQ(std::filesystem::exists(target), there || written) << c.path;
      EXPECT_EQ(test::read_file(target), written ? "png" : there ? "before" : "") << c.path;
    }
  }
}

// The search's outcome once it is complete; its id is what the start answered.
std::string searched(const ServerProcess& server, const TempRepo& repo) {
  server.post("/f/load_commits_and_refs", history_body(repo, "[]"));
  return test::completed_diff_search(server, repo.path, "\"a\"", "10");
}

// Five small repositories, each made at two sizes by one script ($1): a configuration that
// includes one file 8 times six levels deep, whose one value is a kilobyte; a commit that
// adds four paths naming one blob of lines "a", searched for "a"; five commits that each name
// one parent many times; a conflicted file of one conflict of lines "x". Large, the server
// would hold gigabytes for them; it holds no more than a reply may, answers as a failed read
// does with one line, and its peak stays within a gibibyte of where it started (half of one
// for the listing). So does a File filter over commits that each list 99,999 files (one tree
// and the empty one, in turn). Small, each answers in full.
TEST(ContentCaps, WhatARequestHoldsIsBoundedByTheReplyCap) {
  constexpr const char* OVER = " stopped: the request holds more than a reply may (256 MiB)\n";
  struct Case {
    std::string name, script, large, small;
    std::function<std::string(const ServerProcess&, const TempRepo&)> ask;
    std::string failed, line, answered;  // the large reply and line, a part of the small reply
    size_t peak_mib;
  } cases[] = {
      {"include fan-out",
       R"sh(n=$(echo $1 | cut -d, -f1) && v=$(head -c $(echo $1 | cut -d, -f2) /dev/zero | tr '\0' v)
printf '[fan]\n\tkey = %s\n' $v >.git/l$n && i=$((n - 1))
while [ $i -ge 1 ]; do
  for j in 1 2 3 4 5 6 7 8; do printf '[include]\n\tpath = l%d\n' $((i + 1)); done >.git/l$i
  i=$((i - 1))
done
for j in 1 2 3 4 5 6 7 8; do printf '[include]\n\tpath = l1\n'; done >>.git/config)sh",
       "6,1100", "1,8",
       [](const ServerProcess& server, const TempRepo& repo) {
         return server.post("/f/load_full_config", test::repo_body(repo.path)).body;
       },
       "null", std::string("git config") + OVER, R"("fan.key":"vvvvvvvv")", 512},
      {"diff search",
       R"sh(blob=$(yes a | head -n $1 | git hash-object -w --stdin)
tree=$(for i in 1 2 3 4; do printf '100644 blob %s\tf%d\n' $blob $i; done | git mktree)
git update-ref refs/heads/main $(git commit-tree $tree -m four))sh",
       "1000000", "3", searched, R"({"searchId":2,"complete":true,"results":null})",
       std::string("Diff search") + OVER,
       R"("newNum":3,"hunkIndex":0,"text":"a","index":2,"lineEnding":"\n"}]}]]]})", 1024},
      {"many parents",
       R"sh(root=$(git commit-tree $(git mktree </dev/null) -m root)
for k in 1 2 3 4 5; do
  (echo "tree $(git mktree </dev/null)" && yes "parent $root" | head -n $1 &&
   printf 'author A <a@x> 1700000000 +0000\ncommitter A <a@x> 1700000000 +0000\n\n' &&
   echo "parents $k") >commit
  git update-ref refs/heads/b$k $(git hash-object -t commit --literally -w commit)
done)sh",
       "1000000", "3",
       [](const ServerProcess& server, const TempRepo& repo) {
         return server.post("/f/load_commits_and_refs", history_body(repo, "[]")).body;
       },
       "null", std::string("git log") + OVER, R"("message":"parents 5\n")", 1024},
      {"conflicted file",
       R"sh((echo '<<<<<<< HEAD'; yes x | head -n $1; echo =======; echo '>>>>>>> topic') >c.txt)sh",
       "4000000", "3",
       [](const ServerProcess& server, const TempRepo& repo) {
         std::string patch = R"({"id":"c.txt","oldFile":"c.txt","newFile":"c.txt",)"
                             R"("patchType":"M","stagedType":"U","unStagedType":"U",)"
                             R"("conflicted":true,"isImage":false})";
         return server
             .post("/f/load_conflicted_file",
                   test::body({{"repoPath", test::quoted(repo.str())}, {"patch", patch}}))
             .body;
       },
       "null", std::string("Conflicted-file read") + OVER,
       R"({"conflict":{"text":"x","side":"left","section":0,"key":"Left-0-2"}})", 1024},
      {"changed files",
       R"sh(set -- $(echo $1 | tr , ' ')
blob=$(echo x | git hash-object -w --stdin)
full=$(seq -f '%05g' $2 | sed "s/^/100644 blob $blob\t/" | git mktree) && empty=$(git mktree </dev/null)
c=$(git commit-tree $full -m 1) && k=2
while [ $k -le $1 ]; do
  [ $((k % 2)) = 0 ] && t=$empty || t=$full
  c=$(git commit-tree $t -p $c -m $k) && k=$((k + 1))
done
git update-ref refs/heads/main $c)sh",
       "20,99999", "2,3",
       [](const ServerProcess& server, const TempRepo& repo) {
         std::string filtered =
             server.post("/f/load_commits_and_refs", history_body(repo, R"([{"file":["00001"]}])"))
                 .body;
         return std::to_string(count(filtered, "\"message\":")) + " commits found";
       },
       "0 commits found", std::string("git show") + OVER, "2 commits found", 1024},
  };  // namespace
  for (const Case& c : cases) {
    TempRepo large, small;
    test::sh(large.path, "set -- " + c.large + "\n" + c.script);
    test::sh(small.path, "set -- " + c.small + "\n" + c.script);
    ServerProcess server;
    [[maybe_unused]] size_t start_kib = server.status_kib("VmHWM:");
    std::string err = new_stderr(server, [&] {
      std::string answered = c.ask(server, small);
      EXPECT_NE(answered.find(c.answered), std::string::npos) << c.name << ": " << answered;
      EXPECT_EQ(c.ask(server, large), c.failed) << c.name;
    });
    EXPECT_EQ(err, c.line) << c.name;
#ifndef __SANITIZE_ADDRESS__  // its shadow memory and quarantine
    EXPECT_LT(server.status_kib("VmHWM:"), start_kib + (c.peak_mib << 10)) << c.name;
#endif
  }
}  // namespace brackwen

// Forty commits, each adding its own file, whose 31 oldest git cannot list (their trees gone, as
// in a partial clone cut off from its remote; the 31st's parent's too). The 9 newest answer
// through every endpoint that reads changed files; 16 of the others are found alone, with a line
// each, and the 15 left are given up in one more line rather than found one by one. None is
// read again.
TEST(ContentCaps, CommitsGitCannotListAreGivenUpPastSixteen) {
  TempRepo repo;
  std::vector<std::string> ids;  // newest first
  for (int n = 1; n <= 40; ++n) {
    std::string file = "f" + std::to_string(n);
    ids.insert(ids.begin(), repo.commit_file(file, "x\n", file, 1700000000 + n));
  }
  test::sh(repo.path,
           "for c in $(git rev-list --skip=10 main); do t=$(git rev-parse $c^{tree}); "
           "rm .git/objects/$(echo $t | cut -c1-2)/$(echo $t | cut -c3-); done");
  ServerProcess server;
  ASSERT_NE(server.post("/f/load_commits_and_refs", history_body(repo, "[]")).body, "null");
  auto files_of = [&](size_t i) {
    return server
        .post("/f/load_patches_for_commit", test::body({{"repoPath", test::quoted(repo.str())},
                                                        {"commitId", test::quoted(ids[i])}}))
        .body;
  };
  auto ask_every_commit = [&] {
    for (size_t i = 0; i < ids.size(); ++i) {
      std::string file = "f" + std::to_string(40 - i);
      std::string listed = R"([{"commitId":")" + ids[i] + R"(","oldFile":")" + file +
                           R"(","newFile":")" + file + R"(","patchType":"A","id":")" + file +
                           R"(-A","isImage":false}])";
      EXPECT_EQ(files_of(i), i < 9 ? listed : "null") << i;
    }
  };
  std::string err = new_stderr(server, [&] {
    ask_every_commit();
    server.post("/f/search_commits", test::whole_history_body(repo.path));
  });
  std::vector<std::string> told = lines_of(err);
  ASSERT_EQ(told.size(), 17u) << err;
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_TRUE(told[i].ends_with(": git fails to list its changed files; they are not read"))
        << told[i];
  }
  EXPECT_EQ(told[16],
            "Loading changed files: past 16 commits git cannot list, 15 more in runs that failed "
            "are given up; their changed files are not read");
  // Known as refused, none is read again: no line.
  EXPECT_EQ(new_stderr(server, ask_every_commit), "");
  std::string found =
      server
          .post("/f/search_commits", test::body({{"repoPath", test::quoted(repo.str())},
                                                 {"searchText", "\"f40\""},
                                                 {"numResults", "10"}}))
          .body;
  EXPECT_EQ(count(found, "\"oldFile\":\"f40\""), 1u) << found;
  std::string filtered =
      server.post("/f/load_commits_and_refs", history_body(repo, R"([{"file":["f39"]}])")).body;
  EXPECT_EQ(count(filtered, "\"message\":"), 1u) << filtered;
}

}  // namespace
}  // namespace brackwen
