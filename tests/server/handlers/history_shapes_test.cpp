// Histories of shapes that real repositories have and the fixture does not. Each question is
// asked of the server and of git, and the two answers are compared on what both say: a reply
// recorded from the server would only repeat it.
#include <gtest/gtest.h>
#include <simdjson.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>

#include "support/server_harness.hpp"

namespace brackwen::test {
namespace {

namespace fs = std::filesystem;

// What two answers are compared on.
enum class View {
  IdSet,         // a list of ids, in any order
  ChangedFiles,  // a commit's changed files in git's order: letter, old path (and new path)
  HunkLines,     // a diff's lines in order, each its letter and text: hunk headers left out
  ThisBranch,    // the unpushed commits of the current branch, as an IdSet
};

struct Question {
  std::string endpoint;
  // JSON members after "repoPath"; each {rev} stands for the id `git rev-parse rev` names (a
  // brace that holds a quote is JSON's own).
  std::string fields;
  View view;
  // git's own answer: its arguments, with the same {rev}s; a git that fails answers null.
  std::string git;
  // The repository asked, in the shape's folder; its commits are loaded before its questions.
  std::string repo = "r";
};

struct Shape {
  std::string name;
  // Run in an empty folder with fixed names and dates; it leaves the repository in ./r.
  std::string build;
  std::vector<Question> questions;
  // Run in the shape's folder once its questions are answered; they are then asked again of the
  // same server, and of a fresh one that has only the disk cache as the first round left it.
  std::string change = {};
  // The lines the server writes on standard error while it answers the first round, with the
  // same {rev}s as the questions of ./r; in any order. Not looked at when empty.
  std::vector<std::string> told = {};
};

struct Answer {
  int status = -1;
  std::string out;
};

Answer run(const fs::path& dir, const std::string& script) {
  std::string command = "cd " + shell_quoted(dir.string()) +
                        " && export GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null; " + script;
  Answer answer;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[65536];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    answer.out.append(buffer, n);
  int status = pipe ? pclose(pipe) : -1;
  answer.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return answer;
}

// `text` with each {rev} replaced by the id git gives it in `repo`.
std::string resolved(const fs::path& repo, const std::string& text) {
  return with_ids(repo, text);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string joined(std::vector<std::string> lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

std::string text_of(simdjson::dom::element item, const char* key) {
  return std::string(std::string_view(item[key]));
}

bool lists_ids(View view) {
  return view == View::IdSet || view == View::ThisBranch;
}

// The lines of a diff as the reply lists them, one flat list after the hunks.
std::vector<std::string> hunk_lines_of_reply(simdjson::dom::element element) {
  std::vector<std::string> lines;
  for (simdjson::dom::element item : simdjson::dom::array(element.at(1))) {
    std::string status = text_of(item, "status");
    if (status.size() == 1) lines.push_back(status + text_of(item, "text"));
  }
  return lines;
}

std::string view_of_reply(const std::string& reply, View view) {
  simdjson::dom::parser parser;
  simdjson::dom::element element;
  if (parser.parse(reply).get(element) != simdjson::SUCCESS) return "not JSON: " + reply;
  if (element.is_null()) return "null";
  if (view == View::HunkLines) return joined(hunk_lines_of_reply(element));
  if (view == View::ThisBranch) element = element["thisBranch"];
  std::vector<std::string> lines;
  for (simdjson::dom::element item : simdjson::dom::array(element)) {
    if (lists_ids(view)) {
      lines.emplace_back(std::string_view(item));
      continue;
    }
    std::string type = text_of(item, "patchType");
    std::string line = type + " " + text_of(item, "oldFile");
    if (type == "R" || type == "C") line += " " + text_of(item, "newFile");
    lines.push_back(line);
  }
  if (lists_ids(view)) lines = sorted(lines);
  return joined(lines);
}

// The lines of git's unified diff from its first hunk on, without the hunk headers.
std::vector<std::string> hunk_lines_of_git(const std::string& out) {
  std::vector<std::string> lines;
  bool in_hunk = false;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    in_hunk = in_hunk || line.starts_with("@@");
    if (in_hunk && !line.empty() && std::string_view(" +-").find(line[0]) != std::string::npos)
      lines.push_back(line);
  }
  return lines;
}

// git's output read as the reply's view: ids one to a line, name-status lists written with
// -z (a letter with its score, then one path or two), or a unified diff.
std::string view_of_git(const Answer& answer, View view) {
  if (answer.status != 0) return "null";
  if (view == View::HunkLines) return joined(hunk_lines_of_git(answer.out));
  std::vector<std::string> lines;
  if (lists_ids(view)) {
    std::istringstream in(answer.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.find(' ')));
    return joined(sorted(lines));
  }
  std::vector<std::string> fields;
  std::istringstream in(answer.out);
  for (std::string field; std::getline(in, field, '\0');) {
    field.erase(0, field.find_first_not_of('\n'));
    if (!field.empty()) fields.push_back(field);
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    char letter = fields[i][0];
    std::string line = std::string(1, letter) + " " + fields[++i];
    if (letter == 'R' || letter == 'C') line += " " + fields[++i];
    lines.push_back(line);
  }
  return joined(lines);
}

void ask(const ServerProcess& server, const Shape& shape, const fs::path& dir) {
  std::string loaded_repo;
  for (const Question& q : shape.questions) {
    fs::path repo = dir / q.repo;
    if (q.repo != loaded_repo) {
      std::string loaded =
          server
              .post("/f/load_commits_and_refs", body({{"repoPath", quoted(repo.string())},
                                                      {"numCommits", "1000"},
                                                      {"filters", "[]"},
                                                      {"fast", "false"},
                                                      {"skipStashes", "false"}}))
              .body;
      ASSERT_NE(loaded, "null") << shape.name << ": " << q.repo;
      loaded_repo = q.repo;
    }
    std::string request = "{\"repoPath\":" + quoted(repo.string()) +
                          (q.fields.empty() ? "" : "," + resolved(repo, q.fields)) + "}";
    std::string reply = server.post("/f/" + q.endpoint, request).body;
    Answer git = run(repo, "git " + resolved(repo, q.git));
    EXPECT_EQ(view_of_reply(reply, q.view), view_of_git(git, q.view))
        << shape.name << ": " << q.endpoint << " " << request << "\nbeside git " << q.git;
  }
}

// The members of a "/f/load_hunks" request: a commit with its parents and one file it adds or
// changes, the commits named by {rev}s (or by a revision itself).
std::string hunks_of(const std::string& commit, const std::string& parents, const std::string& file,
                     const std::string& type) {
  return R"("commit":{"author":"T","email":"t@x","date":{"ms":0,"adjustment":0},"id":")" + commit +
         R"(","index":0,"parentIds":[)" + parents +
         R"(],"isMerge":false,"message":"m","stashId":null,"refs":[],"filtered":false,)"
         R"("numSkipped":0},"patch":{"commitId":")" +
         commit + R"(","oldFile":")" + file + R"(","newFile":")" + file + R"(","patchType":")" +
         type + R"(","id":"x","isImage":false})";
}

