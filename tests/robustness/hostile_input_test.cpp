// Hostile requests to every endpoint of the server's table: malformed bodies, wrong types,
// huge and NUL-holding texts, paths that are missing or regular files, texts that look like
// git options. Each reply is the specified one or a dropped request (500, empty body), no git
// option smuggled in a text takes effect, and the server keeps answering.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iostream>

#include "api_types/json.hpp"
#include "robustness/reply_checks.hpp"
#include "robustness/request_shapes.hpp"
#include "server/endpoints.hpp"
#include "support/server_harness.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::EndpointShape;
using test::FieldKind;
using test::FieldShape;
using test::HttpReply;

constexpr size_t kHugeBytes = 4 << 20;
constexpr auto kActionsDeadline = std::chrono::seconds(60);

std::string quote(const std::string& text) {
  return to_json(text);
}

bool has_nul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

bool fits_path_limits(const fs::path& path) {
  if (path.native().size() >= PATH_MAX) return false;
  for (const auto& part : path) {
    if (part.native().size() > NAME_MAX) return false;
  }
  return true;
}

std::optional<struct stat> stat_of(const std::string& path) {
  struct stat st;
  if (has_nul(path) || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

// Whether open(O_CREAT | O_TRUNC | O_WRONLY) can succeed, judged without creating anything.
bool can_write_file(const std::string& text) {
  if (text.empty() || has_nul(text) || !fits_path_limits(text)) return false;
  fs::path path(text);
  fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::error_code ec;
  return fs::is_directory(parent, ec) && !fs::is_directory(path, ec);
}

// Whether every directory of the path exists or can be made.
bool can_make_directories(const std::string& text) {
  if (has_nul(text) || !fits_path_limits(text)) return false;
  fs::path prefix;
  for (const auto& part : fs::path(text)) {
    prefix /= part;
    std::error_code ec;
    auto status = fs::status(prefix, ec);
    if (fs::exists(status) && !fs::is_directory(status)) return false;
  }
  return true;
}

// A text the front end could send, and how it travels.
struct Hostile {
  std::string label;
  std::string text;  // decoded
  std::string json;  // as sent
  bool may_be_refused = false;
};

std::vector<Hostile> hostile_texts(const fs::path& base, const fs::path& marker) {
  auto plain = [](std::string label, std::string text) {
    std::string json = quote(text);
    return Hostile{std::move(label), std::move(text), std::move(json)};
  };
  return {
      plain("missing path", (base / "missing" / "deeper").string()),
      plain("regular file", (base / "file.txt").string()),
      plain("folder that is no repository", (base / "plain").string()),
      plain("empty text", ""),
      plain("--output option", "--output=" + (marker / "output").string()),
      plain("--upload-pack option", "--upload-pack=touch " + (marker / "upload").string()),
      plain("--help option", "--help"),
      plain("lone dash", "-"),
      plain("ext transport", "ext::sh -c touch% " + (marker / "ext").string()),
      plain("NUL inside", (base / "plain").string() + "\0/x"s),
      plain("control characters and quotes", (base / "ctl\n\"\t\\x").string()),
      plain("non-ASCII", (base / "\xC3\xA9\xF0\x9F\x98\x80").string()),
      plain("tilde", "~/x"),
      plain("4 MiB text", "/" + std::string(kHugeBytes, 'a')),
      {"lone surrogate escape", "", R"("\ud800")", true},
  };
}

const std::vector<std::string> kWrongTypes = {
    "1", "-1", "1.5", "true", "null", "\"s\"", "[]", "{}", "[1]", "[[1]]", R"({"a":1})",
};

bool accepts(FieldKind kind, const std::string& value) {
  switch (kind) {
    case FieldKind::Repo:
    case FieldKind::Path:
    case FieldKind::NewDir:
    case FieldKind::Text:
      return value == "\"s\"";
    case FieldKind::PathList:
    case FieldKind::Args:
    case FieldKind::Commands:
    case FieldKind::Filters:
      return value == "[]";
    case FieldKind::U32:
    case FieldKind::U64:
      return value == "1";
    case FieldKind::Bool:
      return value == "true";
    case FieldKind::OptCommit:
      return value == "null";
    case FieldKind::Data:
      return value == "{}";
    case FieldKind::Commit:
    case FieldKind::Patch:
    case FieldKind::WipPatch:
    case FieldKind::AcKind:
      return false;
  }
  return false;
}

bool carries_text(FieldKind kind) {
  switch (kind) {
    case FieldKind::U32:
    case FieldKind::U64:
    case FieldKind::Bool:
    case FieldKind::AcKind:
      return false;
    default:
      return true;
  }
}

struct Case {
  std::string label;
  std::string body;
  enum { Drop, Answer, DropOrAnswer } expect = Answer;
  std::string exact;   // the reply, when fixed
  std::string prefix;  // what the reply starts with, when fixed
  bool nonzero = false;
  bool action_must_fail = false;
};

struct Sweep {
  const EndpointShape& shape;
  fs::path base;
  fs::path marker;
  fs::path repo;
  std::string first_id;
  std::string head_id;
  fs::path home;
  int made_dirs = 0;

  std::string commit_json(const std::string& parent) const {
    return R"({"author":"Test User","email":"test@example.com",)"
           R"("date":{"ms":1700000000000,"adjustment":0},"id":")" +
           head_id + R"(","index":0,"parentIds":[)" + parent +
           R"(],"isMerge":false,"message":"second","stashId":null,"refs":[],)"
           R"("filtered":false,"numSkipped":0})";
  }

  static std::string patch_json(const std::string& file, const std::string& commit) {
    return R"({"commitId":)" + commit + R"(,"oldFile":)" + file + R"(,"newFile":)" + file +
           R"(,"patchType":"M","id":"a.txtM","isImage":false})";
  }

  static std::string wip_patch_json(const std::string& file) {
    return R"({"oldFile":)" + file + R"(,"newFile":)" + file +
           R"(,"patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,)"
           R"("id":"a.txtM","isImage":false})";
  }

  std::string default_text(const FieldShape& field) {
    const std::string& key = field.key;
    if (field.kind == FieldKind::Repo || field.kind == FieldKind::PathList) return repo.string();
    if (field.kind == FieldKind::NewDir) {
      return (base / "made" / std::to_string(made_dirs++)).string();
    }
    if (key == "branchName") return "main";
    if (key == "commitId" || key == "commitId1" || key == "ancestorCandidateId") return first_id;
    if (key == "commitId2" || key == "headCommitId") return head_id;
    if (key == "searchText") return "one";
    if (key == "url") return (base / "no-remote").string();
    if (key == "currentWord") return "se";
    if (key == "originalImagePath") return "a.txt";
    if (key == "tempImagePath") return (base / "image.out").string();
    if (key == "filePath") return (base / "written.txt").string();
    if (key == "rootRepo") return base.string();
    if (shape.path == "override_git_home") return home.string();
    if (field.kind == FieldKind::Path) return repo.string();
    return "text";
  }

  // The JSON value of `field`, built around `text` (a JSON string literal) when given.
  std::string value(const FieldShape& field, const std::optional<std::string>& text) {
    std::string t = text ? *text : quote(default_text(field));
    switch (field.kind) {
      case FieldKind::Repo:
      case FieldKind::Path:
      case FieldKind::NewDir:
      case FieldKind::Text:
        return t;
      case FieldKind::PathList:
        return "[" + t + "]";
      case FieldKind::Args:
        return text ? "[" + t + "]" : R"(["status"])";
      case FieldKind::Commands:
        return text ? "[[" + t + "]]" : R"([["status"]])";
      case FieldKind::U32:
      case FieldKind::U64:
        return "7";
      case FieldKind::Bool:
        return "false";
      case FieldKind::Commit:
      case FieldKind::OptCommit:
        return commit_json(text ? t : quote(first_id));
      case FieldKind::Patch:
        return text ? patch_json(t, t) : patch_json("\"a.txt\"", quote(head_id));
      case FieldKind::WipPatch:
        return wip_patch_json(text ? t : "\"a.txt\"");
      case FieldKind::Filters:
        if (!text) return "[]";
        return R"([{"branch":{"id":)" + t + R"(,"short_name":)" + t + R"(}},{"user":{"author":)" +
               t + R"(,"email":)" + t + R"(}},{"commit":{"commit_id":)" + t +
               R"(}},{"file":{"file_name":)" + t + "}}]";
      case FieldKind::AcKind:
        return "\"commitMessage\"";
      case FieldKind::Data:
        return text ? "{" + t + ":" + t + "}" : R"({"k":"v"})";
    }
    return "null";
  }

  std::vector<std::string> defaults() {
    std::vector<std::string> values;
    for (const auto& field : shape.fields) values.push_back(value(field, std::nullopt));
    return values;
  }

  // The object form of `values` (an empty value leaves its field out) followed by the `extra`
  // members; the value alone for a bare string body.
  std::string object(const std::vector<std::string>& values, std::string extra = "") const {
    if (shape.bare_string) return values[0];
    std::string out = "{";
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i].empty()) continue;
      if (out.size() > 1) out += ",";
      out += quote(shape.fields[i].key) + ":" + values[i];
    }
    if (!extra.empty()) out += (out.size() > 1 ? "," : "") + extra;
    return out + "}";
  }

  static std::string array(const std::vector<std::string>& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + values[i];
    return out + "]";
  }

  Case answer(std::string label, std::string body) const {
    Case c;
    c.label = std::move(label);
    c.body = std::move(body);
    c.exact = shape.always;
    return c;
  }

  static Case drop(std::string label, std::string body) {
    Case c;
    c.label = std::move(label);
    c.body = std::move(body);
    c.expect = Case::Drop;
    return c;
  }

  // Malformed for every endpoint, whatever it reads.
  std::vector<Case> malformed() const {
    std::vector<std::string> bodies = {
        "",
        " \t\r\n",
        "null",
        " null ",
        "{}",
        "[]",
        "{",
        "[",
        "}",
        "]",
        "\"",
        "\"abc",
        "nul",
        "tru",
        "NaN",
        "Infinity",
        "-",
        "1",
        "-1",
        "1e999999",
        "true",
        "0x10",
        "'s'",
        "{'repoPath':'x'}",
        R"({"repoPath"})",
        R"({"repoPath":})",
        "{,}",
        "[,]",
        R"("x",)",
        R"(["x",])",
        "/**/\"x\"",
        "\"a\" \"b\"",
        "{} {}",
        "\xEF\xBB\xBF\"x\"",
        "\"\xFF\xFE\"",
        "\"\xC0\xAF\"",
        "\"\xED\xA0\x80\"",
        "\"a\0b\""s,
        "\"a\nb\"",
        R"("\x41")",
        R"("\u12")",
        R"("\uZZZZ")",
        std::string(100000, '['),
        [] {
          std::string s;
          for (int i = 0; i < 100000; ++i) s += "{\"a\":";
          return s;
        }(),
        std::string(100000, '[') + std::string(100000, ']'),
        "\"" + std::string(kHugeBytes, 'a'),
        std::string(kHugeBytes, '1'),
        std::string(kHugeBytes, ' '),
    };
    std::vector<Case> cases;
    for (auto& body : bodies) cases.push_back(drop("malformed", std::move(body)));
    return cases;
  }

  std::vector<Case> record_cases() {
    std::vector<Case> cases;
    auto values = defaults();
    cases.push_back(answer("defaults", object(values)));
    if (shape.bare_string) {
      for (const auto& wrong : kWrongTypes) {
        if (!accepts(shape.fields[0].kind, wrong)) cases.push_back(drop("wrong type", wrong));
      }
      return cases;
    }
    cases.push_back(answer("array form", array(values)));
    cases.push_back(answer("surrounded by whitespace", " \n\t" + object(values) + "\r\n "));
    cases.push_back(answer("unknown key, 1 MiB of whitespace",
                           object(values, R"("zz":1)") + std::string(1 << 20, ' ')));
    cases.push_back(answer("unknown key, 6 MiB text",
                           object(values, R"("zz":")" + std::string(6 << 20, 'z') + "\"")));
    cases.push_back(
        answer("unknown key, nested 100 deep",
               object(values, R"("zz":)" + std::string(100, '[') + std::string(100, ']'))));
    Case deep =
        answer("unknown key, nested 100000 deep",
               object(values, R"("zz":)" + std::string(100000, '[') + std::string(100000, ']')));
    deep.expect = Case::DropOrAnswer;
    cases.push_back(deep);
    cases.push_back(drop("trailing text", object(values) + "x"));
    cases.push_back(drop("two values", object(values) + object(values)));
    if (values.size() > 1) {
      auto fewer = values;
      fewer.pop_back();
      cases.push_back(drop("array one short", array(fewer)));
    }
    auto more = values;
    more.push_back("1");
    cases.push_back(drop("array one long", array(more)));

    for (size_t i = 0; i < shape.fields.size(); ++i) {
      const FieldShape& field = shape.fields[i];
      auto with = [&](std::string value) {
        auto v = values;
        v[i] = std::move(value);
        return object(v);
      };
      std::string name = field.key + ": ";
      if (field.kind == FieldKind::OptCommit) {
        cases.push_back(answer(name + "absent", with("")));
      } else {
        cases.push_back(drop(name + "missing", with("")));
      }
      cases.push_back(
          drop(name + "given twice", object(values, quote(field.key) + ":" + values[i])));
      for (const auto& wrong : kWrongTypes) {
        if (!accepts(field.kind, wrong))
          cases.push_back(drop(name + "wrong type " + wrong, with(wrong)));
      }
      if (carries_text(field.kind)) {
        cases.push_back(drop(name + "invalid UTF-8", with(value(field, "\"\xFF\""))));
        cases.push_back(drop(name + "raw control character", with(value(field, "\"a\x01\""))));
      }
      number_cases(field, with, cases);
    }
    return cases;
  }

  template <class With>
  void number_cases(const FieldShape& field, With& with, std::vector<Case>& cases) const {
    std::string name = field.key + ": ";
    std::vector<std::string> bad = {
        "-1", "1.0", "1e2", "-0.5", "01", "+1", ".5", "0x1", "99999999999999999999999999"};
    if (field.kind == FieldKind::U32) {
      bad.push_back("4294967296");
      for (const auto& ok : {"0", "4294967295"}) cases.push_back(answer(name + ok, with(ok)));
    } else if (field.kind == FieldKind::U64) {
      bad.push_back("18446744073709551616");
      for (const auto& ok : {"0", "18446744073709551615"}) {
        cases.push_back(answer(name + ok, with(ok)));
      }
    } else if (field.kind == FieldKind::Bool) {
      cases.push_back(answer(name + "true", with("true")));
      return;
    } else if (field.kind == FieldKind::AcKind) {
      cases.push_back(answer(name + "createBranch", with("\"createBranch\"")));
      cases.push_back(drop(name + "unknown kind", with("\"commitmessage\"")));
      return;
    } else {
      return;
    }
    for (const auto& b : bad) cases.push_back(drop(name + b, with(b)));
  }

  std::vector<Case> hostile_cases() {
    std::vector<Case> cases;
    auto texts = hostile_texts(base, marker);
    for (size_t i = 0; i < shape.fields.size(); ++i) {
      const FieldShape& field = shape.fields[i];
      if (!carries_text(field.kind)) continue;
      for (const auto& h : texts) {
        auto values = defaults();
        values[i] = value(field, h.json);
        Case c = answer(field.key + ": " + h.label, object(values));
        if (h.may_be_refused) {
          c.expect = Case::DropOrAnswer;
          c.exact.clear();
        } else if (c.exact.empty()) {
          expect_for_text(field, h, c);
        }
        cases.push_back(std::move(c));
      }
    }
    return cases;
  }

  // What the endpoint's description fixes for a hostile text in `field`.
  void expect_for_text(const FieldShape& field, const Hostile& h, Case& c) const {
    const std::string& p = shape.path;
    const std::string& key = field.key;
    switch (field.kind) {
      case FieldKind::Repo:
        c.exact = shape.unusable_repo;
        if (p == "get_data_store") c.prefix = R"({"error":"Failed to open config file: )";
        c.action_must_fail = shape.starts_action;
        c.nonzero = shape.starts_action;
        return;
      case FieldKind::NewDir:
        if (h.text.empty()) return;
        if (!can_make_directories(h.text)) {
          c.exact = "0";
        } else {
          c.nonzero = true;
          c.action_must_fail = p == "clone_repo";
        }
        return;
      case FieldKind::Path:
        if (p == "path_exists") c.exact = stat_of(h.text) ? "true" : "false";
        if (p == "file_size") {
          auto st = stat_of(h.text);
          c.exact = st ? std::to_string(st->st_size) : "null";
        }
        if (p == "write_file") c.exact = can_write_file(h.text) ? "true" : "null";
        if (p == "load_commit_image") c.exact = can_write_file(h.text) ? "true" : "false";
        if (p == "scan_workspace") c.exact = "[]";
        return;
      default:
        break;
    }
    if (p == "temp_dir") {
      const char* tmpdir = std::getenv("TMPDIR");
      c.exact = quote(tmpdir ? tmpdir : "/tmp");
    }
    if (p == "write_file" && key == "content") c.exact = "true";
    if (p == "set_data_store") c.exact = R"({"success":true,"message":"Data store updated"})";
    // A starter may refuse a text that git would take as an option (reply 0).
    if (p == "command" || p == "commands") c.nonzero = true;
    if (h.text.empty()) return;
    // Texts that name no commit, ref or file of the repository.
    if (p == "load_top_commit_for_branch" || p == "commit_ids_between_commits" ||
        p == "load_patches_for_commit" || p == "load_hunks") {
      c.exact = "null";
    }
    if (p == "commit_is_ancestor" || p == "commit_is_on_branch" || p == "load_commit_image") {
      c.exact = "false";
    }
    if (p == "auto_complete" && key == "currentWord") c.exact = "[]";
  }
};

