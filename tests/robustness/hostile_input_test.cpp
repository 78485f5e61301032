// Hostile requests to every endpoint of the server's table: malformed bodies, wrong types,
// huge texts, texts with a NUL after a real name (a reader that stops there would act on that
// name), missing paths, texts that look like git options in every slot, commit ids included.
// Each reply is the documented one or a dropped request (500, empty body), no git option
// smuggled in a text takes effect, and the server keeps answering.
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
#include <map>

#include "robustness/reply_checks.hpp"
#include "server/endpoints.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::EndpointShape;
using test::FieldKind;
using test::FieldShape;

constexpr size_t kHuge = 4 << 20;

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
  std::error_code ec;
  return fs::is_directory(path.has_parent_path() ? path.parent_path() : ".", ec) &&
         !fs::is_directory(path, ec);
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

// A text the front end could send: `text` as it is, or after the slot's usual text.
struct Hostile {
  std::string label;
  std::string text;
  bool appended = false;
  std::string json = {};  // when not the quoted text
};

std::vector<Hostile> hostile_texts(const fs::path& base, const fs::path& marker) {
  return {
      {"missing path", (base / "missing" / "deeper").string()},
      {"regular file", (base / "file.txt").string()},
      {"folder that is no repository", (base / "plain").string()},
      {"empty text", ""},
      {"--output option", "--output=" + (marker / "output").string()},
      {"--upload-pack option", "--upload-pack=touch " + (marker / "upload").string()},
      {"--help option", "--help"},
      {"lone dash", "-"},
      {"ext transport", "ext::sh -c touch% " + (marker / "ext").string()},
      {"NUL after the usual text", "\0/x"s, true},
      {"NUL before an option", "\0--output="s + (marker / "cut").string(), true},
      {"control characters and quotes", (base / "ctl\n\"\t\\x").string()},
      {"non-ASCII", (base / "\xC3\xA9\xF0\x9F\x98\x80").string()},
      {"tilde", "~/x"},
      {"4 MiB text", "/" + std::string(kHuge, 'a')},
      {"lone surrogate escape", "", false, R"("\ud800")"},
  };
}

const std::vector<std::string> kWrongTypes = {
    "1", "-1", "1.5", "true", "null", "\"s\"", "[]", "{}", "[1]", "[[1]]", R"({"a":1})",
};

// The one wrong-type value each kind takes after all.
std::string accepted(FieldKind kind) {
  using K = FieldKind;
  const std::map<K, std::string> taken = {
      {K::Repo, "\"s\""},  {K::Path, "\"s\""}, {K::NewDir, "\"s\""}, {K::Text, "\"s\""},
      {K::PathList, "[]"}, {K::Args, "[]"},    {K::Commands, "[]"},  {K::Filters, "[]"},
      {K::U32, "1"},       {K::U64, "1"},      {K::Bool, "true"},    {K::OptCommit, "null"},
      {K::Data, "{}"}};
  return taken.contains(kind) ? taken.at(kind) : "";
}