// The changed files of one commit beside git's.
Question changed_files(const std::string& rev, const std::string& repo = "r") {
  return {"load_patches_for_commit", "\"commitId\":\"{" + rev + "}\"", View::ChangedFiles,
          "show --name-status --format= -z {" + rev + "}", repo};
}

// `older` commits, then one whose tree is gone (as in a damaged clone), so that neither it nor
// its child can be diffed, then two more.
std::string damaged_history(int older) {
  return "git init -q -b main r && cd r && "
         "c() { echo \"$1\" >\"$1\" && git add \"$1\" && git commit -q -m \"$1\"; } && "
         "for i in $(seq " +
         std::to_string(older) +
         "); do c old$i; done && c damaged && c child && c new1 && c new2 && "
         "t=$(git rev-parse main~3^{tree}) && "
         "rm .git/objects/$(echo $t | cut -c1-2)/$(echo $t | cut -c3-)";
}

// Four commits c1 to c4 on main, each adding its own file.
constexpr const char* FOUR_COMMITS =
    "for i in 1 2 3 4; do echo $i >f$i && git add f$i && git commit -q -m c$i; done";

// Commits are dated by the script; the default is the fixture's moment.
const std::vector<Shape>& shapes() {
  static const std::vector<Shape> all = {
      {"a tip dated before the root (a skewed clock)",
       "git init -q -b main r && cd r && "
       "d() { GIT_AUTHOR_DATE=\"$1 +0000\" GIT_COMMITTER_DATE=\"$1 +0000\" "
       "git commit -q --allow-empty -m \"$2\"; } && "
       "d 1700000000 root && d 1700001000 one && git tag one && d 1700002000 two && "
       "git checkout -q -b skewed one && d 1600000000 skewed && git checkout -q main",
       {
           {"commit_ids_between_commits", R"("commitId1":"{skewed}","commitId2":"{main}")",
            View::IdSet, "rev-list skewed..main"},
           {"commit_ids_between_commits", R"("commitId1":"{main}","commitId2":"{skewed}")",
            View::IdSet, "rev-list main..skewed"},
       }},
      {"a commit dated before its parent, and a pushed branch past it",
       "git init -q --bare o.git && git init -q -b main r && cd r && "
       "d() { GIT_AUTHOR_DATE=\"$1 +0000\" GIT_COMMITTER_DATE=\"$1 +0000\" "
       "git commit -q --allow-empty -m \"$2\"; } && "
       "d 1700000000 root && d 1700001000 one && git remote add origin ../o.git && "
       "git push -q origin main && git checkout -q -b other && d 1700002000 two && "
       "git checkout -q main && d 1600000000 skewed && d 1700003000 late",
       {
           {"commit_ids_between_commits", R"("commitId1":"{main}","commitId2":"{other}")",
            View::IdSet, "rev-list main..other"},
           {"commit_ids_between_commits", R"("commitId1":"{other}","commitId2":"{main}")",
            View::IdSet, "rev-list other..main"},
           {"get_un_pushed_commits", "", View::ThisBranch, "rev-list origin/main..main"},
       }},
      {"SHA-256 object ids",
       "git init -q -b main --object-format=sha256 r && cd r && printf 'one\\ntwo\\n' > f.txt && "
       "git add f.txt && git commit -q -m root && echo three >> f.txt && git commit -q -am two",
       {
           {"load_hunks", hunks_of("{main~1}", "", "f.txt", "A"), View::HunkLines,
            "show --format= {main~1} -- f.txt"},
           {"load_hunks", hunks_of("main~1", "", "f.txt", "A"), View::HunkLines,
            "show --format= {main~1} -- f.txt"},
           {"load_hunks", hunks_of("{main}", R"("{main~1}")", "f.txt", "M"), View::HunkLines,
            "show --format= {main} -- f.txt"},
           {"load_patches_for_commit", R"("commitId":"{main~1}")", View::ChangedFiles,
            "show --format= --name-status -z {main~1}"},
           {"commit_ids_between_commits", R"("commitId1":"{main~1}","commitId2":"{main}")",
            View::IdSet, "rev-list main~1..main"},
       }},
      // The commits one log of the whole history lists...
      {"a commit whose tree is missing, in a history read with one log",
       damaged_history(20),
       {changed_files("main"), changed_files("main~1"), changed_files("main~2"),
        changed_files("main~3"), changed_files("main~4"), changed_files("main~23")},
       "",
       {"Commit {main~2}: git fails to list its changed files; they are not read",
        "Commit {main~3}: git fails to list its changed files; they are not read"}},
      // ...and those few enough to be named on one `git show`.
      {"a commit whose tree is missing, in a history read with one show",
       damaged_history(2),
       {changed_files("main"), changed_files("main~2"), changed_files("main~3"),
        changed_files("main~5")},
       "",
       {"Commit {main~2}: git fails to list its changed files; they are not read",
        "Commit {main~3}: git fails to list its changed files; they are not read"}},
      {"a shallow clone, then deepened",
       "git init -q -b main s && cd s && " + std::string(FOUR_COMMITS) +
           " && cd .. && git clone -q --depth 2 file://$PWD/s r",
       {changed_files("main~1"), changed_files("main")},
       "git -C r fetch -q --deepen=1"},
      {"a commit given other parents by a replace ref",
       "git init -q -b main r && cd r && " + std::string(FOUR_COMMITS),
       {changed_files("main~1"), changed_files("main")},
       "git -C r replace --graft main~1 main~3"},
      {"a commit given other parents by the grafts file",
       "git init -q -b main r && cd r && " + std::string(FOUR_COMMITS) +
           " && git config advice.graftFileDeprecated false",
       {changed_files("main~1"), changed_files("main")},
       "echo $(git -C r rev-parse main~1 main~3) >r/.git/info/grafts"},
      // The paths' parts run together alike; the copy shows another commit under one id.
      {"two repositories whose paths differ only where the separators are",
       "mkdir -p w/a && git init -q -b main w/ab/c && cd w/ab/c && " + std::string(FOUR_COMMITS) +
           " && git clone -q . ../../a/bc && cd ../../a/bc && git checkout -q -b alt main~2 && "
           "echo y >y && git add y && git commit -q -m y && git checkout -q main && "
           "git replace main~1 alt",
       {changed_files("main~1", "w/a/bc"), changed_files("main", "w/a/bc"),
        changed_files("main~1", "w/ab/c"), changed_files("main", "w/ab/c")}},
  };
  return all;
}