struct WorkingDirectory {
  explicit WorkingDirectory(const fs::path& to) : before(fs::current_path()) {
    fs::current_path(to);
  }
  ~WorkingDirectory() {
    std::error_code ec;
    fs::current_path(before, ec);
  }
  fs::path before;
};

std::string describe(const Case& c) {
  std::string body = c.body.size() > 300 ? c.body.substr(0, 300) + "..." : c.body;
  return c.label + " | body: " + body;
}

// Empty when the reply is what the case allows.
std::string judge(const Case& c, const EndpointShape& shape, const HttpReply& reply) {
  if (reply.status == 0) return "no reply";
  bool dropped = reply.status == 500 && reply.body.empty();
  if (c.expect == Case::Drop) return dropped ? "" : "not dropped: " + std::to_string(reply.status);
  if (c.expect == Case::DropOrAnswer && dropped) return "";
  if (reply.status != 200) return "status " + std::to_string(reply.status);
  std::string error = test::reply_shape_error(reply.body, shape.replies, shape.first_key);
  if (!error.empty()) return error;
  if (c.expect == Case::DropOrAnswer) return "";
  if (!c.exact.empty() && reply.body != c.exact) return "expected " + c.exact;
  if (!c.prefix.empty() && !reply.body.starts_with(c.prefix)) return "expected " + c.prefix + "...";
  if (c.nonzero && reply.body == "0") return "expected an action id";
  return "";
}