bool carries_text(FieldKind kind) {
  return kind != FieldKind::U32 && kind != FieldKind::U64 && kind != FieldKind::Bool &&
         kind != FieldKind::AcKind;
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

Case drop(std::string label, std::string body) {
  return {std::move(label), std::move(body), Case::Drop, "", "", false, false};
}

// Malformed for every endpoint, whatever it reads (the reader's own tests and fuzzing try
// many more).
std::vector<Case> malformed() {
  std::vector<std::string> bodies = {"",
                                     "null",
                                     "{}",
                                     "[]",
                                     "{",
                                     "\"abc",
                                     "nul",
                                     "1e999999",
                                     "{'repoPath':'x'}",
                                     R"({"repoPath":})",
                                     "{,}",
                                     "{} {}",
                                     "\xEF\xBB\xBF\"x\"",
                                     "\"\xC0\xAF\"",
                                     "\"a\0b\""s,
                                     std::string(100000, '['),
                                     "\"" + std::string(kHuge, 'a'),
                                     std::string(kHuge, ' ')};
  std::vector<Case> cases;
  for (auto& body : bodies) cases.push_back(drop("malformed", std::move(body)));
  return cases;
}

struct Sweep {
  const EndpointShape& shape;
  test::Bodies bodies;
  fs::path marker;

  Case answer(std::string label, std::string body) const {
    return {std::move(label), std::move(body), Case::Answer, shape.always, "", false, false};
  }

  std::string array(const std::vector<std::string>& values) const {
    std::string out;
    for (const auto& v : values) out += (out.empty() ? "" : ",") + v;
    return "[" + out + "]";
  }

  std::vector<Case> record_cases() {
    auto values = bodies.defaults(shape);
    auto object = [&](const std::vector<std::string>& v, const std::string& extra = "") {
      return test::Bodies::object(shape, v, extra);
    };
    std::vector<Case> cases = {answer("defaults", object(values))};
    if (shape.bare_string) {
      for (const auto& wrong : kWrongTypes) {
        if (wrong != accepted(shape.fields[0].kind)) cases.push_back(drop("wrong type", wrong));
      }
      return cases;
    }
    std::string deep = std::string(100000, '[') + std::string(100000, ']');
    cases.push_back(answer("array form", array(values)));
    cases.push_back(answer("surrounded by whitespace", " \n\t" + object(values) + "\r\n "));
    cases.push_back(answer("unknown key, 1 MiB of whitespace",
                           object(values, R"("zz":1)") + std::string(1 << 20, ' ')));
    cases.push_back(answer("unknown key, 6 MiB text",
                           object(values, R"("zz":")" + std::string(6 << 20, 'z') + "\"")));
    cases.push_back(answer("unknown key, nested", object(values, R"("zz":[[[[]]]])")));
    Case nested = answer("unknown key, nested 100000 deep", object(values, R"("zz":)" + deep));
    nested.expect = Case::DropOrAnswer;
    cases.push_back(nested);
    cases.push_back(drop("trailing text", object(values) + "x"));
    cases.push_back(drop("two values", object(values) + object(values)));
    auto more = values;
    more.push_back("1");
    cases.push_back(drop("array one long", array(more)));
    if (values.size() > 1) cases.push_back(drop("array one short", array({values[0]})));
    for (size_t i = 0; i < shape.fields.size(); ++i) field_cases(values, i, cases);
    return cases;
  }

  void field_cases(const std::vector<std::string>& values, size_t i, std::vector<Case>& cases) {
    const FieldShape& field = shape.fields[i];
    auto with = [&](std::string value) {
      auto v = values;
      v[i] = std::move(value);
      return test::Bodies::object(shape, v);
    };
    std::string name = field.key + ": ";
    if (field.kind == FieldKind::OptCommit) {
      cases.push_back(answer(name + "absent", with("")));
    } else {
      cases.push_back(drop(name + "missing", with("")));
    }
    cases.push_back(
        drop(name + "given twice",
             test::Bodies::object(shape, values, test::quoted(field.key) + ":" + values[i])));
    for (const auto& wrong : kWrongTypes) {
      if (wrong != accepted(field.kind)) cases.push_back(drop(name + "type " + wrong, with(wrong)));
    }
    if (carries_text(field.kind)) {
      for (std::string bad : {"\"\xFF\"", "\"a\x01\""}) {
        auto raw = [&](const std::string&) { return bad; };
        cases.push_back(
            drop(name + "bad text " + bad, with(bodies.values(shape, field, raw)[0].second)));
      }
    }
    std::vector<std::string> good,
        bad = {"-1", "1.0", "1e2", "01", "+1", ".5", "0x1", "99999999999999999999999999"};
    if (field.kind == FieldKind::U32) {
      bad.push_back("4294967296");
      good = {"0", "4294967295"};
    } else if (field.kind == FieldKind::U64) {
      bad.push_back("18446744073709551616");
      good = {"0", "18446744073709551615"};
    } else if (field.kind == FieldKind::Bool) {
      good = {"true"};
      bad = {};
    } else if (field.kind == FieldKind::AcKind) {
      good = {"\"createBranch\""};
      bad = {"\"commitmessage\""};
    } else {
      return;
    }
    for (const auto& g : good) cases.push_back(answer(name + g, with(g)));
    for (const auto& b : bad) cases.push_back(drop(name + b, with(b)));
  }

  std::vector<Case> hostile_cases() {
    std::vector<Case> cases;
    for (const Hostile& h : hostile_texts(bodies.base, marker)) {
      for (size_t i = 0; i < shape.fields.size(); ++i) {
        const FieldShape& field = shape.fields[i];
        if (!carries_text(field.kind)) continue;
        std::string full;
        auto text = [&](const std::string& usual) {
          full = h.appended ? usual + h.text : h.text;
          return h.json.empty() ? test::quoted(full) : h.json;
        };
        for (auto& [slot, value] : bodies.values(shape, field, text)) {
          auto values = bodies.defaults(shape);
          values[i] = value;
          Case c = answer(field.key + ": " + slot + h.label, test::Bodies::object(shape, values));
          if (!h.json.empty()) {
            c.expect = Case::DropOrAnswer;
          } else if (c.exact.empty()) {
            expect_for_text(field, full, c);
          }
          cases.push_back(std::move(c));
        }
      }
    }
    return cases;
  }

  // What the endpoint's description fixes for a hostile `text` in `field`.
  void expect_for_text(const FieldShape& field, const std::string& text, Case& c) const {
    const std::string& p = shape.path;
    if (field.kind == FieldKind::Repo) {
      c.exact = shape.unusable_repo;
      if (p == "get_data_store") c.prefix = R"({"error":"Failed to open config file: )";
      c.action_must_fail = c.nonzero = shape.starts_action;
      return;
    }
    if (field.kind == FieldKind::NewDir) {
      if (text.empty()) return;
      c.exact = can_make_directories(text) ? "" : "0";
      c.nonzero = c.exact.empty();
      c.action_must_fail = c.nonzero && p == "clone_repo";
      return;
    }
    if (field.kind == FieldKind::Path) {
      auto st = stat_of(text);
      bool writable = can_write_file(text);
      if (p == "path_exists") c.exact = st ? "true" : "false";
      if (p == "file_size") c.exact = st ? std::to_string(st->st_size) : "null";
      if (p == "write_file") c.exact = writable ? "true" : "null";
      if (p == "load_commit_image") c.exact = writable ? "true" : "false";
      if (p == "scan_workspace") c.exact = "[]";
      return;
    }
    if (p == "temp_dir")
      c.exact = test::quoted(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    if (p == "write_file") c.exact = "true";
    if (p == "set_data_store") c.exact = R"({"success":true,"message":"Data store updated"})";
    // A starter may refuse a text that git would take as an option (reply 0).
    c.nonzero = p == "command" || p == "commands";
    if (text.empty()) return;
    // Texts that name no commit, ref or file of the repository.
    for (const char* none : {"load_top_commit_for_branch", "commit_ids_between_commits",
                             "load_patches_for_commit", "load_hunks"}) {
      if (p == none) c.exact = "null";
    }
    if (p == "commit_is_ancestor" || p == "commit_is_on_branch" || p == "load_commit_image") {
      c.exact = "false";
    }
    if (p == "auto_complete" && field.key == "currentWord") c.exact = "[]";
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
  return c.label + " | body: " + (c.body.size() > 300 ? c.body.substr(0, 300) + "..." : c.body);
}

// Empty when the reply is what the case allows.
std::string judge(const Case& c, const EndpointShape& shape, const test::HttpReply& reply) {
  if (reply.status == 0) return "no reply";
  bool dropped = reply.status == 500 && reply.body.empty();
  if (c.expect == Case::Drop) return dropped ? "" : "not dropped: " + std::to_string(reply.status);
  if (c.expect == Case::DropOrAnswer && dropped) return "";
  if (reply.status != 200) return "status " + std::to_string(reply.status);
  std::string error = test::reply_shape_error(reply.body, shape);
  if (!error.empty() || c.expect == Case::DropOrAnswer) return error;
  if (!c.exact.empty() && reply.body != c.exact) return "expected " + c.exact;
  if (!c.prefix.empty() && !reply.body.starts_with(c.prefix)) return "expected " + c.prefix;
  if (c.nonzero && reply.body == "0") return "expected an action id";
  return "";
}

std::vector<std::string> table_paths() {
  std::vector<std::string> paths;
  for (const auto& endpoint : endpoint_table()) paths.emplace_back(endpoint.path);
  return paths;
}

class HostileSweep : public testing::TestWithParam<std::string> {};

TEST_P(HostileSweep, RepliesAsDocumentedOrDrops) {
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
  Sweep sweep{*shape, {base.path, repo.path, server.home, first, head}, base.path / "marker"};
  auto client = server.client();
  client->set_read_timeout(std::chrono::seconds(30));
  client->set_write_timeout(std::chrono::seconds(30));
  std::string load = test::body({{"repoPath", test::quoted(repo.str())},
                                 {"numCommits", "100"},
                                 {"filters", "[]"},
                                 {"fast", "false"},
                                 {"skipStashes", "false"}});
  ASSERT_EQ(test::post_with(*client, "/f/load_commits_and_refs", load).status, 200);

  std::vector<Case> cases = malformed();
  for (auto& c : sweep.record_cases()) cases.push_back(std::move(c));
  for (auto& c : sweep.hostile_cases()) cases.push_back(std::move(c));
  std::vector<std::pair<uint32_t, const Case*>> actions;
  for (const Case& c : cases) {
    test::HttpReply reply = test::post_with(*client, "/f/" + shape->path, c.body);
    EXPECT_EQ(judge(c, *shape, reply), "")
        << describe(c) << "\nreply " << reply.status << ": " << reply.body.substr(0, 300);
    if (shape->starts_action && reply.status == 200 && reply.body != "0") {
      actions.emplace_back(static_cast<uint32_t>(std::stoul(reply.body)), &c);
    }
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (const auto& [id, from] : actions) {
    test::ActionEnd end = test::follow_action(*client, id, deadline);
    EXPECT_TRUE(end.done) << "action never ended: " << describe(*from);
    EXPECT_TRUE(end.failed || !from->action_must_fail) << "succeeded: " << describe(*from);
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
}

INSTANTIATE_TEST_SUITE_P(Endpoints, HostileSweep, testing::ValuesIn(table_paths()),
                         [](const auto& info) { return info.param; });

// The status line the server sends back for `bytes`, without waiting for it to close the
// connection (a rejected request may keep it open until the keep-alive timeout).
std::string status_line(const test::ServerProcess& server, const std::string& bytes) {
  int fd = server.open_connection(bytes);
  std::string got;
  test::eventually([&] {
    pollfd p{fd, POLLIN, 0};
    char buffer[4096];
    ssize_t n = ::poll(&p, 1, 100) > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
    return n < 0 || fd < 0 || got.find("\r\n") != std::string::npos;
  });
  if (fd >= 0) ::close(fd);
  return got.substr(0, got.find("\r\n"));
}

// Broken HTTP around the bodies: each is refused with an error status, and requests whose
// body never arrives are left behind; the server keeps serving.
TEST(HostileFraming, RefusedAndServerKeepsServing) {
  test::ServerProcess server;
  std::string host = "Host: 127.0.0.1:" + std::to_string(server.port) + "\r\n";
  std::string post = "POST /f/git_version HTTP/1.1\r\n" + host;
  std::string body = R"({"repoPath":""})";
  std::string many = post;
  for (int i = 0; i < 5000; ++i) many += "X-" + std::to_string(i) + ": v\r\n";
  std::vector<std::string> refused = {
      post + "Content-Length: -5\r\n\r\n" + body,
      post + "Content-Length: abc\r\n\r\n" + body,
      post + "Content-Length: 99999999999999999999999\r\n\r\n" + body,
      post + "Content-Length: 3\r\nContent-Length: 9\r\n\r\n" + body,
      post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n" + body + "\r\n",
      post + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFF\r\nx",
      post + "X-Long: " + std::string(100000, 'a') + "\r\n\r\n",
      many + "\r\n",
      "GARBAGE\r\n\r\n",
      "GET /pi\r\n\r\n",
      "POST /f/git\0version HTTP/1.1\r\n"s + host + "\r\n",
      "POST http://127.0.0.1/f/git_version HTTP/1.1\r\n" + host + "Content-Length: 15\r\n\r\n" +
          body,
      std::string(70000, 'G') + " /pi HTTP/1.1\r\n\r\n",
  };
  // Some are refused only once the request deadline passes: ask all at once.
  std::vector<std::future<std::string>> statuses;
  for (const auto& bytes : refused) {
    statuses.push_back(std::async(std::launch::async, [&] { return status_line(server, bytes); }));
  }
  for (size_t i = 0; i < refused.size(); ++i) {
    std::string status = statuses[i].get();
    EXPECT_TRUE(status.starts_with("HTTP/1.1 4") || status.starts_with("HTTP/1.1 5"))
        << status << " for " << refused[i].substr(0, 80);
  }
  for (const auto& bytes : {post + "Content-Length: 100\r\n\r\n" + body,
                            post + "Expect: 100-continue\r\nContent-Length: 15\r\n\r\n",
                            post + "Transfer-Encoding: chunked\r\n\r\n5\r\nab",
                            "POST /f/git_version HTTP/1.1\r\nHo"s}) {
    server.send_and_leave(bytes);
  }
  EXPECT_EQ(server.post("/pi", "").body, "brackwen");
  EXPECT_EQ(server.post("/f/git_version", body).status, 200);
  EXPECT_EQ(::waitpid(server.pid, nullptr, WNOHANG), 0) << "the server ended";
}

}  // namespace
}  // namespace brackwen
