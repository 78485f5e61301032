// The endpoint table: for each "/f/" endpoint, requests against one fixture of real
// repositories built once per test program, and the exact replies the front end must get. The
// handler tests ask it of a fresh server; the load test replays it from many clients at once.
#pragma once
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "robustness/request_shapes.hpp"
#include "support/requests.hpp"
#include "support/temp_repo.hpp"

namespace brackwen::test {

// A reply with status 500 and no body: the request was dropped.
inline const std::string kDropped = "<dropped>";

// Whether `reply` is `expected`, or for a reply too long to write out, "start…part…end": it
// starts and ends so and holds each part.
inline bool matches(const std::string& reply, const std::string& expected) {
  const std::string gap = "\u2026";
  size_t first = expected.find(gap), last = expected.rfind(gap);
  if (first == std::string::npos) return reply == expected;
  std::string start = expected.substr(0, first), end = expected.substr(last + gap.size());
  if (!reply.starts_with(start) || !reply.ends_with(end)) return false;
  for (size_t at = first; at < last;) {
    size_t next = expected.find(gap, at + gap.size());
    if (reply.find(expected.substr(at + gap.size(), next - at - gap.size())) == std::string::npos) {
      return false;
    }
    at = next;
  }
  return true;
}

struct Row {
  std::string endpoint;
  std::string repo;  // the fixture's name of the repository the body names
  // Fields as JSON, with {placeholders}; "-" leaves the field out, "*" is the whole body.
  std::vector<std::pair<std::string, std::string>> set;
  std::string reply;
};

// Multiples of 2^17 seconds, so that dates as float milliseconds are exact.
constexpr long kT1 = 12970L * 131072, kT2 = kT1 + 131072, kT3 = kT2 + 131072, kT4 = kT3 + 131072;

inline std::string numbered(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += std::to_string(i) + "\n";
  return text;
}

// The inside of a JSON string as the server writes it, for a plain text with line ends.
inline std::string json_text(const std::string& text) {
  std::string out;
  for (char c : text)
    out += c == '\n' ? "\\n" : c == '"' || c == '\\' ? std::string{'\\', c} : std::string(1, c);
  return out;
}

inline std::string commit_json(const std::string& id, const std::string& parents,
                               bool merge = false) {
  return R"({"author":"Test User","email":"test@example.com","date":{"ms":0,"adjustment":0},)"
         R"("id":")" +
         id + R"(","index":0,"parentIds":[)" + parents + R"(],"isMerge":)" +
         (merge ? "true" : "false") +
         R"(,"message":"m","stashId":null,"refs":[],"filtered":false,)"
         R"("numSkipped":0})";
}

inline std::string patch_json(const std::string& commit, const std::string& file,
                              const std::string& type) {
  return R"({"commitId":")" + commit + R"(","oldFile":)" + quoted(file) + R"(,"newFile":)" +
         quoted(file) + R"(,"patchType":")" + type + R"(","id":"x","isImage":false})";
}

inline std::string wip_json(const std::string& file, const std::string& staged,
                            const std::string& unstaged, const std::string& type) {
  return R"({"oldFile":)" + quoted(file) + R"(,"newFile":)" + quoted(file) + R"(,"patchType":")" +
         type + R"(","stagedType":")" + staged + R"(","unStagedType":")" + unstaged +
         R"(","conflicted":false,"id":"x","isImage":false})";
}

// The repositories, named by the rows; their ids and paths are the placeholders.
class Fixture {
 public:
  static const Fixture& get() {
    static const Fixture fixture;
    return fixture;
  }

  // `text` with each {name} replaced by its value.
  std::string fill(std::string text) const {
    for (size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at + 1)) {
      size_t end = text.find('}', at);
      auto found =
          end == std::string::npos ? names.end() : names.find(text.substr(at + 1, end - at - 1));
      if (found == names.end()) continue;
      text.replace(at, end - at + 1, found->second);
      at += found->second.size() - 1;
    }
    return text;
  }

  // The request body of a row: its fields, and for the others a plain value of their kind.
  std::string body(const Row& row) const {
    const EndpointShape* shape = find_shape(row.endpoint);
    auto set = [&](const std::string& key) -> const std::string* {
      for (const auto& [k, v] : row.set)
        if (k == key) return &v;
      return nullptr;
    };
    if (const std::string* whole = set("*")) return fill(*whole);
    std::string out;
    for (const FieldShape& field : shape->fields) {
      const std::string* value = set(field.key);
      if (value && *value == "-") continue;
      std::string json = fill(value ? *value : plain(field.kind, "{" + row.repo + "}"));
      if (shape->bare_string) return json;
      out += (out.empty() ? "" : ",") + quoted(field.key) + ":" + json;
    }
    return "{" + out + "}";
  }

  // `reply` with the fixture's values written back as placeholders, for reading new rows.
  std::string placeholders(std::string reply) const {
    std::vector<std::pair<std::string, std::string>> by_length(names.begin(), names.end());
    std::sort(by_length.begin(), by_length.end(),
              [](auto& a, auto& b) { return a.second.size() > b.second.size(); });
    for (const auto& [name, value] : by_length) {
      for (size_t at; (at = reply.find(value)) != std::string::npos;) {
        reply.replace(at, value.size(), "{" + name + "}");
      }
    }
    return reply;
  }

  TempDir root;

 private:
  static std::string plain(FieldKind kind, const std::string& repo) {
    using K = FieldKind;
    // clang-format off
    switch (kind) {
      case K::Repo: case K::Path: return "\"" + repo + "\"";
      case K::NewDir: return "\"{root}/new\"";
      case K::PathList: return "[\"" + repo + "\"]";
      case K::Args: case K::Commands: case K::Filters: return "[]";
      case K::U32: return "0";
      case K::U64: return "10";
      case K::Bool: return "false";
      case K::Commit: return commit_json("{c3}", "\"{c2}\"");
      case K::OptCommit: return "null";
      case K::Patch: return patch_json("{c3}", "a.txt", "M");
      case K::WipPatch: return wip_json("a.txt", " ", "M", "M");
      case K::AcKind: return "\"commitMessage\"";
      case K::Data: return "{}";
      case K::Text: break;
    }
    // clang-format on
    return "\"\"";
  }

  Fixture();
  // Writes files below `repo` (created), commits everything at `seconds` with `message` and
  // names the commit `id`.
  void commit(const std::string& repo,
              const std::vector<std::pair<std::string, std::string>>& files,
              const std::string& message, long seconds, const std::string& id);
  void write(const std::string& file, const std::string& content) const;
  std::string run(const std::string& script) const { return trimmed(sh(root.path, script)); }
  void build_main();
  void build_odd();
  void build_names();
  void build_forged();
  void build_tags();
  void build_graph();
  void build_authors();
  void build_loops();
  void build_diffs();

  std::map<std::string, std::string> names;
};

inline void Fixture::write(const std::string& file, const std::string& content) const {
  std::filesystem::path path = root.path / file;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

inline void Fixture::commit(const std::string& repo,
                            const std::vector<std::pair<std::string, std::string>>& files,
                            const std::string& message, long seconds, const std::string& id) {
  if (!names.contains(repo)) {
    names[repo] = (root.path / repo).string();
    run("git init -q -b main " + repo);
  }
  for (const auto& [file, content] : files) write(repo + "/" + file, content);
  write(repo + ".message", message);
  std::string date = "'" + std::to_string(seconds) + " +0000'";
  names[id] = run("cd " + repo + " && git add -A && GIT_AUTHOR_DATE=" + date +
                  " GIT_COMMITTER_DATE=" + date + " git commit -q --cleanup=verbatim -F ../" +
                  repo + ".message && git rev-parse HEAD");
}

inline Fixture::Fixture() {
  names["root"] = root.str();
  names["git_usage"] = json_text(sh(root.path, "git; true"));
  build_main();
  build_odd();
  build_names();
  build_forged();
  build_tags();
  build_graph();
  build_authors();
  build_loops();
  build_diffs();
}

// History: c1 (tag v1, origin/main), c2 (fork/main, the push remote; branch "plain.txt"), c3
// (main, feature/reader), a stash on c3, and work-tree changes of every kind.
inline void Fixture::build_main() {
  commit("main", {{"a.txt", "1\n"}, {"docs/Readme.md", "r\n"}},
         "commit one: \u00c4ndern der Gr\u00f6\u00dfe\n", kT1, "c1");
  run("git init -q --bare origin.git && git init -q --bare fork.git && cd main && git tag v1 && "
      "git remote add origin ../origin.git && git remote add fork ../fork.git && "
      "git push -q origin main");
  commit("main", {{"a.txt", "1\n2\n"}, {"src/main.cpp", "m\n"}}, "commit two\n", kT2, "c2");
  std::string hunks = numbered(1, 20);
  commit("main",
         {{"src/reader.cpp", "x"},
          {"twenty.txt", numbered(1, 20)},
          {"eleven.txt", numbered(1, 20)},
          {"fifteen.txt", numbered(1, 20)},
          {"six.txt", numbered(1, 30)},
          {"seven.txt", numbered(1, 30)},
          {"gone.txt", "x\ny"},
          {"lf.txt", "one\ntwo\nthree\n"},
          {"crlf.txt", "one\ntwo\nthree\n"},
          {"f.txt", "a\nb\nc\nd\n"}},
         "commit three: Introduce reader for configuration\n", kT3, "c3");
  names["stash"] = run(
      "cd main && git push -q fork HEAD~:refs/heads/main && git config remote.pushdefault fork && "
      "git branch feature/reader && git branch plain.txt HEAD~ && echo stashed >> a.txt && "
      "GIT_AUTHOR_DATE='" +
      std::to_string(kT4) + " +0000' GIT_COMMITTER_DATE='" + std::to_string(kT4) +
      " +0000' git stash push -q -m 'wip here' && git rev-parse refs/stash");
  names["C2"] = names["c2"];
  for (char& c : names["C2"]) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  names["c2short"] = names["c2"].substr(0, 7);
  write("main/eleven.txt", numbered(1, 10) + "eleven\n" + numbered(12, 20));
  write("main/fifteen.txt", numbered(1, 14) + "fifteen\n" + numbered(16, 20));
  // Six unchanged lines between two changes share a hunk; seven split it.
  write("main/six.txt", numbered(1, 9) + "ten\n" + numbered(11, 16) + "x\n" + numbered(18, 30));
  write("main/seven.txt", numbered(1, 9) + "ten\n" + numbered(11, 17) + "x\n" + numbered(19, 30));
  write("main/new.txt", "a\nb");
  write("main/lf.txt", "one\ntwo\n");
  write("main/crlf.txt", "one\r\ntwo\r\nthree\r\n");
  write("main/f.txt", "a\r\nB\r\nc\r\nd");
  run("rm main/gone.txt");
}

// A diff of two hunks with both line ends, texts that need escapes or repair and a last line
// without its end; a binary file and a change of mode beside it.
inline void Fixture::build_diffs() {
  commit("diffs", {{"f.txt", numbered(1, 20)}, {"bin", std::string("\0x", 2)}, {"mode.sh", "m\n"}},
         "one", kT1, "h1");
  run("chmod +x diffs/mode.sh");
  commit("diffs",
         {{"f.txt", "one \"quoted\" \\ \t\x01 caf\xe9\r\n" + numbered(2, 15) + "sixteen\n" +
                        numbered(17, 19) + "20"},
          {"bin", std::string("\0y", 2)}},
         "two", kT2, "h2");
}

// An unborn branch, a detached HEAD, a bare and a shallow clone, a submodule, a merge
// conflict, symbolic links, and a folder that is no repository.
inline void Fixture::build_odd() {
  names["empty"] = run("git init -q -b main empty && echo u > empty/u.txt && cd empty && pwd");
  names["nowhere"] = run("mkdir nowhere && cd nowhere && pwd");
  write("nowhere/c.txt", "a\n<<<<<<< HEAD\nb\nc\n=======\nd\n>>>>>>> topic\ne\n");
  run("ln -s nowhere nowhere-link");
  names["missing"] = (root.path / "missing").string();
  commit("detached", {{"a.txt", "a\n"}}, "A", 1700000000, "d1");
  commit("detached", {{"a.txt", "b\n"}}, "B", 1700000100, "d2");
  run("cd detached && git checkout -q --detach HEAD~");
  commit("detached", {{"a.txt", "c\n"}}, "C", 1700000200, "d3");
  write("detached/a.txt", "d\n");
  names["bare"] = run("git clone -q --bare main bare.git && cd bare.git && pwd");
  names["shallow"] = run("git clone -q --depth 2 file://$PWD/main shallow && cd shallow && pwd");
  commit("outer", {{"s.txt", "s\n"}}, "outer", kT1, "o1");
  run("cd outer && git -c protocol.file.allow=always submodule add -q ../main sub");
  commit("outer", {}, "add sub", kT2, "o2");
  write("outer/sub/a.txt", "changed\n");
  commit("conflict", {{"f.txt", "a\nb\nc\n"}}, "base", kT1, "m1");
  run("cd conflict && git checkout -q -b topic");
  commit("conflict", {{"f.txt", "a\nB-topic\nc\n"}}, "topic", kT2, "m2");
  run("cd conflict && git checkout -q main");
  commit("conflict", {{"f.txt", "a\nB-main\nc\n"}}, "main", kT3, "m3");
  run("cd conflict && (git merge -q topic >/dev/null 2>&1 || true)");
  write("conflict/empty-sides.txt", "x\r\n<<<<<<< HEAD\r\n=======\r\n>>>>>>> other\r\ny\r\n");
  write("conflict/bad.txt", "\xff\n");
  // Six is content, a diff3 base marker or a stray separator is not recognised, a marker counts
  // only at the line start; eight opens a conflict, and seven does alone. A label-less marker
  // names nothing; a start marker inside a conflict goes back to the left of the same section.
  const char* markers[] = {
      "",
      "one\n\nthree",
      "a\r\r\n",
      "<<<<<<\n|||||||\n=======\nx<<<<<<<\n",
      "<<<<<<<<\nx\n",
      "<<<<<<< HEAD\n=======\nr1\nr2\n>>>>>>> b\n",
      "<<<<<<< HEAD\r\nl1\r\n=======\r\nr1\r\n>>>>>>> o\r\n",
      "a\n<<<<<<< HEAD\n=======\n>>>>>>> b\nc\n>>>>>>> x\n<<<<<<< HEAD\nl\n=======\n>>>>>>> b\n",
      "a\n<<<<<<< HEAD\nl1\nl2\n=======\nr1\n",
      "<<<<<<<\n<<<<<<< HEAD\nl\n=======\n>>>>>>> first\nmid\n<<<<<<< other\n=======\nr\n<<<<<<< "
      "again\nl2\n>>>>>>> second\n<<<<<<< a-very-long-label\n\u00e9\u00e9\u00e9\n=======\n>>>>>>> "
      "x\n"};
  for (size_t i = 0; i < std::size(markers); ++i) {
    write("conflict/g" + std::to_string(i) + ".txt", markers[i]);
  }
  write("conflict/.git/rebase-merge/head-name", "refs/heads/main\n");
  run("mkdir links && ln -s old.txt links/link");
  commit("links",
         {{"old.txt", "old\n"},
          {"new.txt", "new\n"},
          {"dir/f.txt", "x\n"},
          {"w5", "x\ny"},
          {"w6", "a\rb\rc\r"}},
         "links", kT1, "l1");
  run("cd links && ln -sfn new.txt link && mv dir elsewhere && ln -s elsewhere dir");
  // A lone "\r" ends a line but is no line ending; a last line gains the other side's ending.
  for (auto [file, text] : {std::pair{"w1", "p\rq\r\n"},
                            {"w2", ""},
                            {"w4", "caf\xe9\n"},
                            {"w5", "x\ny\n"},
                            {"w6", "a\rB\rc\r"}}) {
    write(std::string("links/") + file, text);
  }
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 31 % 256);  // past a pipe's buffer
  commit("image", {{"img/\u00fc.png", bytes}}, "image", kT1, "i1");
  commit("image", {{"img/\u00fc.png", "later"}}, "later", kT2, "i2");
  run("cd image && git config alias.noisy '!yes error-text | head -c 204800 >&2; echo done' && "
      "git config alias.raw \"!printf 'a\\377b\\n'\"");
  write("out/keep.png", "keep");
  write("files/empty", "");
  write("files/ten", "0123456789");
  write("files/long", std::string(1000, 'z'));
  write("tmp \"y\"/.keep", "");
  run("cd files && ln -s ten link && ln -s gone dangling && mkdir -p ../ws/.git ../ws/inner/.git");
  // Merge markers behind a ".git" file, an absolute one (a linked worktree) and a relative one.
  write("linked/.git", "gitdir: " + names["conflict"] + "/.git\r\n");
  write("outer/.git/modules/sub/MERGE_HEAD", " \tabc\n\u00a0");
  write("ws/inner/.git/MERGE_HEAD", "bad \xff byte");
}