std::vector<std::string> table_paths() {
  std::vector<std::string> paths;
  for (const auto& endpoint : endpoint_table()) paths.emplace_back(endpoint.path);
  return paths;
}

TEST(HostileSweepTable, EveryEndpointIsDescribed) {
  for (const auto& path : table_paths()) EXPECT_NE(test::find_shape(path), nullptr) << path;
}

class HostileSweep : public testing::TestWithParam<std::string> {};

TEST_P(HostileSweep, RepliesAsSpecifiedOrDrops) {
  const EndpointShape* shape = test::find_shape(GetParam());
  ASSERT_NE(shape, nullptr) << "no request description for " << GetParam();
  test::TempDir base;
  test::TempRepo repo;
  std::string first = repo.commit_file("a.txt", "one\ntwo\n", "first", 1700000000);
  std::string head = repo.commit_file("a.txt", "one\n2\nthree\n", "second", 1700000100);
  repo.write("a.txt", "changed\n");
  fs::create_directories(base.path / "plain");
  fs::create_directories(base.path / "marker");
  std::ofstream(base.path / "file.txt") << "x";
  WorkingDirectory cwd(base.path);
  test::ServerProcess server;
  Sweep sweep{*shape, base.path, base.path / "marker", repo.path, first, head, server.home};

  auto client = server.client();
  client->set_read_timeout(std::chrono::seconds(30));
  client->set_write_timeout(std::chrono::seconds(30));
  std::string load = R"({"repoPath":)" + quote(repo.str()) +
                     R"(,"numCommits":100,"filters":[],"fast":false,"skipStashes":false})";
  ASSERT_EQ(test::post_with(*client, "/f/load_commits_and_refs", load).status, 200);

  std::vector<Case> cases = sweep.malformed();
  for (auto& c : sweep.record_cases()) cases.push_back(std::move(c));
  for (auto& c : sweep.hostile_cases()) cases.push_back(std::move(c));

  struct Started {
    uint32_t id;
    const Case* from;
  };
  std::vector<Started> actions;
  const std::string target = "/f/" + shape->path;
  for (const Case& c : cases) {
    HttpReply reply = test::post_with(*client, target, c.body);
    std::string error = judge(c, *shape, reply);
    EXPECT_EQ(error, "") << describe(c) << "\nreply " << reply.status << ": "
                         << reply.body.substr(0, 300);
    if (shape->starts_action && reply.status == 200 && reply.body != "0") {
      actions.push_back({static_cast<uint32_t>(std::stoul(reply.body)), &c});
    }
  }

  auto deadline = std::chrono::steady_clock::now() + kActionsDeadline;
  for (const auto& started : actions) {
    test::ActionEnd end = test::follow_action(*client, started.id, deadline);
    EXPECT_TRUE(end.done) << "action never ended: " << describe(*started.from);
    if (started.from->action_must_fail) {
      EXPECT_TRUE(end.failed) << "action reported success: " << describe(*started.from);
    }
  }

  EXPECT_EQ(test::post_with(*client, "/pi", "").body, "brackwen");
  for (const auto& entry : fs::directory_iterator(base.path / "marker")) {
    ADD_FAILURE() << "a text was taken as a git option: " << entry.path();
  }
  std::string diagnostics = server.stderr_text();
  // An escaped exception, or what a sanitizer build reports without stopping.
  for (const char* sign : {"Request /f/", "runtime error", "Sanitizer"}) {
    EXPECT_EQ(diagnostics.find(sign), std::string::npos) << diagnostics.substr(0, 2000);
  }
  std::cout << "[ sweep    ] " << shape->path << ": " << cases.size() << " cases, "
            << actions.size() << " actions followed\n";
  RecordProperty("cases", static_cast<int>(cases.size()));
}

