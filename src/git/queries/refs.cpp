// Reading ref names into RefInfo records.
#include "git/queries/refs.hpp"

#include <vector>

#include "parser/standard_parsers.hpp"

namespace brackwen {
namespace {

constexpr std::string_view PEELED_SUFFIX = "^{}";

std::string without_peeled(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t at = 0; at < name.size();) {
    size_t found = name.find(PEELED_SUFFIX, at);
    if (found == std::string_view::npos) found = name.size();
    out.append(name.substr(at, found - at));
    at = found == name.size() ? found : found + PEELED_SUFFIX.size();
  }
  return out;
}

std::vector<std::string_view> components(std::string_view name) {
  std::vector<std::string_view> parts;
  size_t at = 0;
  while (true) {
    size_t slash = name.find('/', at);
    if (slash == std::string_view::npos) {
      parts.push_back(name.substr(at));
      return parts;
    }
    parts.push_back(name.substr(at, slash - at));
    at = slash + 1;
  }
}

std::string join_from(const std::vector<std::string_view>& parts, size_t first) {
  std::string out;
  for (size_t i = first; i < parts.size(); ++i) {
    if (i > first) out += '/';
    out += parts[i];
  }
  return out;
}

}  // namespace

RefInfo ref_from_name(std::string_view raw_name, bool head) {
  RefInfo ref;
  ref.id = without_peeled(raw_name);
  auto parts = components(ref.id);
  std::string_view kind = parts.size() >= 2 ? parts[1] : std::string_view{};
  ref.location = parts.size() < 3 || kind == "heads" ? RefLocation::Local : RefLocation::Remote;
  if (parts.size() == 1) {
    ref.short_name = ref.id;
  } else if (parts.size() >= 3) {
    ref.short_name = join_from(parts, kind == "remotes" ? 3 : 2);
  }
  if (parts.size() >= 4 && kind == "remotes") ref.remote_name = std::string(parts[2]);
  ref.ref_type = kind == "tags" ? RefType::Tag : kind == "stash" ? RefType::Stash : RefType::Branch;
  ref.head = head;
  ref.full_name = ref.id;
  return ref;
}

std::optional<RefInfo> parse_ref(Input& in) {
  size_t start = in.position;
  while (!in.at_end() && !is_whitespace(in.peek())) in.advance();
  if (in.position == start) return std::nullopt;
  return ref_from_name(in.text.substr(start, in.position - start));
}

std::string_view location_text(RefLocation location) {
  return location == RefLocation::Local ? "Local" : "Remote";
}

std::string parse_ref_id(std::string_view marker_line) {
  size_t first_blank = marker_line.find(' ');
  if (first_blank == std::string_view::npos) return "";
  std::string_view piece = marker_line.substr(first_blank + 1);
  piece = piece.substr(0, piece.find(' '));
  if (piece == "HEAD") return "HEAD";
  auto ref = parse_all(piece, parse_ref);
  if (!ref) return std::string(piece);
  std::string out(location_text(ref->location));
  out += '/';
  out += ref->short_name;
  return out;
}

}  // namespace brackwen
