// Shared by the robustness tests: request bodies built from the shapes in request_shapes.hpp,
// whether a reply is one JSON value of an allowed kind, and following actions to their end.
#pragma once
#include <simdjson.h>

#include <functional>
#include <map>

#include "robustness/request_shapes.hpp"
#include "support/server_harness.hpp"

namespace brackwen::test {

inline HttpReply post_with(httplib::Client& client, const std::string& path,
                           const std::string& body) {
  return reply_of(client.Post(path, body, "text/plain"));
}

// Empty when `body` is one JSON value of a kind the endpoint answers (an object starting with
// one of its `|`-separated first keys); otherwise what is wrong with it.
inline std::string reply_shape_error(const std::string& body, const EndpointShape& shape) {
  simdjson::dom::parser parser;
  simdjson::dom::element element;
  if (parser.parse(body).get(element) != simdjson::SUCCESS) return "not JSON";
  using T = simdjson::dom::element_type;
  std::map<T, unsigned> kinds = {{T::NULL_VALUE, kNull}, {T::BOOL, kBool},     {T::INT64, kNumber},
                                 {T::UINT64, kNumber},   {T::STRING, kString}, {T::ARRAY, kArray},
                                 {T::OBJECT, kObject}};
  if (!(kinds[element.type()] & shape.replies))
    return "a kind of value this endpoint never answers";
  if (!element.is_object() || shape.first_key.empty()) return "";
  auto object = simdjson::dom::object(element);
  std::string key = object.size() ? std::string(object.begin().key()) : "";
  bool known = ("|" + shape.first_key + "|").find("|" + key + "|") != std::string::npos;
  return known ? "" : "an object starting with \"" + key + "\"";
}

struct ActionEnd {
  bool done = false, failed = false;  // failed: "error" was not null
  std::string error, stdout_json;     // as JSON texts
};

inline ActionEnd follow_action(httplib::Client& client, uint32_t id,
                               std::chrono::steady_clock::time_point deadline) {
  std::string poll = body({{"actionId", std::to_string(id)}});
  simdjson::dom::parser parser;
  ActionEnd end;
  eventually(
      [&] {
        simdjson::dom::element state;
        HttpReply reply = post_with(client, "/f/poll_action2", poll);
        if (parser.parse(reply.body).get(state) != simdjson::SUCCESS || !state.is_object() ||
            !state["done"].is_bool() || !bool(state["done"])) {
          return false;
        }
        end = {true, !state["error"].is_null(), simdjson::minify(state["error"]),
               simdjson::minify(state["stdout"])};
        return true;
      },
      std::chrono::ceil<std::chrono::seconds>(deadline - std::chrono::steady_clock::now()));
  return end;
}

// Bodies for every endpoint over one repository: `text(default)` gives the JSON of each text
// slot, so a caller can replace or extend what would be sent.
struct Bodies {
  using Text = std::function<std::string(const std::string& slot_default)>;
  std::filesystem::path base, repo, home;
  std::string first_id, head_id;
  int made_dirs = 0;

  std::string commit(const std::string& id, const std::string& parent) const {
    return R"({"author":"Test User","email":"test@example.com",)"
           R"("date":{"ms":1700000000000,"adjustment":0},"id":)" +
           id + R"(,"index":0,"parentIds":[)" + parent +
           R"(],"isMerge":false,"message":"second","stashId":null,"refs":[],)"
           R"("filtered":false,"numSkipped":0})";
  }
  static std::string patch(const std::string& file, const std::string& commit) {
    return R"({"commitId":)" + commit + R"(,"oldFile":)" + file + R"(,"newFile":)" + file +
           R"(,"patchType":"M","id":"a.txtM","isImage":false})";
  }
  static std::string wip_patch(const std::string& file) {
    return R"({"oldFile":)" + file + R"(,"newFile":)" + file +
           R"(,"patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,)"
           R"("id":"a.txtM","isImage":false})";
  }