// The status line the server sends back for `bytes`, without waiting for it to close the
// connection (a rejected request may keep it open until the keep-alive timeout).
std::string status_line(const test::ServerProcess& server, const std::string& bytes) {
  int fd = server.open_connection(bytes);
  if (fd < 0) return "cannot connect";
  std::string got;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (got.find("\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return got.substr(0, got.find("\r\n"));
}

// Broken HTTP around the bodies: each is refused with an error status, and requests whose
// body never arrives are simply left behind; the server keeps serving.
TEST(HostileFraming, RefusedAndServerKeepsServing) {
  test::ServerProcess server;
  std::string host = "Host: 127.0.0.1:" + std::to_string(server.port) + "\r\n";
  std::string post = "POST /f/git_version HTTP/1.1\r\n" + host;
  std::string body = R"({"repoPath":""})";
  std::vector<std::string> refused = {
      post + "Content-Length: -5\r\n\r\n" + body,
      post + "Content-Length: abc\r\n\r\n" + body,
      post + "Content-Length: 99999999999999999999999\r\n\r\n" + body,
      post + "Content-Length: 3\r\nContent-Length: 9\r\n\r\n" + body,
      post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n" + body + "\r\n",
      post + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFF\r\nx",
      post + "X-Long: " + std::string(100000, 'a') + "\r\n\r\n",
      [&] {
        std::string many = post;
        for (int i = 0; i < 5000; ++i) many += "X-" + std::to_string(i) + ": v\r\n";
        return many + "\r\n";
      }(),
      "GARBAGE\r\n\r\n",
      "GET /pi\r\n\r\n",
      "POST /f/git\0version HTTP/1.1\r\n"s + host + "\r\n",
      "POST http://127.0.0.1/f/git_version HTTP/1.1\r\n" + host + "Content-Length: 15\r\n\r\n" +
          body,
      std::string(70000, 'G') + " /pi HTTP/1.1\r\n\r\n",
  };
  // Some are refused only after the library's read timeout (5 s): ask all at once.
  std::vector<std::future<std::string>> statuses;
  for (const auto& bytes : refused) {
    statuses.push_back(std::async(std::launch::async, [&] { return status_line(server, bytes); }));
  }
  for (size_t i = 0; i < refused.size(); ++i) {
    std::string status = statuses[i].get();
    EXPECT_TRUE(status.starts_with("HTTP/1.1 4") || status.starts_with("HTTP/1.1 5"))
        << status << " for " << refused[i].substr(0, 80);
  }
  for (const auto& bytes : {
           post + "Content-Length: 100\r\n\r\n" + body,
           post + "Expect: 100-continue\r\nContent-Length: 15\r\n\r\n",
           post + "Transfer-Encoding: chunked\r\n\r\n5\r\nab",
           std::string("POST /f/git_version HTTP/1.1\r\nHo"),
       }) {
    server.send_and_leave(bytes);
  }
  EXPECT_EQ(server.post("/pi", "").body, "brackwen");
  EXPECT_EQ(server.post("/f/git_version", body).status, 200);
  EXPECT_EQ(::waitpid(server.pid, nullptr, WNOHANG), 0) << "the server ended";
}

INSTANTIATE_TEST_SUITE_P(Endpoints, HostileSweep, testing::ValuesIn(table_paths()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

}  // namespace
}  // namespace brackwen