// Names that are options, hold line ends, quotes, tabs or non-ASCII letters, one in Latin-1
// (git's output carries the byte, which reaches JSON as U+FFFD), one a pattern matching
// another; a branch is named like a file.
inline void Fixture::build_names() {
  const std::vector<std::string> odd = {
      "-dash.txt",   "--output=x.txt", "tab\there.txt",   "new\nline.txt",
      "quo\"te.txt", " lead.txt",      "back\\slash.txt", "\xC3\xBCn\xC3\xAF.txt",
      "plain.txt",   "caf\xE9.txt",    "glob*.txt",       "globe.txt"};
  auto all = [&](const std::string& text) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& name : odd) files.emplace_back(name, text);
    return files;
  };
  commit("names", all("x\n"), "first", kT1 + 2, "n1");
  commit("names", all("x\ny\n"), "second", kT1 + 4, "n2");
  for (const auto& name : odd) write("names/" + name, "x\ny\nz\n");
  run("cd names && git branch plain.txt");
}

// Authors and messages that imitate the log format's fields and records, one naming an
// option that would plant a file, and a stash whose message does the same.
inline void Fixture::build_forged() {
  const std::string marker = "4a41380f-a4e8-4251-9ca2-bf55186ed32a";
  commit("forged", {{"x\ntouch EVIL\n.txt", "1\n"}}, "a\n", 1700000000, "f1");
  commit("forged", {{"b.txt", "1\n"}}, "b\n", 1700000000, "f2");
  const std::vector<std::pair<std::string, std::string>> forgeries = {
      {"m; m; 1700000000 +0000; --output=" + names["root"] + "/planted; 0123abc", "option as id\n"},
      {"x; y; 1234567890 +0000; " + names["f1"] + "; " + names["f2"], "another's id\n"},
      {"Semi; Colon", "tag\n" + marker + "; (tag: refs/tags/v9.9)\nB; b@x; 1 +0000; " +
                          names["f2"] + "; ; fake\n"},
      {"T", "bare marker\n" + marker + ";\n"},
      {"T", marker + "; (HEAD -> refs/heads/fake\n\ntail\n"},
  };
  int n = 3;
  for (const auto& [author, message] : forgeries) {
    write("forged.author", author);
    write("forged.message", message);
    run("cd forged && GIT_AUTHOR_NAME=\"$(cat ../forged.author)\" git commit -q --allow-empty "
        "--cleanup=verbatim -F ../forged.message");
    names["f" + std::to_string(n++)] = run("cd forged && git rev-parse HEAD");
  }
  write("forged/b.txt", "2\n");
  names["fstash"] =
      run("cd forged && git stash push -q -m 'keep " + marker + "; x' && git rev-parse refs/stash");
}

// Ten thousand tags, written as git's packed-refs file: as loose files they take seconds.
inline void Fixture::build_tags() {
  for (int i = 1; i <= 3; ++i) {
    commit("tags", {{"a.txt", std::to_string(i) + "\n"}}, "c" + std::to_string(i),
           1700000000 + i * 100, "t" + std::to_string(i));
  }
  std::string packed = "# pack-refs with: peeled fully-peeled sorted \n";
  for (int i = 0; i < 10000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "t%04d", i);
    packed += names[i % 2 ? "t1" : "t3"] + " refs/tags/" + name + "\n";
  }
  write("tags/.git/packed-refs", packed);
}

// History: m merges b into a2; b merged "gone", a root older than the five commits loaded;
// a2 was made west of UTC. Two stashes on m, made in the other order than their dates.
inline void Fixture::build_graph() {
  auto dated = [](long seconds, const std::string& zone) {
    std::string date = "'" + std::to_string(seconds) + " " + zone + "'";
    return "GIT_AUTHOR_DATE=" + date + " GIT_COMMITTER_DATE=" + date + " ";
  };
  const long step = 131072;
  commit("graph", {{"r.txt", "r\n"}}, "root", kT2, "groot");
  commit("graph", {{"a.txt", "1\n"}}, "a1", kT3, "ga1");
  run("cd graph && git checkout -q --orphan side && git rm -rqf .");
  commit("graph", {{"s.txt", "s\n"}}, "gone", kT1, "ggone");
  names["gb"] = run("cd graph && git checkout -q -b b main && " + dated(kT4, "+0000") +
                    "git merge -q --allow-unrelated-histories -m b side && git rev-parse HEAD");
  names["ga2"] = run("cd graph && git checkout -q main && echo 2 >> a.txt && " +
                     dated(kT4 + step, "-0130") + "git commit -qam a2 && git rev-parse HEAD");
  names["gm"] = run("cd graph && " + dated(kT4 + 2 * step, "+0000") +
                    "git merge -q --no-ff -m m b && git branch -qD side b && git rev-parse HEAD");
  for (auto [name, at] : {std::pair{"gnew", 4}, {"gold", 3}}) {
    names[name] = run("cd graph && echo " + std::string(name) + " >> a.txt && " +
                      dated(kT4 + at * step, "+0000") + "git stash push -q -m " + name +
                      " && git rev-parse refs/stash");
  }
}

// Commits as a contributor can push them, which no git command makes: a blank author name and
// an empty e-mail, which git's fsck passes, and a date without its zone, which it reports but
// git prints as no date; HEAD on the blank name, and a stash entry with neither name nor
// e-mail.
inline void Fixture::build_authors() {
  names["authors"] = run("git init -q -b main authors && cd authors && pwd");
  std::string tree = run("cd authors && git mktree </dev/null");
  // The author's date is written out; the committer's gives git its order.
  auto craft = [&](const std::string& id, const std::string& parent, const std::string& author,
                   long seconds, const std::string& message) {
    write("authors.object",
          "tree " + tree + "\n" + (parent.empty() ? "" : "parent " + parent + "\n") + "author " +
              author + "\ncommitter C <c@x> " + std::to_string(seconds) + " +0000\n\n" + message);
    names[id] = run("cd authors && git hash-object -t commit --literally -w ../authors.object");
  };
  auto at = [](long seconds) { return " " + std::to_string(seconds) + " +0000"; };
  craft("a1", "", "Test User <test@example.com>" + at(kT1), kT1, "first\n");
  craft("a2", names["a1"], " <x@y>" + at(kT2), kT2, "blank name\n");
  craft("a3", names["a2"], "Ann <>" + at(kT2 + 2), kT2 + 2, "no e-mail\n");
  craft("a4", names["a3"], "Bo <bo@x> " + std::to_string(kT3), kT3, "no zone\n");
  craft("a5", names["a4"], "Test User <test@example.com>" + at(kT3 + 2), kT3 + 2, "last\n");
  craft("astash", names["a5"], "  <>" + at(kT4), kT4, "WIP on main: odd\n");
  run("cd authors && git update-ref refs/heads/main " + names["a5"] +
      " && git update-ref refs/heads/blank " + names["a2"] + " && git update-ref refs/heads/zone " +
      names["a4"] +
      " && git symbolic-ref HEAD refs/heads/blank && git update-ref --create-reflog "
      "refs/stash " +
      names["astash"] + " && git -c fsck.badDate=ignore fsck --no-dangling");
}

// Symbolic links back up the tree and across it: "far" is a repository holding links to
// itself and a repository four levels down, reached again through "alias" beside it and
// through a/b/deep, which lies deeper than "far" itself.
inline void Fixture::build_loops() {
  run("mkdir -p loops/far/.git loops/far/x/y/z/r/.git loops/a/b && cd loops && ln -s far alias && "
      "ln -s ../../far a/b/deep && ln -s . far/l1 && ln -s . far/l2 && ln -s . far/l3 && "
      "ln -s .. far/x/up");
}

// clang-format off
// Rows asked of a server that has loaded no history yet.
inline std::vector<Row> cold_rows() {
  return {
      // The commit-message tree starts empty, kept for the repository path "".
      {"auto_complete", "main", {{"*", R"(["wor","",5,"commitMessage"])"}}, "[]"},
      {"commit_is_ancestor", "main", {{"commitId", "\"{c3}\""}, {"ancestorCandidateId", "\"{c1}\""}}, "false"},
      {"commit_is_on_branch", "main", {{"commitId", "\"{c2}\""}}, "null"},
      {"get_all_commits_on_current_branch", "main", {}, "null"},
      {"commit_ids_between_commits", "main", {{"commitId1", "\"{c1}\""}, {"commitId2", "\"{c3}\""}}, R"j(["{c3}","{c2}"])j"},
      {"calc_head_info", "main", {}, "null"},
      {"calc_ref_diffs", "main", {{"headCommitId", "\"{c3}\""}}, "null"},
      {"get_un_pushed_commits", "main", {}, R"j({"thisBranch":[],"allBranches":["{c3}"]})j"},
      {"search_commits", "main", {{"searchText", "\"\""}}, "null"},
      {"load_patches_for_commit", "main", {{"commitId", "\"{c2}\""}}, "null"},
      {"auto_complete", "main", {{"*", R"(["wor","{main}",5,"commitMessage"])"}}, "null"},
      {"auto_complete", "main", {{"currentWord", "\"\""}}, "null"},
      {"auto_complete", "main", {{"kind", R"({"createBranch":null})"}}, "null"},
      {"auto_complete", "main", {{"*", R"(["w","{main}",18446744073709551615,"createBranch"])"}}, "null"},
      {"get_data_store", "main", {{"repoPath", "\"\""}}, R"j({"error":"Failed to open config file: No such file or directory (os error 2)"})j"},
      {"repo_has_changed", "main", {}, "null"},
  };
}
// clang-format on

// Every endpoint's malformed bodies: "null", and a record without its fields.
inline void add_dropped(std::vector<Row>& rows) {
  for (std::string endpoint :
       {"command", "commands", "stash_changes", "fetch_all", "create_repo", "clone_repo",
        "stash_staged", "poll_action2", "set_credentials", "override_git_home"}) {
    rows.push_back({endpoint, "main", {{"*", "null"}}, kDropped});
    rows.push_back({endpoint, "main", {{"*", "{}"}}, kDropped});
  }
  for (std::string endpoint :
       {"load_commits_and_refs", "load_head_commit", "calc_head_info", "get_data_store",
        "load_conflicted_file", "load_hunks", "repo_has_changed", "path_exists", "file_size",
        "temp_dir", "write_file", "run"}) {
    rows.push_back({endpoint, "main", {{"*", "null"}}, kDropped});
  }
  for (std::string endpoint : {"get_data_store", "is_rebase_in_progress", "clear_cache",
                               "stop_watching_repo", "clear_all_caches"}) {
    rows.push_back({endpoint, "main", {{"*", "{}"}}, kDropped});
  }
}

// The odd file names: each one's hunks, working-copy hunks and committed bytes.
inline void add_odd_names(std::vector<Row>& rows) {
  const std::string head = commit_json("{n2}", "\"{n1}\"");
  for (const std::string name :
       {"-dash.txt", "--output=x.txt", "tab\there.txt", "new\nline.txt", "quo\"te.txt", " lead.txt",
        "back\\slash.txt", "\xC3\xBCn\xC3\xAF.txt", "plain.txt", "glob*.txt"}) {
    Row image{"load_commit_image", "names", {{"commitId", "\"{n2}\""}}, "true"};
    image.set.push_back({"originalImagePath", quoted(name)});
    image.set.push_back({"tempImagePath", "\"{root}/out/names\""});
    rows.push_back(image);
    // clang-format off
    rows.push_back({"load_hunks", "names", {{"commit", head}, {"patch", patch_json("{n2}", name, "M")}}, R"j([[{"oldLineRange":{"start":1,"length":1},"newLineRange":{"start":1,"length":2},"contextLine":"","lines":[{"status":" ","oldNum":1,"newNum":1,"hunkIndex":0,"text":"x","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"y","index":1,"lineEnding":"\n"}],"index":0}],[{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"headerEnd","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":" ","oldNum":1,"newNum":1,"hunkIndex":0,"text":"x","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"y","index":1,"lineEnding":"\n"},{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":-1,"text":"","index":0,"lineEnding":"\n"}]])j"});
    rows.push_back({"load_wip_hunks", "names", {{"patch", wip_json(name, " ", "M", "M")}, {"headCommit", head}}, R"j([[{"oldLineRange":{"start":1,"length":0},"newLineRange":{"start":1,"length":3},"contextLine":"","lines":[{"status":" ","oldNum":1,"newNum":1,"hunkIndex":0,"text":"x","index":0,"lineEnding":"\n"},{"status":" ","oldNum":2,"newNum":2,"hunkIndex":0,"text":"y","index":1,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":3,"hunkIndex":0,"text":"z","index":2,"lineEnding":"\n"}],"index":0}],1])j"});
    // clang-format on
  }
}