  std::string default_text(const EndpointShape& shape, const FieldShape& field) {
    using K = FieldKind;
    if (field.kind == K::Repo || field.kind == K::PathList) return repo.string();
    if (field.kind == K::NewDir) return (base / "made" / std::to_string(made_dirs++)).string();
    std::map<std::string, std::string> by_key = {{"branchName", "main"},
                                                 {"searchText", "one"},
                                                 {"currentWord", "se"},
                                                 {"originalImagePath", "a.txt"},
                                                 {"rootRepo", base.string()},
                                                 {"url", (base / "no-remote").string()},
                                                 {"tempImagePath", (base / "image.out").string()},
                                                 {"filePath", (base / "written.txt").string()}};
    for (const char* key : {"commitId", "commitId1", "ancestorCandidateId"}) by_key[key] = first_id;
    for (const char* key : {"commitId2", "headCommitId"}) by_key[key] = head_id;
    if (by_key.contains(field.key)) return by_key[field.key];
    if (shape.path == "override_git_home") return home.string();
    return field.kind == K::Path ? repo.string() : "text";
  }

  // The JSON values of `field`, one for each text slot it holds (a commit's id and parent, a
  // patch's file and commit), with `text` in that slot.
  std::vector<std::pair<std::string, std::string>> values(const EndpointShape& shape,
                                                          const FieldShape& field,
                                                          const Text& text) {
    std::string t = text(default_text(shape, field));
    std::string head = test::quoted(head_id), first = test::quoted(first_id);
    switch (field.kind) {
      case FieldKind::PathList:
        return {{"", "[" + t + "]"}};
      case FieldKind::Args:
      case FieldKind::Commands:
        t = "[" + text("status") + "]";
        return {{"", field.kind == FieldKind::Args ? t : "[" + t + "]"}};
      case FieldKind::U32:
      case FieldKind::U64:
      case FieldKind::Bool:
      case FieldKind::AcKind:
        return {{"", field.kind == FieldKind::Bool     ? "false"
                     : field.kind == FieldKind::AcKind ? "\"commitMessage\""
                                                       : "7"}};
      case FieldKind::Commit:
      case FieldKind::OptCommit:
        return {{"id ", commit(text(head_id), first)}, {"parent ", commit(head, text(first_id))}};
      case FieldKind::Patch:
        return {{"", patch(text("a.txt"), text(head_id))}};
      case FieldKind::WipPatch:
        return {{"file ", wip_patch(text("a.txt"))}};
      case FieldKind::Filters: {
        std::string b = text("main"), u = text("Test User"), c = text(head_id);
        return {{"", R"([{"branch":{"id":)" + b + R"(,"short_name":)" + b +
                         R"(}},{"user":{"author":)" + u + R"(,"email":)" + u +
                         R"(}},{"commit":{"commit_id":)" + c + R"(}},{"file":{"file_name":)" +
                         text("a.txt") + "}}]"}};
      }
      case FieldKind::Data:
        return {{"", "{" + text("k") + ":" + text("v") + "}"}};
      default:
        return {{"", t}};
    }
  }

  std::vector<std::string> defaults(const EndpointShape& shape) {
    std::vector<std::string> out;
    for (const auto& field : shape.fields) {
      bool none = field.kind == FieldKind::Filters;
      out.push_back(none ? "[]" : values(shape, field, test::quoted)[0].second);
    }
    return out;
  }

  // The object form of `values` (an empty value leaves its field out) with `extra` members;
  // the value alone for a bare string body.
  static std::string object(const EndpointShape& shape, const std::vector<std::string>& values,
                            const std::string& extra = "") {
    if (shape.bare_string) return values[0];
    std::string out = "{";
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i].empty()) continue;
      out += (out.size() > 1 ? "," : "") + quoted(shape.fields[i].key) + ":" + values[i];
    }
    if (!extra.empty()) out += (out.size() > 1 ? "," : "") + extra;
    return out + "}";
  }
};

}  // namespace brackwen::test