// The lines the server wrote on standard error after the first `before` bytes, once `count`
// have come and a marker request tells that no other follows them; the markers' own lines are
// left out.
std::vector<std::string> lines_since(const ServerProcess& server, size_t before, size_t count) {
  auto own = [&](const std::string& text) {
    std::vector<std::string> lines = lines_of(text.substr(std::min(before, text.size())));
    std::erase(lines, "poll_action2: Requested action id of 0");
    return lines;
  };
  eventually([&] { return own(server.stderr_text()).size() >= count; });
  return own(server.stderr_so_far());
}

// Fixed names and dates for the scripts that build and change a shape.
const std::string FIXED_COMMITS =
    "export GIT_AUTHOR_NAME=T GIT_AUTHOR_EMAIL=t@x GIT_COMMITTER_NAME=T "
    "GIT_COMMITTER_EMAIL=t@x GIT_AUTHOR_DATE='1700000000 +0000' "
    "GIT_COMMITTER_DATE='1700000000 +0000'; ";

TEST(HistoryShapes, EachAnswerIsGits) {
  ServerProcess server;
  for (const Shape& shape : shapes()) {
    TempDir dir;
    Answer built = run(dir.path, FIXED_COMMITS + shape.build + " 2>&1");
    ASSERT_EQ(built.status, 0) << shape.name << ": " << built.out;
    size_t err_before = shape.told.empty() ? 0 : server.stderr_so_far().size();
    ask(server, shape, dir.path);
    if (!shape.told.empty()) {
      std::vector<std::string> told;
      for (const std::string& line : shape.told) told.push_back(resolved(dir.path / "r", line));
      EXPECT_EQ(joined(sorted(lines_since(server, err_before, told.size()))), joined(sorted(told)))
          << shape.name;
    }
    if (shape.change.empty()) continue;
    fs::path cache = dir.path / "cache";
    fs::copy(server.home / ".cache", cache, fs::copy_options::recursive);
    Answer changed = run(dir.path, FIXED_COMMITS + shape.change + " 2>&1");
    ASSERT_EQ(changed.status, 0) << shape.name << ": " << changed.out;
    {
      SCOPED_TRACE("after the change, the same server");
      ask(server, shape, dir.path);
    }
    SCOPED_TRACE("after the change, a fresh server");
    ask(ServerProcess({{"XDG_CACHE_HOME", cache.string()}}), shape, dir.path);
  }
}

}  // namespace
}  // namespace brackwen::test