// clang-format off
inline std::vector<Row> rows() {
  // The conflict view of {nowhere}/c.txt.
  const std::string nowhere_conflict = R"j({"lines":[{"ok":{"text":"a"}},{"slot":{"section":0,"index":0}},{"slot":{"section":0,"index":1}},{"ok":{"text":"e"}}],"sections":[{"left":[{"conflict":{"text":"b","side":"left","section":0,"key":"Left-0-0"}},{"conflict":{"text":"c","side":"left","section":0,"key":"Left-0-1"}}],"right":[{"conflict":{"text":"d","side":"right","section":0,"key":"Right-0-0"}},{"blank":{"section":0}}]}],"refNameTop":"HEAD","refNameBottom":"Local/topic","lineEnding":"\n","maxLineLength":1})j";
  std::vector<Row> rows = {
      // The configuration and the history of every repository first: the others read them.
      {"load_full_config", "main", {}, R"j({"entries":{"remote.fork.fetch":"+refs/heads/*:refs/remotes/fork/*","remote.pushdefault":"fork","remote.origin.fetch":"+refs/heads/*:refs/remotes/origin/*","core.logallrefupdates":"true","remote.fork.url":"../fork.git","remote.origin.url":"../origin.git","core.bare":"false","core.filemode":"true","core.repositoryformatversion":"0"},"remotes":{"origin":"../origin.git","fork":"../fork.git"}})j"},
      {"load_commits_and_refs", "main", {{"numCommits", "500"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700397000000.0,"adjustment":0},"id":"{stash}","index":0,"parentIds":["{c3}"],"isMerge":false,"message":"On main","stashId":"refs/stash@{0}","refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{c3}","index":1,"parentIds":["{c2}"],"isMerge":false,"message":"commit three: Introduce reader for configuration\n","stashId":null,"refs":["refs/heads/main","refs/heads/feature/reader"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700134900000.0,"adjustment":0},"id":"{c2}","index":2,"parentIds":["{c1}"],"isMerge":false,"message":"commit two\n","stashId":null,"refs":["refs/remotes/fork/main","refs/heads/plain.txt"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{c1}","index":3,"parentIds":[],"isMerge":false,"message":"commit one: Ändern der Größe\n","stashId":null,"refs":["refs/tags/v1","refs/remotes/origin/main"],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"fork","siblingId":"refs/remotes/fork/main","refType":"Branch","head":true,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/heads/feature/reader","location":"Local","fullName":"refs/heads/feature/reader","shortName":"feature/reader","remoteName":"fork","siblingId":null,"refType":"Branch","head":false,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/remotes/fork/main","location":"Remote","fullName":"refs/remotes/fork/main","shortName":"main","remoteName":"fork","siblingId":"refs/heads/main","refType":"Branch","head":false,"commitId":"{c2}","time":1700134900000.0},{"id":"refs/heads/plain.txt","location":"Local","fullName":"refs/heads/plain.txt","shortName":"plain.txt","remoteName":"fork","siblingId":null,"refType":"Branch","head":false,"commitId":"{c2}","time":1700134900000.0},{"id":"refs/tags/v1","location":"Remote","fullName":"refs/tags/v1","shortName":"v1","remoteName":"fork","siblingId":null,"refType":"Tag","head":false,"commitId":"{c1}","time":1700003800000.0},{"id":"refs/remotes/origin/main","location":"Remote","fullName":"refs/remotes/origin/main","shortName":"main","remoteName":"origin","siblingId":"refs/heads/main","refType":"Branch","head":false,"commitId":"{c1}","time":1700003800000.0}]])j"},
      {"load_commits_and_refs", "main", {{"numCommits", "500"}, {"fast", "true"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700397000000.0,"adjustment":0},"id":"{stash}","index":0,"parentIds":["{c3}"],"isMerge":false,"message":"On main","stashId":"refs/stash@{0}","refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{c3}","index":1,"parentIds":["{c2}"],"isMerge":false,"message":"commit three: Introduce reader for configuration\n","stashId":null,"refs":["refs/heads/main","refs/heads/feature/reader"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700134900000.0,"adjustment":0},"id":"{c2}","index":2,"parentIds":["{c1}"],"isMerge":false,"message":"commit two\n","stashId":null,"refs":["refs/remotes/fork/main","refs/heads/plain.txt"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{c1}","index":3,"parentIds":[],"isMerge":false,"message":"commit one: Ändern der Größe\n","stashId":null,"refs":["refs/tags/v1","refs/remotes/origin/main"],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"fork","siblingId":"refs/remotes/fork/main","refType":"Branch","head":true,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/heads/feature/reader","location":"Local","fullName":"refs/heads/feature/reader","shortName":"feature/reader","remoteName":"fork","siblingId":null,"refType":"Branch","head":false,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/remotes/fork/main","location":"Remote","fullName":"refs/remotes/fork/main","shortName":"main","remoteName":"fork","siblingId":"refs/heads/main","refType":"Branch","head":false,"commitId":"{c2}","time":1700134900000.0},{"id":"refs/heads/plain.txt","location":"Local","fullName":"refs/heads/plain.txt","shortName":"plain.txt","remoteName":"fork","siblingId":null,"refType":"Branch","head":false,"commitId":"{c2}","time":1700134900000.0},{"id":"refs/tags/v1","location":"Remote","fullName":"refs/tags/v1","shortName":"v1","remoteName":"fork","siblingId":null,"refType":"Tag","head":false,"commitId":"{c1}","time":1700003800000.0},{"id":"refs/remotes/origin/main","location":"Remote","fullName":"refs/remotes/origin/main","shortName":"main","remoteName":"origin","siblingId":"refs/heads/main","refType":"Branch","head":false,"commitId":"{c1}","time":1700003800000.0}]])j"},
      {"load_commits_and_refs", "main", {{"*", R"(["{main}",500,[{"commit":["{c1}"]}],true,false])"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{c1}","index":0,"parentIds":[],"isMerge":false,"message":"commit one: Ändern der Größe\n","stashId":null,"refs":["refs/tags/v1","refs/remotes/origin/main"],"filtered":false,"numSkipped":3}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"fork","siblingId":"refs/remotes/fork/main","refType":"Branch","head":true,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/heads/feature/reader","location":"Local","fullName":"refs/heads/feature/reader","shortName":"feature/reader","remoteName":"fork","siblingId":null,"refType":"Branch","head":false,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/remotes/fork/main","location":"Remote","fullName":"refs/remotes/fork/main","shortName":"main","remoteName":"fork","siblingId":"refs/heads/main","refType":"Branch","head":false,"commitId":"{c2}","time":1700134900000.0},{"id":"refs/heads/plain.txt","location":"Local","fullName":"refs/heads/plain.txt","shortName":"plain.txt","remoteName":"fork","siblingId":null,"refType":"Branch","head":false,"commitId":"{c2}","time":1700134900000.0},{"id":"refs/tags/v1","location":"Remote","fullName":"refs/tags/v1","shortName":"v1","remoteName":"fork","siblingId":null,"refType":"Tag","head":false,"commitId":"{c1}","time":1700003800000.0},{"id":"refs/remotes/origin/main","location":"Remote","fullName":"refs/remotes/origin/main","shortName":"main","remoteName":"origin","siblingId":"refs/heads/main","refType":"Branch","head":false,"commitId":"{c1}","time":1700003800000.0}]])j"},
      {"load_commits_and_refs", "names", {{"numCommits", "500"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{n2}","index":0,"parentIds":["{n1}"],"isMerge":false,"message":"second","stashId":null,"refs":["refs/heads/main","refs/heads/plain.txt"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{n1}","index":1,"parentIds":[],"isMerge":false,"message":"first","stashId":null,"refs":[],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"origin","siblingId":null,"refType":"Branch","head":true,"commitId":"{n2}","time":1700003800000.0},{"id":"refs/heads/plain.txt","location":"Local","fullName":"refs/heads/plain.txt","shortName":"plain.txt","remoteName":"origin","siblingId":null,"refType":"Branch","head":false,"commitId":"{n2}","time":1700003800000.0}]])j"},
      {"load_commits_and_refs", "forged", {{"numCommits", "500"}}, R"j([[{"author":"T","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{f7}","index":0,"parentIds":["{f6}"],"isMerge":false,"message":"4a41380f-a4e8-4251-9ca2-bf55186ed32a; (HEAD -> refs/heads/fake\n\ntail\n","stashId":null,"refs":["refs/heads/main"],"filtered":false,"numSkipped":0},{"author":"T","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{f6}","index":1,"parentIds":["{f5}"],"isMerge":false,"message":"bare marker\n4a41380f-a4e8-4251-9ca2-bf55186ed32a;\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0},{"author":"Semi; Colon","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{f5}","index":2,"parentIds":["{f4}"],"isMerge":false,"message":"tag\n4a41380f-a4e8-4251-9ca2-bf55186ed32a; (tag: refs/tags/v9.9)\nB; b@x; 1 +0000; {f2}; ; fake\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0},{"author":"x; y; 1234567890 +0000; {f1}; {f2}","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{f4}","index":3,"parentIds":["{f3}"],"isMerge":false,"message":"another's id\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0},{"author":"m; m; 1700000000 +0000; --output={root}/planted; 0123abc","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{f3}","index":4,"parentIds":["{f2}"],"isMerge":false,"message":"option as id\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{f2}","index":5,"parentIds":["{f1}"],"isMerge":false,"message":"b\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{f1}","index":6,"parentIds":[],"isMerge":false,"message":"a\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{fstash}","index":7,"parentIds":["{f7}"],"isMerge":false,"message":"On main","stashId":"refs/stash@{0}","refs":[],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"origin","siblingId":null,"refType":"Branch","head":true,"commitId":"{f7}","time":1700000000000.0}]])j"},
      {"load_commits_and_refs", "forged", {{"numCommits", "100"}, {"filters", R"([{"file":{"file_name":"b.txt"}}])"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{f2}","index":0,"parentIds":["{f1}"],"isMerge":false,"message":"b\n","stashId":null,"refs":[],"filtered":false,"numSkipped":5},{"author":"Test User","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{fstash}","index":1,"parentIds":["{f7}"],"isMerge":false,"message":"On main","stashId":"refs/stash@{0}","refs":[],"filtered":false,"numSkipped":1}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"origin","siblingId":null,"refType":"Branch","head":true,"commitId":"{f7}","time":1700000000000.0}]])j"},
      {"load_commits_and_refs", "detached", {{"numCommits", "500"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700000200000.0,"adjustment":0},"id":"{d2}","index":0,"parentIds":["{d1}"],"isMerge":false,"message":"B","stashId":null,"refs":["refs/heads/main"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{d1}","index":1,"parentIds":[],"isMerge":false,"message":"A","stashId":null,"refs":[],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"origin","siblingId":null,"refType":"Branch","head":false,"commitId":"{d2}","time":1700000200000.0}]])j"},
      {"load_commits_and_refs", "bare", {{"numCommits", "500"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{c3}","index":0,"parentIds":["{c2}"],"isMerge":false,"message":"commit three: Introduce reader for configuration\n","stashId":null,"refs":["refs/heads/main","refs/heads/feature/reader"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700134900000.0,"adjustment":0},"id":"{c2}","index":1,"parentIds":["{c1}"],"isMerge":false,"message":"commit two\n","stashId":null,"refs":["refs/heads/plain.txt"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{c1}","index":2,"parentIds":[],"isMerge":false,"message":"commit one: Ändern der Größe\n","stashId":null,"refs":["refs/tags/v1"],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"origin","siblingId":null,"refType":"Branch","head":true,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/heads/feature/reader","location":"Local","fullName":"refs/heads/feature/reader","shortName":"feature/reader","remoteName":"origin","siblingId":null,"refType":"Branch","head":false,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/heads/plain.txt","location":"Local","fullName":"refs/heads/plain.txt","shortName":"plain.txt","remoteName":"origin","siblingId":null,"refType":"Branch","head":false,"commitId":"{c2}","time":1700134900000.0},{"id":"refs/tags/v1","location":"Remote","fullName":"refs/tags/v1","shortName":"v1","remoteName":"origin","siblingId":null,"refType":"Tag","head":false,"commitId":"{c1}","time":1700003800000.0}]])j"},
      {"load_commits_and_refs", "shallow", {{"numCommits", "500"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{c3}","index":0,"parentIds":["{c2}"],"isMerge":false,"message":"commit three: Introduce reader for configuration\n","stashId":null,"refs":["refs/heads/main","refs/remotes/origin/main","refs/remotes/origin/HEAD"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700134900000.0,"adjustment":0},"id":"{c2}","index":1,"parentIds":[],"isMerge":false,"message":"commit two\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"origin","siblingId":"refs/remotes/origin/main","refType":"Branch","head":true,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/remotes/origin/main","location":"Remote","fullName":"refs/remotes/origin/main","shortName":"main","remoteName":"origin","siblingId":"refs/heads/main","refType":"Branch","head":false,"commitId":"{c3}","time":1700266000000.0}]])j"},
      {"load_commits_and_refs", "outer", {{"numCommits", "500"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700134900000.0,"adjustment":0},"id":"{o2}","index":0,"parentIds":["{o1}"],"isMerge":false,"message":"add sub","stashId":null,"refs":["refs/heads/main"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{o1}","index":1,"parentIds":[],"isMerge":false,"message":"outer","stashId":null,"refs":[],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"origin","siblingId":null,"refType":"Branch","head":true,"commitId":"{o2}","time":1700134900000.0}]])j"},
      {"load_commits_and_refs", "tags", {{"numCommits", "500"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700000300000.0,"adjustment":0},"id":"{t3}","index":0,"parentIds":["{t2}"],"isMerge":false,"message":"c3","stashId":null,"refs":["refs/heads/main","refs/tags/t9998",…{"id":"refs/tags/t0000","location":"Remote","fullName":"refs/tags/t0000","shortName":"t0000","remoteName":"origin","siblingId":null,"refType":"Tag","head":false,"commitId":"{t3}…{"id":"refs/tags/t9999","location":"Remote","fullName":"refs/tags/t9999","shortName":"t9999","remoteName":"origin","siblingId":null,"refType":"Tag","head":false,"commitId":"{t1}…])j"},
      // Odd authors are commits like any other, wherever a query reads them.
      {"load_commits_and_refs", "authors", {{"numCommits", "500"}}, R"j([[{"author":"","email":"","date":{"ms":1700397000000.0,"adjustment":0},"id":"{astash}","index":0,"parentIds":["{a5}"],"isMerge":false,"message":"Stash on main","stashId":"refs/stash@{0}","refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{a5}","index":1,"parentIds":["{a4}"],"isMerge":false,"message":"last\n","stashId":null,"refs":["refs/heads/main"],"filtered":false,"numSkipped":0},{"author":"Bo","email":"bo@x","date":{"ms":0.0,"adjustment":0},"id":"{a4}","index":2,"parentIds":["{a3}"],"isMerge":false,"message":"no zone\n","stashId":null,"refs":["refs/heads/zone"],"filtered":false,"numSkipped":0},{"author":"Ann","email":"","date":{"ms":1700134900000.0,"adjustment":0},"id":"{a3}","index":3,"parentIds":["{a2}"],"isMerge":false,"message":"no e-mail\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0},{"author":"","email":"x@y","date":{"ms":1700134900000.0,"adjustment":0},"id":"{a2}","index":4,"parentIds":["{a1}"],"isMerge":false,"message":"blank name\n","stashId":null,"refs":["refs/heads/blank"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{a1}","index":5,"parentIds":[],"isMerge":false,"message":"first\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"origin","siblingId":null,"refType":"Branch","head":false,"commitId":"{a5}","time":1700266000000.0},{"id":"refs/heads/zone","location":"Local","fullName":"refs/heads/zone","shortName":"zone","remoteName":"origin","siblingId":null,"refType":"Branch","head":false,"commitId":"{a4}","time":0.0},{"id":"refs/heads/blank","location":"Local","fullName":"refs/heads/blank","shortName":"blank","remoteName":"origin","siblingId":null,"refType":"Branch","head":true,"commitId":"{a2}","time":1700134900000.0}]])j"},
      {"load_head_commit", "authors", {}, R"j({"author":"","email":"x@y","date":{"ms":1700134900000.0,"adjustment":0},"id":"{a2}","index":0,"parentIds":["{a1}"],"isMerge":false,"message":"blank name\n","stashId":null,"refs":[{"id":"refs/heads/blank","location":"Local","fullName":"refs/heads/blank","shortName":"blank","remoteName":null,"siblingId":null,"refType":"Branch","head":true,"commitId":"{a2}","time":1700134900000.0}],"filtered":false,"numSkipped":0})j"},
      {"load_top_commit_for_branch", "authors", {{"branchName", "\"zone\""}}, R"j({"author":"Bo","email":"bo@x","date":{"ms":0.0,"adjustment":0},"id":"{a4}","index":0,"parentIds":["{a3}"],"isMerge":false,"message":"no zone\n","stashId":null,"refs":[{"id":"refs/heads/zone","location":"Local","fullName":"refs/heads/zone","shortName":"zone","remoteName":null,"siblingId":null,"refType":"Branch","head":false,"commitId":"{a4}","time":0.0}],"filtered":false,"numSkipped":0})j"},
      {"get_un_pushed_commits", "authors", {}, R"j({"thisBranch":[],"allBranches":["{a2}","{a1}"]})j"},
      {"search_commits", "authors", {{"searchText", "\"x@y\""}}, R"j([{"commitId":"{a2}","matches":["Email"],"patches":[],"diffs":[],"refIds":[]}])j"},
      {"load_commits_and_refs", "empty", {}, "null"},
      {"load_commits_and_refs", "main", {{"skipStashes", "-"}}, kDropped},
      {"load_commits_and_refs", "main", {{"*", R"(["{main}",-1,[],false,false])"}}, kDropped},
      {"load_commits_and_refs", "graph", {{"numCommits", "5"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700921300000.0,"adjustment":0},"id":"{gnew}","index":0,"parentIds":["{gm}"],"isMerge":false,"message":"On main","stashId":"refs/stash@{1}","refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700790300000.0,"adjustment":0},"id":"{gold}","index":1,"parentIds":["{gm}"],"isMerge":false,"message":"On main","stashId":"refs/stash@{0}","refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700659200000.0,"adjustment":0},"id":"{gm}","index":2,"parentIds":["{ga2}","{gb}"],"isMerge":true,"message":"m\n","stashId":null,"refs":["refs/heads/main"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700528100000.0,"adjustment":-130},"id":"{ga2}","index":3,"parentIds":["{ga1}"],"isMerge":false,"message":"a2\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700397000000.0,"adjustment":0},"id":"{gb}","index":4,"parentIds":["{ga1}","{ggone}"],"isMerge":true,"message":"b\n","stashId":null,"refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{ga1}","index":5,"parentIds":["{groot}"],"isMerge":false,"message":"a1","stashId":null,"refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700134900000.0,"adjustment":0},"id":"{groot}","index":6,"parentIds":[],"isMerge":false,"message":"root","stashId":null,"refs":[],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"origin","siblingId":null,"refType":"Branch","head":true,"commitId":"{gm}","time":1700659200000.0}]])j"},
      // A branch filter keeps what any ref of that short name reaches, and the stashes on it.
      {"load_commits_and_refs", "main", {{"fast", "true"}, {"filters", R"([{"branch":{"id":"refs/heads/plain.txt","short_name":"plain.txt"}}])"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700134900000.0,"adjustment":0},"id":"{c2}","index":0,"parentIds":["{c1}"],"isMerge":false,"message":"commit two\n","stashId":null,"refs":["refs/remotes/fork/main","refs/heads/plain.txt"],"filtered":false,"numSkipped":2},{"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{c1}","index":1,"parentIds":[],"isMerge":false,"message":"commit one: Ändern der Größe\n","stashId":null,"refs":["refs/tags/v1","refs/remotes/origin/main"],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main"…]])j"},
      {"load_commits_and_refs", "main", {{"fast", "true"}, {"filters", R"([{"branch":{"id":"refs/heads/main","short_name":"main"}}])"}}, R"j([[{"author":"Test User","email":"test@example.com","date":{"ms":1700397000000.0,"adjustment":0},"id":"{stash}","index":0,"parentIds":["{c3}"],"isMerge":false,"message":"On main","stashId":"refs/stash@{0}","refs":[],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{c3}","index":1,"parentIds":["{c2}"],"isMerge":false,"message":"commit three: Introduce reader for configuration\n","stashId":null,"refs":["refs/heads/main","refs/heads/feature/reader"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700134900000.0,"adjustment":0},"id":"{c2}","index":2,"parentIds":["{c1}"],"isMerge":false,"message":"commit two\n","stashId":null,"refs":["refs/remotes/fork/main","refs/heads/plain.txt"],"filtered":false,"numSkipped":0},{"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{c1}","index":3,"parentIds":[],"isMerge":false,"message":"commit one: Ändern der Größe\n","stashId":null,"refs":["refs/tags/v1","refs/remotes/origin/main"],"filtered":false,"numSkipped":0}],[{"id":"refs/heads/main"…]])j"},
      {"load_commits_and_refs", "main", {{"fast", "true"}, {"filters", R"([{"branch":{"id":"x","short_name":"nowhere"}}])"}}, R"j([[],[{"id":"refs/heads/main"…]])j"},
      {"load_commits_and_refs", "main", {{"fast", "true"}, {"filters", R"(["branch"])"}}, kDropped},
      {"load_commits_and_refs", "main", {{"fast", "true"}, {"filters", R"([{"branch":{"id":1,"short_name":"main"}}])"}}, kDropped},
      // Head and branch tops.
      {"load_head_commit", "main", {}, R"j({"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{c3}","index":0,"parentIds":["{c2}"],"isMerge":false,"message":"commit three: Introduce reader for configuration\n","stashId":null,"refs":[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":null,"siblingId":null,"refType":"Branch","head":true,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/heads/feature/reader","location":"Local","fullName":"refs/heads/feature/reader","shortName":"feature/reader","remoteName":null,"siblingId":null,"refType":"Branch","head":false,"commitId":"{c3}","time":1700266000000.0}],"filtered":false,"numSkipped":0})j"},
      {"load_head_commit", "forged", {}, R"j({"author":"T","email":"test@example.com","date":{"ms":1700000000000.0,"adjustment":0},"id":"{f7}","index":0,"parentIds":["{f6}"],"isMerge":false,"message":"4a41380f-a4e8-4251-9ca2-bf55186ed32a; (HEAD -> refs/heads/fake\n\ntail\n","stashId":null,"refs":[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":null,"siblingId":null,"refType":"Branch","head":true,"commitId":"{f7}","time":1700000000000.0}],"filtered":false,"numSkipped":0})j"},
      {"load_head_commit", "detached", {}, R"j({"author":"Test User","email":"test@example.com","date":{"ms":1700000300000.0,"adjustment":0},"id":"{d3}","index":0,"parentIds":["{d1}"],"isMerge":false,"message":"C","stashId":null,"refs":[{"id":"HEAD","location":"Local","fullName":"HEAD","shortName":"HEAD","remoteName":null,"siblingId":null,"refType":"Branch","head":false,"commitId":"{d3}","time":1700000300000.0}],"filtered":false,"numSkipped":0})j"},
      {"load_head_commit", "bare", {}, R"j({"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{c3}","index":0,"parentIds":["{c2}"],"isMerge":false,"message":"commit three: Introduce reader for configuration\n","stashId":null,"refs":[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":null,"siblingId":null,"refType":"Branch","head":true,"commitId":"{c3}","time":1700266000000.0},{"id":"refs/heads/feature/reader","location":"Local","fullName":"refs/heads/feature/reader","shortName":"feature/reader","remoteName":null,"siblingId":null,"refType":"Branch","head":false,"commitId":"{c3}","time":1700266000000.0}],"filtered":false,"numSkipped":0})j"},
      {"load_head_commit", "empty", {}, "null"},
      {"load_top_commit_for_branch", "main", {{"branchName", "\"v1\""}}, R"j({"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{c1}","index":0,"parentIds":[],"isMerge":false,"message":"commit one: Ändern der Größe\n","stashId":null,"refs":[{"id":"refs/tags/v1","location":"Remote","fullName":"refs/tags/v1","shortName":"v1","remoteName":null,"siblingId":null,"refType":"Tag","head":false,"commitId":"{c1}","time":1700003800000.0},{"id":"refs/remotes/origin/main","location":"Remote","fullName":"refs/remotes/origin/main","shortName":"main","remoteName":"origin","siblingId":null,"refType":"Branch","head":false,"commitId":"{c1}","time":1700003800000.0}],"filtered":false,"numSkipped":0})j"},
      {"load_top_commit_for_branch", "main", {{"branchName", "\"no-such-ref\""}}, "null"},
      {"load_top_commit_for_branch", "main", {{"branchName", "\"--output={root}/planted\""}}, "null"},
      {"load_top_commit_for_branch", "names", {{"branchName", "\"plain.txt\""}}, R"j({"author":"Test User","email":"test@example.com","date":{"ms":1700003800000.0,"adjustment":0},"id":"{n2}","index":0,"parentIds":["{n1}"],"isMerge":false,"message":"second","stashId":null,"refs":[{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":null,"siblingId":null,"refType":"Branch","head":true,"commitId":"{n2}","time":1700003800000.0},{"id":"refs/heads/plain.txt","location":"Local","fullName":"refs/heads/plain.txt","shortName":"plain.txt","remoteName":null,"siblingId":null,"refType":"Branch","head":false,"commitId":"{n2}","time":1700003800000.0}],"filtered":false,"numSkipped":0})j"},
      {"load_top_commit_for_branch", "tags", {{"branchName", "\"t5001\""}}, R"j({"author":"Test User","email":"test@example.com","date":{"ms":1700000200000.0,"adjustment":0},"id":"{t1}","index":0,"parentIds":[],"isMerge":false,"message":"c1","stashId":null,"refs":[…{"id":"refs/tags/t0001","location":"Remote","fullName":"refs/tags/t0001","shortName":"t0001","remoteName":null,"siblingId":null,"refType":"Tag","head":false,"commitId":"{t1}…],"filtered":false,"numSkipped":0})j"},
      {"load_top_commit_for_branch", "empty", {{"branchName", "\"main\""}}, "null"},
      {"load_top_commit_for_branch", "main", {{"branchName", "-"}}, kDropped},
      // Relations between commits, from the cache.
      {"commit_is_ancestor", "main", {{"commitId", "\"{c3}\""}, {"ancestorCandidateId", "\"{c1}\""}}, "true"},
      {"commit_is_on_branch", "main", {{"commitId", "\"{c2}\""}}, "true"},
      {"get_all_commits_on_current_branch", "main", {}, R"j(["{c3}","{c2}","{c1}"])j"},
      {"get_all_commits_on_current_branch", "detached", {}, "null"},
      {"commit_ids_between_commits", "main", {{"commitId1", "\"{c2}\""}, {"commitId2", "\"{c2}\""}}, "[]"},
      {"commit_ids_between_commits", "shallow", {{"commitId1", "\"{c2}\""}, {"commitId2", "\"{c3}\""}}, R"j(["{c3}"])j"},
      {"commit_ids_between_commits", "main", {{"commitId2", "-"}}, kDropped},
      // A stash is not walked in list order: the whole graph is, and the stash's own commits
      // stay out. A parent outside the loaded history is in the range.
      {"commit_ids_between_commits", "main", {{"commitId1", "\"{c1}\""}, {"commitId2", "\"{stash}\""}}, R"j(["{stash}","{c3}","{c2}"])j"},
      {"commit_ids_between_commits", "graph", {{"commitId1", "\"{ga1}\""}, {"commitId2", "\"{gm}\""}}, R"j(["{gm}","{ga2}","{gb}","{ggone}"])j"},
      // What an unknown key holds is only checked for syntax: a lone surrogate is well formed.
      {"commit_ids_between_commits", "main", {{"*", R"({"repoPath":"{main}","commitId1":"{c1}","commitId2":"{c3}","junk":["\ud800",{"\udc00":1}]})"}}, R"j(["{c3}","{c2}"])j"},
      {"commit_ids_between_commits", "main", {{"*", R"({"repoPath":"{main}","commitId1":"{c1}","commitId2":"{c3}","junk":"\ud8x0"})"}}, kDropped},
      // Branches against their remotes.
      {"calc_ref_diffs", "main", {{"*", R"(["{main}","{c1}"])"}}, R"j([{"refs/heads/main":{"aheadOfRemote":1,"behindRemote":0,"aheadOfHead":2,"behindHead":0},"refs/heads/plain.txt":{"aheadOfRemote":0,"behindRemote":0,"aheadOfHead":1,"behindHead":0},"refs/heads/feature/reader":{"aheadOfRemote":0,"behindRemote":0,"aheadOfHead":2,"behindHead":0}},{"refs/heads/main":{"aheadOfHead":2,"behindHead":0},"refs/heads/plain.txt":{"aheadOfHead":1,"behindHead":0},"refs/heads/feature/reader":{"aheadOfHead":2,"behindHead":0},"refs/remotes/fork/main":{"aheadOfHead":1,"behindHead":0},"refs/tags/v1":{"aheadOfHead":0,"behindHead":0},"refs/remotes/origin/main":{"aheadOfHead":0,"behindHead":0}}])j"},
      {"calc_ref_diffs", "tags", {{"headCommitId", "\"{t3}\""}}, R"j([{"refs/heads/main":{"aheadOfRemote":0,"behindRemote":0,"aheadOfHead":0,"behindHead":0}},{…"refs/tags/t0001":{"aheadOfHead":0,"behindHead":2}…"refs/tags/t0000":{"aheadOfHead":0,"behindHead":0}…"refs/tags/t9999":{"aheadOfHead":0,"behindHead":2}…}])j"},
      {"calc_ref_diffs", "main", {{"headCommitId", "-"}}, kDropped},
      {"calc_head_info", "main", {}, R"j({"ref":{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"fork","siblingId":"refs/remotes/fork/main","refType":"Branch","head":true,"commitId":"{c3}","time":1700266000000.0},"commit":{"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{c3}","index":1,"parentIds":["{c2}"],"isMerge":false,"message":"commit three: Introduce reader for configuration\n","stashId":null,"refs":["refs/heads/main","refs/heads/feature/reader"],"filtered":false,"numSkipped":0},"remoteRef":{"id":"refs/remotes/fork/main","location":"Remote","fullName":"refs/remotes/fork/main","shortName":"main","remoteName":"fork","siblingId":"refs/heads/main","refType":"Branch","head":false,"commitId":"{c2}","time":1700134900000.0},"remoteCommit":{"author":"Test User","email":"test@example.com","date":{"ms":1700134900000.0,"adjustment":0},"id":"{c2}","index":2,"parentIds":["{c1}"],"isMerge":false,"message":"commit two\n","stashId":null,"refs":["refs/remotes/fork/main","refs/heads/plain.txt"],"filtered":false,"numSkipped":0},"remoteAhead":0,"remoteBehind":1})j"},
      {"calc_head_info", "shallow", {}, R"j({"ref":{"id":"refs/heads/main","location":"Local","fullName":"refs/heads/main","shortName":"main","remoteName":"origin","siblingId":"refs/remotes/origin/main","refType":"Branch","head":true,"commitId":"{c3}","time":1700266000000.0},"commit":{"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{c3}","index":0,"parentIds":["{c2}"],"isMerge":false,"message":"commit three: Introduce reader for configuration\n","stashId":null,"refs":["refs/heads/main","refs/remotes/origin/main","refs/remotes/origin/HEAD"],"filtered":false,"numSkipped":0},"remoteRef":{"id":"refs/remotes/origin/main","location":"Remote","fullName":"refs/remotes/origin/main","shortName":"main","remoteName":"origin","siblingId":"refs/heads/main","refType":"Branch","head":false,"commitId":"{c3}","time":1700266000000.0},"remoteCommit":{"author":"Test User","email":"test@example.com","date":{"ms":1700266000000.0,"adjustment":0},"id":"{c3}","index":0,"parentIds":["{c2}"],"isMerge":false,"message":"commit three: Introduce reader for configuration\n","stashId":null,"refs":["refs/heads/main","refs/remotes/origin/main","refs/remotes/origin/HEAD"],"filtered":false,"numSkipped":0},"remoteAhead":0,"remoteBehind":0})j"},
      {"calc_head_info", "detached", {}, "null"},
      {"calc_head_info", "empty", {}, "null"},
      {"get_un_pushed_commits", "main", {}, R"j({"thisBranch":["{c3}"],"allBranches":["{c3}"]})j"},
      {"get_un_pushed_commits", "detached", {}, R"j({"thisBranch":[],"allBranches":["{d3}","{d1}"]})j"},
      {"get_un_pushed_commits", "shallow", {}, R"j({"thisBranch":[],"allBranches":[]})j"},
      {"get_un_pushed_commits", "empty", {}, R"j({"thisBranch":[],"allBranches":[]})j"},
      {"get_un_pushed_commits", "missing", {}, R"j({"thisBranch":[],"allBranches":[]})j"},
      {"load_full_config", "empty", {}, R"j({"entries":{"core.logallrefupdates":"true","core.bare":"false","core.filemode":"true","core.repositoryformatversion":"0"},"remotes":{}})j"},
      {"load_full_config", "bare", {}, R"j({"entries":{"remote.origin.url":"{main}","core.bare":"true","core.filemode":"true","core.repositoryformatversion":"0"},"remotes":{"origin":"{main}"}})j"},
      {"load_full_config", "missing", {}, "null"},
      {"load_full_config", "main", {{"*", R"({"repo":1})"}}, kDropped},
      // Merges and rebases in progress.
      {"is_merge_in_progress", "main", {}, "null"},
      {"is_merge_in_progress", "conflict", {{"repoPath", "\"{conflict}/\""}}, R"j("{m2}")j"},
      {"is_merge_in_progress", "bare", {}, "null"},
      {"is_rebase_in_progress", "main", {}, "false"},
      {"is_merge_in_progress", "conflict", {{"repoPath", "\"{conflict}/.git/MERGE_HEAD\\u0000\""}}, "null"},
      {"is_rebase_in_progress", "conflict", {{"repoPath", "\"{conflict}/.git/rebase-merge\\u0000\""}}, "false"},
      {"is_rebase_in_progress", "conflict", {}, "true"},
      {"is_rebase_in_progress", "bare", {}, "false"},
      {"is_merge_in_progress", "main", {{"repoPath", "\"{root}/linked\""}}, R"j("{m2}")j"},
      {"is_rebase_in_progress", "main", {{"repoPath", "\"{root}/linked\""}}, "true"},
      {"is_merge_in_progress", "outer", {{"repoPath", "\"{outer}/sub\""}}, R"j("abc")j"},
      {"is_merge_in_progress", "main", {{"repoPath", "\"{root}/ws/inner\""}}, "null"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("f.txt", "U", "U", "U")}}, R"j({"lines":[{"ok":{"text":"a"}},{"slot":{"section":0,"index":0}},{"ok":{"text":"c"}}],"sections":[{"left":[{"conflict":{"text":"B-main","side":"left","section":0,"key":"Left-0-0"}}],"right":[{"conflict":{"text":"B-topic","side":"right","section":0,"key":"Right-0-0"}}]}],"refNameTop":"HEAD","refNameBottom":"Local/topic","lineEnding":"\n","maxLineLength":7})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("empty-sides.txt", "U", "U", "U")}}, R"j({"lines":[{"ok":{"text":"x"}},{"ok":{"text":"y"}}],"sections":[],"refNameTop":"HEAD","refNameBottom":"Local/other","lineEnding":"\n","maxLineLength":1})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("g0.txt", "U", "U", "U")}}, R"j({"lines":[],"sections":[],"refNameTop":"","refNameBottom":"","lineEnding":"\n","maxLineLength":0})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("g1.txt", "U", "U", "U")}}, R"j({"lines":[{"ok":{"text":"one"}},{"ok":{"text":""}},{"ok":{"text":"three"}}],"sections":[],"refNameTop":"","refNameBottom":"","lineEnding":"\n","maxLineLength":5})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("g2.txt", "U", "U", "U")}}, R"j({"lines":[{"ok":{"text":"a\r"}}],"sections":[],"refNameTop":"","refNameBottom":"","lineEnding":"\n","maxLineLength":2})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("g3.txt", "U", "U", "U")}}, R"j({"lines":[{"ok":{"text":"<<<<<<"}},{"ok":{"text":"|||||||"}},{"ok":{"text":"x<<<<<<<"}}],"sections":[],"refNameTop":"","refNameBottom":"","lineEnding":"\n","maxLineLength":8})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("g4.txt", "U", "U", "U")}}, R"j({"lines":[],"sections":[{"left":[{"conflict":{"text":"x","side":"left","section":0,"key":"Left-0-0"}}],"right":[]}],"refNameTop":"","refNameBottom":"","lineEnding":"\n","maxLineLength":1})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("g5.txt", "U", "U", "U")}}, R"j({"lines":[{"slot":{"section":0,"index":0}},{"slot":{"section":0,"index":1}}],"sections":[{"left":[{"blank":{"section":0}},{"blank":{"section":0}}],"right":[{"conflict":{"text":"r1","side":"right","section":0,"key":"Right-0-0"}},{"conflict":{"text":"r2","side":"right","section":0,"key":"Right-0-1"}}]}],"refNameTop":"HEAD","refNameBottom":"Local/b","lineEnding":"\n","maxLineLength":2})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("g6.txt", "U", "U", "U")}}, R"j({"lines":[{"slot":{"section":0,"index":0}}],"sections":[{"left":[{"conflict":{"text":"l1","side":"left","section":0,"key":"Left-0-0"}}],"right":[{"conflict":{"text":"r1","side":"right","section":0,"key":"Right-0-0"}}]}],"refNameTop":"HEAD","refNameBottom":"Local/o","lineEnding":"\n","maxLineLength":2})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("g7.txt", "U", "U", "U")}}, R"j({"lines":[{"ok":{"text":"a"}},{"ok":{"text":"c"}},{"slot":{"section":0,"index":0}}],"sections":[{"left":[{"conflict":{"text":"l","side":"left","section":0,"key":"Left-0-0"}}],"right":[{"blank":{"section":0}}]}],"refNameTop":"HEAD","refNameBottom":"Local/b","lineEnding":"\n","maxLineLength":1})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("g8.txt", "U", "U", "U")}}, R"j({"lines":[{"ok":{"text":"a"}}],"sections":[{"left":[{"conflict":{"text":"l1","side":"left","section":0,"key":"Left-0-0"}},{"conflict":{"text":"l2","side":"left","section":0,"key":"Left-0-1"}}],"right":[{"conflict":{"text":"r1","side":"right","section":0,"key":"Right-0-0"}}]}],"refNameTop":"HEAD","refNameBottom":"","lineEnding":"\n","maxLineLength":2})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("g9.txt", "U", "U", "U")}}, R"j({"lines":[{"slot":{"section":0,"index":0}},{"ok":{"text":"mid"}},{"slot":{"section":1,"index":0}},{"slot":{"section":2,"index":0}}],"sections":[{"left":[{"conflict":{"text":"l","side":"left","section":0,"key":"Left-0-0"}}],"right":[{"blank":{"section":0}}]},{"left":[{"conflict":{"text":"l2","side":"left","section":1,"key":"Left-1-0"}}],"right":[{"conflict":{"text":"r","side":"right","section":1,"key":"Right-1-0"}}]},{"left":[{"conflict":{"text":"ééé","side":"left","section":2,"key":"Left-2-0"}}],"right":[{"blank":{"section":2}}]}],"refNameTop":"HEAD","refNameBottom":"Local/first","lineEnding":"\n","maxLineLength":6})j"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("missing.txt", "U", "U", "U")}}, "null"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("bad.txt", "U", "U", "U")}}, "null"},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("f.txt", "U", "U", "Z")}}, kDropped},
      {"load_conflicted_file", "names", {{"patch", wip_json("new\nline.txt", " ", "M", "M")}}, R"j({"lines":[{"ok":{"text":"x"}},{"ok":{"text":"y"}},{"ok":{"text":"z"}}],"sections":[],"refNameTop":"","refNameBottom":"","lineEnding":"\n","maxLineLength":1})j"},
      {"load_conflicted_file", "outer", {{"patch", wip_json("sub", " ", "M", "M")}}, "null"},
      {"load_conflicted_file", "links", {{"patch", wip_json("link", " ", "M", "M")}}, "null"},
      {"load_conflicted_file", "links", {{"patch", wip_json("dir/f.txt", " ", "M", "M")}}, "null"},
      // Joined to the repository as written: an absolute path stands alone, and ".." climbs out
      // through real directories only, never through a link inside the repository.
      {"load_conflicted_file", "links", {{"patch", wip_json("{conflict}/g1.txt", " ", "M", "M")}}, R"j({"lines":[{"ok":{"text":"one"}},{"ok":{"text":""}},{"ok":{"text":"three"}}],"sections":[],"refNameTop":"","refNameBottom":"","lineEnding":"\n","maxLineLength":5})j"},
      {"load_conflicted_file", "links", {{"patch", wip_json("elsewhere/../../conflict/g1.txt", " ", "M", "M")}}, R"j({"lines":[{"ok":{"text":"one"}},{"ok":{"text":""}},{"ok":{"text":"three"}}],"sections":[],"refNameTop":"","refNameBottom":"","lineEnding":"\n","maxLineLength":5})j"},
      {"load_conflicted_file", "links", {{"patch", wip_json("dir/../../conflict/g1.txt", " ", "M", "M")}}, "null"},
      // Where git finds no work tree (no repository, or a bare one) the path is joined to the
      // folder asked for; an absolute path stands alone, in a repository too, and needs no git.
      {"load_conflicted_file", "nowhere", {{"patch", wip_json("c.txt", "U", "U", "U")}}, nowhere_conflict},
      {"load_conflicted_file", "missing", {{"patch", wip_json("{nowhere}/c.txt", "U", "U", "U")}}, nowhere_conflict},
      {"load_conflicted_file", "conflict", {{"patch", wip_json("{nowhere}/c.txt", "U", "U", "U")}}, nowhere_conflict},
      {"load_conflicted_file", "missing", {{"patch", wip_json("{root}/nowhere-link/c.txt", "U", "U", "U")}}, nowhere_conflict},
      {"load_conflicted_file", "bare", {{"patch", wip_json("HEAD", "U", "U", "U")}}, R"j({"lines":[{"ok":{"text":"ref: refs/heads/main"}}],"sections":[],"refNameTop":"","refNameBottom":"","lineEnding":"\n","maxLineLength":20})j"},
      // Changed files of commits and of the working copy.
      {"load_patches_for_commit", "main", {{"commitId", "\"{c2}\""}}, R"j([{"commitId":"{c2}","oldFile":"a.txt","newFile":"a.txt","patchType":"M","id":"a.txt-M","isImage":false},{"commitId":"{c2}","oldFile":"src/main.cpp","newFile":"src/main.cpp","patchType":"A","id":"src/main.cpp-A","isImage":false}])j"},
      {"load_patches_for_commit", "main", {{"commitId", "\"{C2}\""}}, "null"},
      {"load_patches_for_commit", "main", {{"commitId", "\"{c2short}\""}}, "null"},
      {"load_patches_for_commit", "names", {{"commitId", "\"{n2}\""}}, R"j([{"commitId":"{n2}","oldFile":" lead.txt","newFile":" lead.txt","patchType":"M","id":" lead.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"--output=x.txt","newFile":"--output=x.txt","patchType":"M","id":"--output=x.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"-dash.txt","newFile":"-dash.txt","patchType":"M","id":"-dash.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"back\\slash.txt","newFile":"back\\slash.txt","patchType":"M","id":"back\\slash.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"caf�.txt","newFile":"caf�.txt","patchType":"M","id":"caf�.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"glob*.txt","newFile":"glob*.txt","patchType":"M","id":"glob*.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"globe.txt","newFile":"globe.txt","patchType":"M","id":"globe.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"new\nline.txt","newFile":"new\nline.txt","patchType":"M","id":"new\nline.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"plain.txt","newFile":"plain.txt","patchType":"M","id":"plain.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"quo\"te.txt","newFile":"quo\"te.txt","patchType":"M","id":"quo\"te.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"tab\there.txt","newFile":"tab\there.txt","patchType":"M","id":"tab\there.txt-M","isImage":false},{"commitId":"{n2}","oldFile":"ünï.txt","newFile":"ünï.txt","patchType":"M","id":"ünï.txt-M","isImage":false}])j"},
      {"load_patches_for_commit", "forged", {{"commitId", "\"{f1}\""}}, R"j([{"commitId":"{f1}","oldFile":"x\ntouch EVIL\n.txt","newFile":"x\ntouch EVIL\n.txt","patchType":"A","id":"x\ntouch EVIL\n.txt-A","isImage":false}])j"},
      {"load_patches_for_commit", "bare", {{"commitId", "\"{c3}\""}}, R"j([{"commitId":"{c3}","oldFile":"crlf.txt","newFile":"crlf.txt","patchType":"A","id":"crlf.txt-A","isImage":false},{"commitId":"{c3}","oldFile":"eleven.txt","newFile":"eleven.txt","patchType":"A","id":"eleven.txt-A","isImage":false},{"commitId":"{c3}","oldFile":"f.txt","newFile":"f.txt","patchType":"A","id":"f.txt-A","isImage":false},{"commitId":"{c3}","oldFile":"fifteen.txt","newFile":"fifteen.txt","patchType":"A","id":"fifteen.txt-A","isImage":false},{"commitId":"{c3}","oldFile":"gone.txt","newFile":"gone.txt","patchType":"A","id":"gone.txt-A","isImage":false},{"commitId":"{c3}","oldFile":"lf.txt","newFile":"lf.txt","patchType":"A","id":"lf.txt-A","isImage":false},{"commitId":"{c3}","oldFile":"seven.txt","newFile":"seven.txt","patchType":"A","id":"seven.txt-A","isImage":false},{"commitId":"{c3}","oldFile":"six.txt","newFile":"six.txt","patchType":"A","id":"six.txt-A","isImage":false},{"commitId":"{c3}","oldFile":"src/reader.cpp","newFile":"src/reader.cpp","patchType":"A","id":"src/reader.cpp-A","isImage":false},{"commitId":"{c3}","oldFile":"twenty.txt","newFile":"twenty.txt","patchType":"A","id":"twenty.txt-A","isImage":false}])j"},
      {"load_patches_for_commit", "shallow", {{"commitId", "\"{c2}\""}}, R"j([{"commitId":"{c2}","oldFile":"a.txt","newFile":"a.txt","patchType":"A","id":"a.txt-A","isImage":false},{"commitId":"{c2}","oldFile":"docs/Readme.md","newFile":"docs/Readme.md","patchType":"A","id":"docs/Readme.md-A","isImage":false},{"commitId":"{c2}","oldFile":"src/main.cpp","newFile":"src/main.cpp","patchType":"A","id":"src/main.cpp-A","isImage":false}])j"},
      {"load_patches_for_commit", "outer", {{"commitId", "\"{o2}\""}}, R"j([{"commitId":"{o2}","oldFile":".gitmodules","newFile":".gitmodules","patchType":"A","id":".gitmodules-A","isImage":false},{"commitId":"{o2}","oldFile":"sub","newFile":"sub","patchType":"A","id":"sub-A","isImage":false}])j"},
      {"load_wip_patches", "main", {}, R"j([{"oldFile":"crlf.txt","newFile":"crlf.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"crlf.txtM","isImage":false},{"oldFile":"eleven.txt","newFile":"eleven.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"eleven.txtM","isImage":false},{"oldFile":"f.txt","newFile":"f.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"f.txtM","isImage":false},{"oldFile":"fifteen.txt","newFile":"fifteen.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"fifteen.txtM","isImage":false},{"oldFile":"gone.txt","newFile":"gone.txt","patchType":"D","stagedType":" ","unStagedType":"D","conflicted":false,"id":"gone.txtD","isImage":false},{"oldFile":"lf.txt","newFile":"lf.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"lf.txtM","isImage":false},{"oldFile":"new.txt","newFile":"new.txt","patchType":"A","stagedType":"?","unStagedType":"?","conflicted":false,"id":"new.txtA","isImage":false},{"oldFile":"seven.txt","newFile":"seven.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"seven.txtM","isImage":false},{"oldFile":"six.txt","newFile":"six.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"six.txtM","isImage":false}])j"},
      {"load_wip_patches", "names", {}, R"j([{"oldFile":" lead.txt","newFile":" lead.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":" lead.txtM","isImage":false},{"oldFile":"--output=x.txt","newFile":"--output=x.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"--output=x.txtM","isImage":false},{"oldFile":"-dash.txt","newFile":"-dash.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"-dash.txtM","isImage":false},{"oldFile":"back\\slash.txt","newFile":"back\\slash.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"back\\slash.txtM","isImage":false},{"oldFile":"caf�.txt","newFile":"caf�.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"caf�.txtM","isImage":false},{"oldFile":"glob*.txt","newFile":"glob*.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"glob*.txtM","isImage":false},{"oldFile":"globe.txt","newFile":"globe.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"globe.txtM","isImage":false},{"oldFile":"new\nline.txt","newFile":"new\nline.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"new\nline.txtM","isImage":false},{"oldFile":"plain.txt","newFile":"plain.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"plain.txtM","isImage":false},{"oldFile":"quo\"te.txt","newFile":"quo\"te.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"quo\"te.txtM","isImage":false},{"oldFile":"tab\there.txt","newFile":"tab\there.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"tab\there.txtM","isImage":false},{"oldFile":"ünï.txt","newFile":"ünï.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"ünï.txtM","isImage":false}])j"},
      {"load_wip_patches", "empty", {}, R"j([{"oldFile":"u.txt","newFile":"u.txt","patchType":"A","stagedType":"?","unStagedType":"?","conflicted":false,"id":"u.txtA","isImage":false}])j"},
      {"load_wip_patches", "bare", {}, "null"},
      {"load_wip_patches", "outer", {}, R"j([{"oldFile":"sub","newFile":"sub","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"subM","isImage":false}])j"},
      {"load_wip_patches", "tags", {}, "null"},
      // Hunks of commits.
      {"load_hunks", "main", {{"commit", commit_json("{c2}", "\"{c1}\"")}, {"patch", patch_json("{c2}", "a.txt", "M")}}, R"j([[{"oldLineRange":{"start":1,"length":1},"newLineRange":{"start":1,"length":2},"contextLine":"","lines":[{"status":" ","oldNum":1,"newNum":1,"hunkIndex":0,"text":"1","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"2","index":1,"lineEnding":"\n"}],"index":0}],[{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"headerEnd","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":" ","oldNum":1,"newNum":1,"hunkIndex":0,"text":"1","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"2","index":1,"lineEnding":"\n"},{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":-1,"text":"","index":0,"lineEnding":"\n"}]])j"},
      {"load_hunks", "diffs", {{"commit", commit_json("{h2}", "\"{h1}\"")}, {"patch", patch_json("{h2}", "f.txt", "M")}}, R"j([[{"oldLineRange":{"start":1,"length":4},"newLineRange":{"start":1,"length":4},"contextLine":"","lines":[{"status":"-","oldNum":1,"newNum":null,"hunkIndex":0,"text":"1","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"one \"quoted\" \\ \t\u0001 caf�","index":1,"lineEnding":"\r\n"},{"status":" ","oldNum":2,"newNum":2,"hunkIndex":0,"text":"2","index":2,"lineEnding":"\n"},{"status":" ","oldNum":3,"newNum":3,"hunkIndex":0,"text":"3","index":3,"lineEnding":"\n"},{"status":" ","oldNum":4,"newNum":4,"hunkIndex":0,"text":"4","index":4,"lineEnding":"\n"}],"index":0},{"oldLineRange":{"start":13,"length":8},"newLineRange":{"start":13,"length":8},"contextLine":"","lines":[{"status":" ","oldNum":13,"newNum":13,"hunkIndex":1,"text":"13","index":0,"lineEnding":"\n"},{"status":" ","oldNum":14,"newNum":14,"hunkIndex":1,"text":"14","index":1,"lineEnding":"\n"},{"status":" ","oldNum":15,"newNum":15,"hunkIndex":1,"text":"15","index":2,"lineEnding":"\n"},{"status":"-","oldNum":16,"newNum":null,"hunkIndex":1,"text":"16","index":3,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":16,"hunkIndex":1,"text":"sixteen","index":4,"lineEnding":"\n"},{"status":" ","oldNum":17,"newNum":17,"hunkIndex":1,"text":"17","index":5,"lineEnding":"\n"},{"status":" ","oldNum":18,"newNum":18,"hunkIndex":1,"text":"18","index":6,"lineEnding":"\n"},{"status":" ","oldNum":19,"newNum":19,"hunkIndex":1,"text":"19","index":7,"lineEnding":"\n"},{"status":"-","oldNum":20,"newNum":null,"hunkIndex":1,"text":"20","index":8,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":20,"hunkIndex":1,"text":"20","index":9,"lineEnding":"\n"},{"status":" ","oldNum":21,"newNum":21,"hunkIndex":1,"text":" No newline at end of file","index":10,"lineEnding":""}],"index":1}],[{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"headerEnd","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"-","oldNum":1,"newNum":null,"hunkIndex":0,"text":"1","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"one \"quoted\" \\ \t\u0001 caf�","index":1,"lineEnding":"\r\n"},{"status":" ","oldNum":2,"newNum":2,"hunkIndex":0,"text":"2","index":2,"lineEnding":"\n"},{"status":" ","oldNum":3,"newNum":3,"hunkIndex":0,"text":"3","index":3,"lineEnding":"\n"},{"status":" ","oldNum":4,"newNum":4,"hunkIndex":0,"text":"4","index":4,"lineEnding":"\n"},{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":1,"text":"","index":0,"lineEnding":"\n"},{"status":"headerEnd","oldNum":null,"newNum":null,"hunkIndex":1,"text":"","index":0,"lineEnding":"\n"},{"status":" ","oldNum":13,"newNum":13,"hunkIndex":1,"text":"13","index":0,"lineEnding":"\n"},{"status":" ","oldNum":14,"newNum":14,"hunkIndex":1,"text":"14","index":1,"lineEnding":"\n"},{"status":" ","oldNum":15,"newNum":15,"hunkIndex":1,"text":"15","index":2,"lineEnding":"\n"},{"status":"-","oldNum":16,"newNum":null,"hunkIndex":1,"text":"16","index":3,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":16,"hunkIndex":1,"text":"sixteen","index":4,"lineEnding":"\n"},{"status":" ","oldNum":17,"newNum":17,"hunkIndex":1,"text":"17","index":5,"lineEnding":"\n"},{"status":" ","oldNum":18,"newNum":18,"hunkIndex":1,"text":"18","index":6,"lineEnding":"\n"},{"status":" ","oldNum":19,"newNum":19,"hunkIndex":1,"text":"19","index":7,"lineEnding":"\n"},{"status":"-","oldNum":20,"newNum":null,"hunkIndex":1,"text":"20","index":8,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":20,"hunkIndex":1,"text":"20","index":9,"lineEnding":"\n"},{"status":" ","oldNum":21,"newNum":21,"hunkIndex":1,"text":" No newline at end of file","index":10,"lineEnding":""},{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":-1,"text":"","index":0,"lineEnding":"\n"}]])j"},
      {"load_hunks", "diffs", {{"commit", commit_json("{h2}", "\"{h1}\"")}, {"patch", patch_json("{h2}", "bin", "M")}}, R"j([[{"oldLineRange":{"start":0,"length":0},"newLineRange":{"start":0,"length":0},"contextLine":"","lines":[],"index":0}],[{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"headerEnd","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":-1,"text":"","index":0,"lineEnding":"\n"}]])j"},
      {"load_hunks", "diffs", {{"commit", commit_json("{h2}", "\"{h1}\"")}, {"patch", patch_json("{h2}", "mode.sh", "M")}}, R"j([[],[]])j"},
      {"load_hunks", "main", {{"commit", commit_json("{c1}", "\"{c1}\"")}}, "null"},
      {"load_hunks", "main", {{"commit", commit_json("--output={root}/planted", "")}}, "null"},
      {"load_hunks", "main", {{"commit", commit_json("{c1}", "\"{c1}\"", true)}}, kDropped},
      {"load_hunks", "main", {{"patch", "-"}}, kDropped},
      {"load_hunks", "names", {{"commit", commit_json("{n2}", "\"{n1}\"")}, {"patch", patch_json("{n2}", "caf\xEF\xBF\xBD.txt", "M")}}, "null"},
      {"load_hunks", "bare", {{"commit", commit_json("{c2}", "\"{c1}\"")}, {"patch", patch_json("{c2}", "a.txt", "M")}}, R"j([[{"oldLineRange":{"start":1,"length":1},"newLineRange":{"start":1,"length":2},"contextLine":"","lines":[{"status":" ","oldNum":1,"newNum":1,"hunkIndex":0,"text":"1","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"2","index":1,"lineEnding":"\n"}],"index":0}],[{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"headerEnd","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":" ","oldNum":1,"newNum":1,"hunkIndex":0,"text":"1","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"2","index":1,"lineEnding":"\n"},{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":-1,"text":"","index":0,"lineEnding":"\n"}]])j"},
      {"load_hunks", "shallow", {{"commit", commit_json("{c2}", "")}, {"patch", patch_json("{c2}", "a.txt", "A")}}, R"j([[{"oldLineRange":{"start":0,"length":0},"newLineRange":{"start":1,"length":2},"contextLine":"","lines":[{"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"1","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"2","index":1,"lineEnding":"\n"}],"index":0}],[{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"headerEnd","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"1","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"2","index":1,"lineEnding":"\n"},{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":-1,"text":"","index":0,"lineEnding":"\n"}]])j"},
      {"load_hunks", "outer", {{"commit", commit_json("{o2}", "\"{o1}\"")}, {"patch", patch_json("{o2}", "sub", "A")}}, R"j([[{"oldLineRange":{"start":0,"length":0},"newLineRange":{"start":1,"length":1},"contextLine":"","lines":[{"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"Subproject commit {c3}","index":0,"lineEnding":"\n"}],"index":0}],[{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"headerEnd","oldNum":null,"newNum":null,"hunkIndex":0,"text":"","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"Subproject commit {c3}","index":0,"lineEnding":"\n"},{"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":-1,"text":"","index":0,"lineEnding":"\n"}]])j"},
      // Hunks of the working copy.
      {"load_wip_hunks", "main", {{"patch", wip_json("twenty.txt", " ", "M", "M")}, {"headCommit", commit_json("{c3}", "")}}, "[[],0]"},
      {"load_wip_hunks", "main", {{"patch", wip_json("eleven.txt", " ", "M", "M")}, {"headCommit", commit_json("{c3}", "")}}, R"j([[{"oldLineRange":{"start":8,"length":7},"newLineRange":{"start":8,"length":7},"contextLine":"","lines":[{"status":" ","oldNum":8,"newNum":8,"hunkIndex":0,"text":"8","index":7,"lineEnding":"\n"},{"status":" ","oldNum":9,"newNum":9,"hunkIndex":0,"text":"9","index":8,"lineEnding":"\n"},{"status":" ","oldNum":10,"newNum":10,"hunkIndex":0,"text":"10","index":9,"lineEnding":"\n"},{"status":"-","oldNum":11,"newNum":null,"hunkIndex":0,"text":"11","index":10,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":11,"hunkIndex":0,"text":"eleven","index":11,"lineEnding":"\n"},{"status":" ","oldNum":12,"newNum":12,"hunkIndex":0,"text":"12","index":12,"lineEnding":"\n"},{"status":" ","oldNum":13,"newNum":13,"hunkIndex":0,"text":"13","index":13,"lineEnding":"\n"},{"status":" ","oldNum":14,"newNum":14,"hunkIndex":0,"text":"14","index":14,"lineEnding":"\n"}],"index":0}],2])j"},
      {"load_wip_hunks", "main", {{"patch", wip_json("fifteen.txt", " ", "M", "M")}, {"headCommit", commit_json("{c3}", "")}}, R"j([[{"oldLineRange":{"start":12,"length":9},"newLineRange":{"start":12,"length":9},"contextLine":"","lines":[{"status":" ","oldNum":12,"newNum":12,"hunkIndex":0,"text":"12","index":11,"lineEnding":"\n"},{"status":" ","oldNum":13,"newNum":13,"hunkIndex":0,"text":"13","index":12,"lineEnding":"\n"},{"status":" ","oldNum":14,"newNum":14,"hunkIndex":0,"text":"14","index":13,"lineEnding":"\n"},{"status":"-","oldNum":15,"newNum":null,"hunkIndex":0,"text":"15","index":14,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":15,"hunkIndex":0,"text":"fifteen","index":15,"lineEnding":"\n"},{"status":" ","oldNum":16,"newNum":16,"hunkIndex":0,"text":"16","index":16,"lineEnding":"\n"},{"status":" ","oldNum":17,"newNum":17,"hunkIndex":0,"text":"17","index":17,"lineEnding":"\n"},{"status":" ","oldNum":18,"newNum":18,"hunkIndex":0,"text":"18","index":18,"lineEnding":"\n"},{"status":" ","oldNum":19,"newNum":19,"hunkIndex":0,"text":"19","index":19,"lineEnding":"\n"},{"status":" ","oldNum":20,"newNum":20,"hunkIndex":0,"text":"20","index":20,"lineEnding":"\n"}],"index":0}],2])j"},
      {"load_wip_hunks", "main", {{"patch", wip_json("six.txt", " ", "M", "M")}, {"headCommit", commit_json("{c3}", "")}}, R"j([[{"oldLineRange":{"start":7,"length":14},"newLineRange":{"start":7,"length":14},"contextLine":"","lines":[{"status":" ","oldNum":7,"newNum":7,"hunkIndex":0,"text":"7","index":6,"lineEnding":"\n"},{"status":" ","oldNum":8,"newNum":8,"hunkIndex":0,"text":"8","index":7,"lineEnding":"\n"},{"status":" ","oldNum":9,"newNum":9,"hunkIndex":0,"text":"9","index":8,"lineEnding":"\n"},{"status":"-","oldNum":10,"newNum":null,"hunkIndex":0,"text":"10","index":9,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":10,"hunkIndex":0,"text":"ten","index":10,"lineEnding":"\n"},{"status":" ","oldNum":11,"newNum":11,"hunkIndex":0,"text":"11","index":11,"lineEnding":"\n"},{"status":" ","oldNum":12,"newNum":12,"hunkIndex":0,"text":"12","index":12,"lineEnding":"\n"},{"status":" ","oldNum":13,"newNum":13,"hunkIndex":0,"text":"13","index":13,"lineEnding":"\n"},{"status":" ","oldNum":14,"newNum":14,"hunkIndex":0,"text":"14","index":14,"lineEnding":"\n"},{"status":" ","oldNum":15,"newNum":15,"hunkIndex":0,"text":"15","index":15,"lineEnding":"\n"},{"status":" ","oldNum":16,"newNum":16,"hunkIndex":0,"text":"16","index":16,"lineEnding":"\n"},{"status":"-","oldNum":17,"newNum":null,"hunkIndex":0,"text":"17","index":17,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":17,"hunkIndex":0,"text":"x","index":18,"lineEnding":"\n"},{"status":" ","oldNum":18,"newNum":18,"hunkIndex":0,"text":"18","index":19,"lineEnding":"\n"},{"status":" ","oldNum":19,"newNum":19,"hunkIndex":0,"text":"19","index":20,"lineEnding":"\n"},{"status":" ","oldNum":20,"newNum":20,"hunkIndex":0,"text":"20","index":21,"lineEnding":"\n"}],"index":0}],4])j"},
      {"load_wip_hunks", "main", {{"patch", wip_json("seven.txt", " ", "M", "M")}, {"headCommit", commit_json("{c3}", "")}}, R"j([[{"oldLineRange":{"start":7,"length":7},"newLineRange":{"start":7,"length":7},"contextLine":"","lines":[{"status":" ","oldNum":7,"newNum":7,"hunkIndex":0,"text":"7","index":6,"lineEnding":"\n"},{"status":" ","oldNum":8,"newNum":8,"hunkIndex":0,"text":"8","index":7,"lineEnding":"\n"},{"status":" ","oldNum":9,"newNum":9,"hunkIndex":0,"text":"9","index":8,"lineEnding":"\n"},{"status":"-","oldNum":10,"newNum":null,"hunkIndex":0,"text":"10","index":9,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":10,"hunkIndex":0,"text":"ten","index":10,"lineEnding":"\n"},{"status":" ","oldNum":11,"newNum":11,"hunkIndex":0,"text":"11","index":11,"lineEnding":"\n"},{"status":" ","oldNum":12,"newNum":12,"hunkIndex":0,"text":"12","index":12,"lineEnding":"\n"},{"status":" ","oldNum":13,"newNum":13,"hunkIndex":0,"text":"13","index":13,"lineEnding":"\n"}],"index":0},{"oldLineRange":{"start":15,"length":7},"newLineRange":{"start":15,"length":7},"contextLine":"","lines":[{"status":" ","oldNum":15,"newNum":15,"hunkIndex":1,"text":"15","index":15,"lineEnding":"\n"},{"status":" ","oldNum":16,"newNum":16,"hunkIndex":1,"text":"16","index":16,"lineEnding":"\n"},{"status":" ","oldNum":17,"newNum":17,"hunkIndex":1,"text":"17","index":17,"lineEnding":"\n"},{"status":"-","oldNum":18,"newNum":null,"hunkIndex":1,"text":"18","index":18,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":18,"hunkIndex":1,"text":"x","index":19,"lineEnding":"\n"},{"status":" ","oldNum":19,"newNum":19,"hunkIndex":1,"text":"19","index":20,"lineEnding":"\n"},{"status":" ","oldNum":20,"newNum":20,"hunkIndex":1,"text":"20","index":21,"lineEnding":"\n"},{"status":" ","oldNum":21,"newNum":21,"hunkIndex":1,"text":"21","index":22,"lineEnding":"\n"}],"index":1}],4])j"},
      {"load_wip_hunks", "main", {{"patch", wip_json("new.txt", "?", "?", "A")}, {"headCommit", commit_json("{c3}", "")}}, R"j([[{"oldLineRange":{"start":0,"length":1},"newLineRange":{"start":1,"length":2},"contextLine":"","lines":[{"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"a","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"b","index":1,"lineEnding":"\n"}],"index":0}],2])j"},
      {"load_wip_hunks", "main", {{"patch", wip_json("new.txt", " ", "M", "M")}}, R"j([[{"oldLineRange":{"start":0,"length":1},"newLineRange":{"start":1,"length":2},"contextLine":"","lines":[{"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"a","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"b","index":1,"lineEnding":"\n"}],"index":0}],2])j"},
      {"load_wip_hunks", "main", {{"patch", wip_json("gone.txt", " ", "D", "D")}, {"headCommit", commit_json("{c3}", "")}}, R"j([[{"oldLineRange":{"start":1,"length":2},"newLineRange":{"start":0,"length":1},"contextLine":"","lines":[{"status":"-","oldNum":1,"newNum":null,"hunkIndex":0,"text":"x","index":0,"lineEnding":"\n"},{"status":"-","oldNum":2,"newNum":null,"hunkIndex":0,"text":"y","index":1,"lineEnding":"\n"}],"index":0}],2])j"},
      {"load_wip_hunks", "main", {{"patch", wip_json("lf.txt", " ", "M", "M")}, {"headCommit", commit_json("{c3}", "")}}, R"j([[{"oldLineRange":{"start":1,"length":3},"newLineRange":{"start":1,"length":0},"contextLine":"","lines":[{"status":" ","oldNum":1,"newNum":1,"hunkIndex":0,"text":"one","index":0,"lineEnding":"\n"},{"status":" ","oldNum":2,"newNum":2,"hunkIndex":0,"text":"two","index":1,"lineEnding":"\n"},{"status":"-","oldNum":3,"newNum":null,"hunkIndex":0,"text":"three","index":2,"lineEnding":"\n"}],"index":0}],1])j"},
      {"load_wip_hunks", "main", {{"patch", wip_json("crlf.txt", " ", "M", "M")}, {"headCommit", commit_json("{c3}", "")}}, "[[],0]"},
      {"load_wip_hunks", "main", {{"patch", R"({"oldFile":"p.png","newFile":"p.png","patchType":"A","stagedType":" ","unStagedType":"A","conflicted":false,"id":"x","isImage":true})"}, {"headCommit", commit_json("{c3}", "")}}, "null"},
      {"load_wip_hunks", "detached", {{"headCommit", commit_json("{d3}", "\"{d1}\"")}}, R"j([[{"oldLineRange":{"start":1,"length":0},"newLineRange":{"start":0,"length":2},"contextLine":"","lines":[{"status":"-","oldNum":1,"newNum":null,"hunkIndex":0,"text":"c","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"d","index":1,"lineEnding":"\n"}],"index":0}],2])j"},
      {"load_wip_hunks", "empty", {{"patch", wip_json("u.txt", "?", "?", "A")}}, R"j([[{"oldLineRange":{"start":0,"length":1},"newLineRange":{"start":1,"length":1},"contextLine":"","lines":[{"status":"+","oldNum":null,"newNum":1,"hunkIndex":0,"text":"u","index":0,"lineEnding":"\n"}],"index":0}],1])j"},
      {"load_wip_hunks", "outer", {{"patch", wip_json("sub", " ", "M", "M")}, {"headCommit", commit_json("{o2}", "\"{o1}\"")}}, "null"},
      {"load_wip_hunk_lines", "main", {{"patch", wip_json("f.txt", " ", "M", "M")}, {"headCommit", commit_json("{c3}", "")}}, R"j([{"status":" ","oldNum":1,"newNum":1,"hunkIndex":-1,"text":"a","index":0,"lineEnding":"\r\n"},{"status":"-","oldNum":2,"newNum":null,"hunkIndex":-1,"text":"b","index":1,"lineEnding":"\r\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":-1,"text":"B","index":2,"lineEnding":"\r\n"},{"status":" ","oldNum":3,"newNum":3,"hunkIndex":-1,"text":"c","index":3,"lineEnding":"\r\n"},{"status":" ","oldNum":4,"newNum":4,"hunkIndex":-1,"text":"d","index":4,"lineEnding":"\r\n"}])j"},
      {"load_wip_hunk_lines", "main", {{"patch", R"({"oldFile":"p.png","newFile":"p.png","patchType":"A","stagedType":" ","unStagedType":"A","conflicted":false,"id":"x","isImage":true})"}}, "null"},
      {"load_wip_hunk_lines", "links", {{"patch", wip_json("link", " ", "M", "M")}, {"headCommit", commit_json("{l1}", "")}}, R"j([{"status":"-","oldNum":1,"newNum":null,"hunkIndex":-1,"text":"old.txt","index":0,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":1,"hunkIndex":-1,"text":"new.txt","index":1,"lineEnding":"\n"}])j"},
      {"load_wip_hunk_lines", "links", {{"patch", wip_json("w1", "?", "?", "A")}, {"headCommit", commit_json("{l1}", "")}}, R"j([{"status":"+","oldNum":null,"newNum":1,"hunkIndex":-1,"text":"p\r","index":0,"lineEnding":""},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":-1,"text":"q","index":1,"lineEnding":"\r\n"}])j"},
      {"load_wip_hunk_lines", "links", {{"patch", wip_json("w2", "?", "?", "A")}, {"headCommit", commit_json("{l1}", "")}}, "[]"},
      {"load_wip_hunk_lines", "links", {{"patch", wip_json("w3", "?", "?", "A")}, {"headCommit", commit_json("{l1}", "")}}, "null"},
      {"load_wip_hunk_lines", "links", {{"patch", wip_json("w4", "?", "?", "A")}, {"headCommit", commit_json("{l1}", "")}}, "null"},
      {"load_wip_hunk_lines", "links", {{"patch", wip_json("w5", " ", "M", "M")}, {"headCommit", commit_json("{l1}", "")}}, R"j([{"status":" ","oldNum":1,"newNum":1,"hunkIndex":-1,"text":"x","index":0,"lineEnding":"\n"},{"status":" ","oldNum":2,"newNum":2,"hunkIndex":-1,"text":"y","index":1,"lineEnding":"\n"}])j"},
      {"load_wip_hunk_lines", "links", {{"patch", wip_json("w6", " ", "M", "M")}, {"headCommit", commit_json("{l1}", "")}}, R"j([{"status":" ","oldNum":1,"newNum":1,"hunkIndex":-1,"text":"a\r","index":0,"lineEnding":""},{"status":"-","oldNum":2,"newNum":null,"hunkIndex":-1,"text":"b\r","index":1,"lineEnding":""},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":-1,"text":"B\r","index":2,"lineEnding":""},{"status":" ","oldNum":3,"newNum":3,"hunkIndex":-1,"text":"c\r","index":3,"lineEnding":""},{"status":" ","oldNum":4,"newNum":4,"hunkIndex":-1,"text":"","index":4,"lineEnding":"\r\n"}])j"},
      {"load_wip_hunk_lines", "links", {{"patch", wip_json("dir/f.txt", " ", "M", "M")}, {"headCommit", commit_json("{l1}", "")}}, "null"},
      // Searching the cached history.
      {"search_commits", "main", {{"searchText", "\"COMMIT\""}, {"numResults", "1"}}, R"j([{"commitId":"{c3}","matches":["CommitMessage"],"patches":[],"diffs":[],"refIds":[]},{"commitId":"{c2}","matches":["CommitMessage"],"patches":[],"diffs":[],"refIds":[]}])j"},
      {"search_commits", "main", {{"searchText", "\"\u00c4NDERN DER GR\u00d6SSE\""}}, "[]"},
      {"search_commits", "main", {{"searchText", "\"\u00c4NDERN DER GR\u00d6\u1e9eE\""}}, R"j([{"commitId":"{c1}","matches":["CommitMessage"],"patches":[],"diffs":[],"refIds":[]}])j"},
      {"search_commits", "main", {{"searchText", "\"README\""}}, R"j([{"commitId":"{c1}","matches":[],"patches":[{"commitId":"{c1}","oldFile":"docs/Readme.md","newFile":"docs/Readme.md","patchType":"A","id":"docs/Readme.md-A","isImage":false}],"diffs":[],"refIds":[]}])j"},
      {"search_commits", "main", {{"searchText", "\"refs/heads/MAIN\""}}, R"j([{"commitId":"{c3}","matches":[],"patches":[],"diffs":[],"refIds":["refs/heads/main"]}])j"},
      {"search_commits", "main", {{"numResults", "1.5"}}, kDropped},
      {"search_commits", "main", {{"numResults", "-1"}}, kDropped},
      {"search_commits", "main", {{"*", R"(["x","",1])"}}, "null"},
      {"search_commits", "names", {{"searchText", "\"DASH\""}}, R"j([{"commitId":"{n2}","matches":[],"patches":[{"commitId":"{n2}","oldFile":"-dash.txt","newFile":"-dash.txt","patchType":"M","id":"-dash.txt-M","isImage":false}],"diffs":[],"refIds":[]},{"commitId":"{n1}","matches":[],"patches":[{"commitId":"{n1}","oldFile":"-dash.txt","newFile":"-dash.txt","patchType":"A","id":"-dash.txt-A","isImage":false}],"diffs":[],"refIds":[]}])j"},
      {"search_commits", "forged", {{"searchText", "\"m\""}}, R"j([{"commitId":"{f7}","matches":["Email"],"patches":[],"diffs":[],"refIds":["refs/heads/main"]},{"commitId":"{f6}","matches":["Email","CommitMessage"],"patches":[],"diffs":[],"refIds":[]},{"commitId":"{f5}","matches":["Email","Author"],"patches":[],"diffs":[],"refIds":[]},{"commitId":"{f4}","matches":["Email"],"patches":[],"diffs":[],"refIds":[]},{"commitId":"{f3}","matches":["Email","Author"],"patches":[],"diffs":[],"refIds":[]},{"commitId":"{f2}","matches":["Email"],"patches":[],"diffs":[],"refIds":[]},{"commitId":"{f1}","matches":["Email"],"patches":[],"diffs":[],"refIds":[]},{"commitId":"{fstash}","matches":["Email","CommitMessage"],"patches":[],"diffs":[],"refIds":[]}])j"},
      {"search_commits", "tags", {{"searchText", "\"T1234\""}}, R"j([{"commitId":"{t3}","matches":[],"patches":[],"diffs":[],"refIds":["refs/tags/t1234"]}])j"},
      {"search_commits", "empty", {{"searchText", "\"u\""}}, "null"},
      {"auto_complete", "main", {{"*", R"(["","{main}",10,"createBranch"])"}}, R"j(["feature/reader","main","plain.txt","v1"])j"},
      {"auto_complete", "main", {{"*", R"(["","{main}",2,"createBranch"])"}}, R"j(["feature/reader","main"])j"},
      {"auto_complete", "main", {{"*", R"(["config","{main}",10,"commitMessage"])"}}, R"j(["configuration"])j"},
      {"auto_complete", "main", {{"*", R"(["src/","{main}",10,"commitMessage"])"}}, R"j(["src/main.cpp","src/reader.cpp"])j"},
      {"auto_complete", "main", {{"*", R"(["config","{main}",0,"commitMessage"])"}}, "[]"},
      {"auto_complete", "main", {{"*", R"(["zzz","{main}",10,"commitMessage"])"}}, "[]"},
      {"auto_complete", "forged", {{"currentWord", "\"o\""}}, "[]"},
      {"auto_complete", "tags", {{"currentWord", "\"t099\""}, {"maxNum", "20"}, {"kind", "\"createBranch\""}}, R"j(["t0990","t0991","t0992","t0993","t0994","t0995","t0996","t0997","t0998","t0999"])j"},
      {"auto_complete", "empty", {{"kind", "\"createBranch\""}}, "null"},
      {"auto_complete", "main", {{"*", R"(["w","/r",5,"CommitMessage"])"}}, kDropped},
      {"auto_complete", "main", {{"kind", R"({"createBranch":nul})"}}, kDropped},
      {"auto_complete", "main", {{"*", R"(["w","/r",-1,"commitMessage"])"}}, kDropped},
      {"auto_complete", "main", {{"*", R"(["w","/r",1.5,"commitMessage"])"}}, kDropped},
      {"auto_complete", "main", {{"kind", "-"}}, kDropped},
      {"poll_diff_search", "main", {{"searchId", "77"}}, R"j({"searchId":77,"complete":false,"results":null})j"},
      // git as the front end calls it.
      {"run", "main", {{"args", R"(["rev-parse","HEAD"])"}}, R"j("{c3}\n")j"},
      {"run", "main", {{"*", R"(["{main}",["rev-parse","HEAD"]])"}}, R"j("{c3}\n")j"},
      {"run", "main", {{"args", R"(["status","--porcelain","--","a.txt"])"}}, "null"},
      {"run", "main", {{"args", R"(["rev-parse","no-such-ref"])"}}, R"j("no-such-ref\n")j"},
      {"run", "main", {{"args", R"(["log","-1","--format=%s %x09"])"}}, R"j("commit three: Introduce reader for configuration \t\n")j"},
      {"run", "main", {{"args", R"(["definitely-not-a-command"])"}}, "null"},
      {"run", "missing", {{"args", R"(["rev-parse","HEAD"])"}}, "null"},
      {"run", "main", {{"args", R"(["rev-parse","HEAD\u0000x"])"}}, "null"},
      {"run", "main", {{"args", R"(["rev-parse",1])"}}, kDropped},
      {"run", "main", {{"args", "-"}}, kDropped},
      // git's own usage text, as the git on PATH prints it.
      {"run", "main", {}, "\"{git_usage}\""},
      {"run", "image", {{"args", R"(["noisy"])"}}, R"j("done\n")j"},
      {"run", "image", {{"args", R"(["raw"])"}}, R"j("a�b\n")j"},
      {"run", "bare", {{"args", R"(["rev-parse","--is-bare-repository"])"}}, R"j("true\n")j"},
      {"run", "names", {{"args", R"(["ls-files","-z"])"}}, R"j(" lead.txt\u0000--output=x.txt\u0000-dash.txt\u0000back\\slash.txt\u0000caf�.txt\u0000glob*.txt\u0000globe.txt\u0000new\nline.txt\u0000plain.txt\u0000quo\"te.txt\u0000tab\there.txt\u0000ünï.txt\u0000")j"},
      {"load_commit_image", "image", {{"commitId", "\"{i1}\""}, {"originalImagePath", "\"img/\u00fc.png\""}, {"tempImagePath", "\"{root}/out/old.png\""}}, "true"},
      {"load_commit_image", "image", {{"commitId", "\"{i1}\""}, {"originalImagePath", "\"missing.png\""}, {"tempImagePath", "\"{root}/out/keep.png\""}}, "false"},
      {"load_commit_image", "outer", {{"commitId", "\"{o2}\""}, {"originalImagePath", "\"sub\""}, {"tempImagePath", "\"{root}/out/sub\""}}, "false"},
      {"load_commit_image", "image", {{"commitId", "\"{i2}\""}, {"originalImagePath", "\"img/\u00fc.png\""}, {"tempImagePath", "\"{root}/out/nul\\u0000x\""}}, "false"},
      {"load_commit_image", "image", {{"originalImagePath", "-"}}, kDropped},
      // Files.
      {"path_exists", "main", {{"", "\"/tmp\""}}, "true"},
      {"path_exists", "main", {{"*", " \"\" "}}, "false"},
      {"path_exists", "main", {{"", "\"{root}/files/dangling\""}}, "false"},
      {"path_exists", "main", {{"", "\"{root}/files\\u0000/x\""}}, "false"},
      {"path_exists", "main", {{"*", "5"}}, kDropped},
      {"path_exists", "main", {{"*", "\"/tmp\" x"}}, kDropped},
      {"file_size", "main", {{"", "\"{root}/files/empty\""}}, "0"},
      {"file_size", "main", {{"", "\"{root}/files/link\""}}, "10"},
      {"file_size", "main", {{"", "\"{root}/files/missing\""}}, "null"},
      {"temp_dir", "main", {{"", "\"\""}}, R"j("{root}/tmp \"y\"/")j"},
      {"temp_dir", "main", {{"", "\"ignored\""}}, R"j("{root}/tmp \"y\"/")j"},
      {"temp_dir", "main", {{"*", ""}}, kDropped},
      {"write_file", "main", {{"*", R"({"content":"","filePath":"{root}/out/\u00fcn\u00ef \"c\u00f6d\u00e9\".txt","other":[1]})"}}, "true"},
      {"write_file", "main", {{"filePath", "\"{root}/files/long\""}, {"content", "\"a\\nb\""}}, "true"},
      {"write_file", "main", {{"filePath", "\"{root}/out/no/dir.txt\""}}, "null"},
      {"write_file", "main", {{"filePath", "\"{root}/out/cut\\u0000x\""}}, "null"},
      {"write_file", "main", {{"*", R"(["{root}/out/array","\u00fc"])"}}, "true"},
      {"write_file", "main", {{"content", "5"}}, kDropped},
      {"write_file", "main", {{"content", "-"}}, kDropped},
      {"write_file", "main", {{"*", R"(["/tmp/x"])"}}, kDropped},
      {"scan_workspace", "main", {{"repoPath", "\"{root}/ws\""}}, R"j(["{root}/ws"])j"},
      {"scan_workspace", "main", {{"repoPath", "\"{root}/ws\""}, {"workspacesEnabled", "true"}}, R"j(["{root}/ws","{root}/ws/inner"])j"},
      {"scan_workspace", "main", {{"repoPath", "\"{root}/ws/missing\""}, {"workspacesEnabled", "true"}}, "[]"},
      {"scan_workspace", "main", {{"repoPath", "\"{root}/ws/inner\""}}, R"j(["{root}/ws/inner"])j"},
      // Each directory once, under its shortest path and its real one before a link.
      {"scan_workspace", "main", {{"repoPath", "\"{root}/loops\""}, {"workspacesEnabled", "true"}}, R"j(["{root}/loops/far","{root}/loops/far/x/y/z/r"])j"},
      {"scan_workspace", "main", {{"repoPath", "\"{root}/loops/far\""}, {"workspacesEnabled", "true"}}, R"j(["{root}/loops/far","{root}/loops/far/x/y/z/r"])j"},
      {"scan_workspace", "main", {{"repoPath", "\"{root}/loops/a/b/deep\""}, {"workspacesEnabled", "true"}}, R"j(["{root}/loops/a/b/deep","{root}/loops/a/b/deep/x/y/z/r"])j"},
      {"scan_workspace", "main", {{"workspacesEnabled", "-"}}, kDropped},
      {"watch_repo", "main", {{"startChanged", "-"}}, kDropped},
      // Settings.
      {"set_data_store", "main", {{"data", R"({"k":"line\nbreak"})"}}, R"j({"success":true,"message":"Data store updated"})j"},
      {"set_data_store", "main", {{"data", R"({"k":1})"}}, kDropped},
      {"set_data_store", "main", {{"data", R"({"k":null})"}}, kDropped},
      {"set_data_store", "main", {{"*", R"({"data":{"k":"1"}} x)"}}, kDropped},
      {"get_data_store", "main", {}, R"j({"config":{"k":"line\nbreak"}})j"},
      // Actions that cannot start, and polls of no action.
      {"create_repo", "main", {{"repoPath", "\"{root}/files/ten/repo\""}}, "0"},
      {"clone_repo", "main", {{"repoPath", "\"{root}/files/ten/repo\""}, {"url", "\"/r\""}}, "0"},
      {"poll_action2", "main", {{"*", "[5]"}}, "null"},
      {"poll_action2", "main", {{"actionId", "4294967295"}}, "null"},
      {"poll_action2", "main", {{"actionId", "-1"}}, kDropped},
      {"poll_action2", "main", {{"actionId", "1.5"}}, kDropped},
      {"poll_action2", "main", {{"actionId", "4294967296"}}, kDropped},
  };
  add_odd_names(rows);
  add_dropped(rows);
  return rows;
}
// clang-format on

}  // namespace brackwen::test
