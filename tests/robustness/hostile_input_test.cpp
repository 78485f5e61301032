// Hostile requests to every endpoint of the server's table: malformed bodies, wrong types,
// huge texts, texts with a NUL after a real name (a reader that stops there would act on that
// name), missing paths, texts that look like git options in every slot, commit ids included.
// Each reply is the documented one or a dropped request (500, empty body), no git option
// smuggled in a text takes effect, and the server keeps answering.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>

#include "robustness/reply_checks.hpp"
#include "server/endpoints.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::EndpointShape;
using test::FieldKind;
using test::FieldShape;

constexpr size_t kHuge = 4 << 20;

bool fits(const std::string& text) {
  bool short_parts = std::ranges::all_of(
      fs::path(text), [](const fs::path& part) { return part.native().size() <= NAME_MAX; });
  return text.find('\0') == std::string::npos && text.size() < PATH_MAX && short_parts;
}

std::optional<struct stat> stat_of(const std::string& path) {
  struct stat st;
  if (!fits(path) || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

// Whether open(O_CREAT | O_TRUNC | O_WRONLY) can succeed, judged without creating anything.
bool can_write_file(const std::string& text) {
  fs::path path(text);
  std::error_code ec;
  return !text.empty() && fits(text) && !fs::is_directory(path, ec) &&
         fs::is_directory(path.has_parent_path() ? path.parent_path() : ".", ec);
}

// Whether every directory of the path exists or can be made.
bool can_make_directories(const std::string& text) {
  fs::path prefix;
  for (const auto& part : fs::path(text)) {
    std::error_code ec;
    auto status = fs::status(prefix /= part, ec);
    if (fs::exists(status) && !fs::is_directory(status)) return false;
  }
  return fits(text);
}

// The one wrong-type value each kind takes after all, in the order of FieldKind.
std::string accepted(FieldKind kind) {
  const char* values[] = {"\"s\"", "\"s\"", "\"s\"", "[]", "\"s\"", "[]", "[]", "1", "1",
                          "true",  "",      "null",  "",   "",      "[]", "",   "{}"};
  return values[static_cast<int>(kind)];
}

bool carries_text(FieldKind kind) {
  using K = FieldKind;
  return kind != K::U32 && kind != K::U64 && kind != K::Bool && kind != K::AcKind;
}

// A text the front end could send: `text` as it is, or after the slot's usual text (a NUL
// there leaves a real name to a reader that stops at it).
struct Hostile {
  std::string label, text;
  bool appended = false;
};

std::vector<Hostile> hostile_texts(const fs::path& base, const fs::path& marker) {
  return {{"missing path", (base / "missing" / "deeper").string()},
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
          {"4 MiB text", "/" + std::string(kHuge, 'a')}};
}

// The expected reply: exact text, or one of these.
const std::string kDrop = "<dropped>", kAny = "<dropped or any answer>", kAction = "<action id>";

struct Case {
  std::string label, body, expect, prefix = "";
  bool must_fail = false;  // the action it starts
};

struct Sweep {
  const EndpointShape& shape;
  test::Bodies bodies;
  fs::path marker;
  std::vector<Case> cases;

  void add(std::string label, std::string body, std::string expect = "") {
    cases.push_back({std::move(label), std::move(body), expect.empty() ? shape.always : expect});
  }

  // Malformed for every endpoint (the reader's own tests and fuzzing try many more), and each
  // field missing, twice, of a wrong type, out of range.
  void record_cases() {
    for (std::string bad : {""s, "null"s, "{"s, "\"abc"s, "nul"s, "1e999999"s, "{'k':'x'}"s, "{,}"s,
                            "{} {}"s, "\xEF\xBB\xBF\"x\""s, "\"\xC0\xAF\""s, "\"a\0b\""s,
                            std::string(100000, '['), "\"" + std::string(kHuge, 'a')})
      add("malformed", bad, kDrop);
    auto values = bodies.defaults(shape);
    auto object = [&](const std::string& extra = "") {
      return bodies.object(shape, values, extra);
    };
    add("defaults", object());
    if (!shape.bare_string) {
      std::string array;
      for (const auto& v : values) array += (array.empty() ? "" : ",") + v;
      add("array form", "[" + array + "]");
      add("array one long", "[" + array + ",1]", kDrop);
      add("whitespace", " \n\t" + object(R"("zz":1)") + std::string(1 << 20, ' '));
      add("unknown key, 6 MiB", object(R"("zz":")" + std::string(6 << 20, 'z') + "\""));
      add("unknown key, nested",
          object(R"("zz":)" + std::string(99999, '[') + std::string(99999, ']')), kAny);
      add("trailing text", object() + "x", kDrop);
      add("two values", object() + object(), kDrop);
    }
    for (size_t i = 0; i < shape.fields.size(); ++i) field_cases(values, i);
  }

  void field_cases(const std::vector<std::string>& values, size_t i) {
    const FieldShape& field = shape.fields[i];
    auto with = [&](const std::string& value, const std::string& extra = "") {
      auto changed = values;
      changed[i] = value;
      return bodies.object(shape, changed, extra);
    };
    std::string name = field.key + ": ";
    if (!shape.bare_string) {
      add(name + "missing", with(""), field.kind == FieldKind::OptCommit ? "" : kDrop);
      add(name + "twice", with(values[i], test::quoted(field.key) + ":" + values[i]), kDrop);
    }
    for (std::string wrong :
         {"1", "-1", "1.5", "true", "null", "\"s\"", "[]", "{}", "[1]", R"({"a":1})"}) {
      if (wrong != accepted(field.kind)) add(name + wrong, with(wrong), kDrop);
    }
    for (std::string bad : {"\"\xFF\"", "\"a\x01\""}) {
      if (!carries_text(field.kind)) break;
      add(name + bad, with(bodies.values(shape, field, [&](auto&) { return bad; })[0].second),
          kDrop);
    }
    // The smallest and largest value, then one past it.
    std::map<FieldKind, std::array<std::string, 3>> ranges = {
        {FieldKind::U32, {"0", "4294967295", "4294967296"}},
        {FieldKind::U64, {"0", "18446744073709551615", "18446744073709551616"}},
        {FieldKind::AcKind, {"\"createBranch\"", "\"commitMessage\"", "\"commitmessage\""}}};
    if (!ranges.contains(field.kind)) return;
    auto [low, high, over] = ranges[field.kind];
    for (const std::string& ok : {low, high}) add(name + ok, with(ok));
    for (const std::string& bad : {over, "01"s, "1.0"s, "+1"s}) add(name + bad, with(bad), kDrop);
  }

  void hostile_cases() {
    for (const Hostile& h : hostile_texts(bodies.base, marker)) {
      for (size_t i = 0; i < shape.fields.size(); ++i) {
        const FieldShape& field = shape.fields[i];
        if (!carries_text(field.kind)) continue;
        std::string full;
        auto text = [&](const std::string& usual) {
          return test::quoted(full = h.appended ? usual + h.text : h.text);
        };
        for (auto& [slot, value] : bodies.values(shape, field, text)) {
          auto values = bodies.defaults(shape);
          values[i] = value;
          add(field.key + ": " + slot + h.label, bodies.object(shape, values));
          if (cases.back().expect.empty()) expect_for_text(field, full, cases.back());
        }
      }
    }
    auto values = bodies.defaults(shape);
    values[0] = R"("\ud800")";  // a lone surrogate
    add("lone surrogate", bodies.object(shape, values), kAny);
  }

  // What the endpoint's description fixes for a hostile `text` in `field`.
  void expect_for_text(const FieldShape& field, const std::string& text, Case& c) const {
    const std::string& p = shape.path;
    auto st = stat_of(text);
    bool writable = can_write_file(text);
    if (field.kind == FieldKind::Repo) {
      c.expect = shape.starts_action ? kAction : shape.unusable_repo;
      if (p == "get_data_store") c.prefix = R"({"error":"Failed to open config file: )";
      c.must_fail = shape.starts_action;
    } else if (field.kind == FieldKind::NewDir) {
      c.expect = text.empty() ? "" : can_make_directories(text) ? kAction : "0";
      c.must_fail = p == "clone_repo" && c.expect == kAction;
    } else if (field.kind == FieldKind::Path) {
      const std::map<std::string, std::string> by_endpoint = {
          {"path_exists", st ? "true" : "false"},
          {"file_size", st ? std::to_string(st->st_size) : "null"},
          {"write_file", writable ? "true" : "null"},
          {"load_commit_image", writable ? "true" : "false"},
          {"scan_workspace", "[]"}};
      if (by_endpoint.contains(p)) c.expect = by_endpoint.at(p);
    } else if (p == "command" || p == "commands") {
      c.expect = kAction;  // a starter may not refuse the arguments it passes on
    } else if (p == "temp_dir") {
      c.expect = test::quoted(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    } else if (p == "write_file") {
      c.expect = "true";
    } else if (p == "set_data_store") {
      c.expect = R"({"success":true,"message":"Data store updated"})";
    } else if (!text.empty()) {
      // Texts that name no commit, ref or file of the repository.
      const std::map<std::string, std::string> none = {
          {"load_top_commit_for_branch", "null"}, {"commit_ids_between_commits", "null"},
          {"load_patches_for_commit", "null"},    {"load_hunks", "null"},
          {"commit_is_ancestor", "false"},        {"commit_is_on_branch", "false"},
          {"load_commit_image", "false"},         {"auto_complete", "[]"}};
      if (none.contains(p) && (p != "auto_complete" || field.key == "currentWord"))
        c.expect = none.at(p);
    }
  }
};

// Empty when the reply is what the case allows.
std::string judge(const Case& c, const EndpointShape& shape, const test::HttpReply& reply) {
  if (reply.status == 0) return "no reply";
  bool dropped = reply.status == 500 && reply.body.empty();
  if (c.expect == kDrop || (c.expect == kAny && dropped)) return dropped ? "" : "not dropped";
  if (reply.status != 200) return "status " + std::to_string(reply.status);
  std::string error = test::reply_shape_error(reply.body, shape);
  if (!error.empty() || c.expect == kAny) return error;
  if (c.expect == kAction) return reply.body == "0" ? "expected an action id" : "";
  if (!c.expect.empty() && reply.body != c.expect) return "expected " + c.expect;
  if (!reply.body.starts_with(c.prefix)) return "expected " + c.prefix + "...";
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
  fs::path cwd = fs::current_path();
  fs::current_path(base.path);  // for "~/x" and relative paths
  test::ServerProcess server;
  Sweep sweep{*shape, {base.path, repo.path, server.home, first, head}, base.path / "marker", {}};
  auto client = server.client();
  client->set_read_timeout(std::chrono::seconds(30));
  client->set_write_timeout(std::chrono::seconds(30));
  const EndpointShape& load = *test::find_shape("load_commits_and_refs");
  std::string history = sweep.bodies.object(load, sweep.bodies.defaults(load));
  ASSERT_EQ(test::post_with(*client, "/f/load_commits_and_refs", history).status, 200);

  sweep.record_cases();
  sweep.hostile_cases();
  std::vector<std::pair<uint32_t, const Case*>> actions;
  auto describe = [](const Case& c) { return c.label + " | body: " + c.body.substr(0, 300); };
  for (const Case& c : sweep.cases) {
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
    EXPECT_TRUE(end.failed || !from->must_fail) << "succeeded: " << describe(*from);
  }
  EXPECT_EQ(test::post_with(*client, "/pi", "").body, "brackwen");
  for (const auto& entry : fs::directory_iterator(base.path / "marker"))
    ADD_FAILURE() << "a text was taken as a git option: " << entry.path();
  std::string diagnostics = server.stderr_so_far();
  // An escaped exception, or what a sanitizer build reports without stopping.
  for (const char* sign : {"Request /f/", "runtime error", "Sanitizer"}) {
    EXPECT_EQ(diagnostics.find(sign), std::string::npos) << diagnostics.substr(0, 2000);
  }
  fs::current_path(cwd);
}

INSTANTIATE_TEST_SUITE_P(Endpoints, HostileSweep, testing::ValuesIn(table_paths()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace brackwen
