// The commit grammar: one record of the log format per commit, decorations in full.
#include "git/queries/commits_parsers.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>

#include "git/queries/refs.hpp"
#include "parser/standard_parsers.hpp"

namespace brackwen {
namespace {

constexpr std::string_view TAG_PREFIX = "tag: ";
constexpr std::string_view HEAD_PREFIX = "HEAD -> ";
constexpr std::string_view DECORATION_SEPARATOR = ", ";
// git's marks for a shallow clone's boundary commits and for replaced commits: decorations
// that name no ref (with "--decorate=full" every ref is "HEAD" or begins with "refs/").
constexpr std::string_view PSEUDO_DECORATIONS[] = {"grafted", "replaced"};

bool names_no_ref(std::string_view item) {
  return std::ranges::find(PSEUDO_DECORATIONS, item) != std::end(PSEUDO_DECORATIONS);
}

// Moves over the code points that `keep` accepts; ASCII is decided without a table lookup,
// which matters on the hottest path of the server (the ids of a long history).
template <class Ascii, class Unicode>
void advance_while(Input& in, Ascii keep_ascii, Unicode keep) {
  size_t at = in.position;
  const std::string_view text = in.text;
  while (at < text.size()) {
    auto b = static_cast<unsigned char>(text[at]);
    if (b < 0x80) {
      if (!keep_ascii(b)) break;
      ++at;
      continue;
    }
    Input probe{text, at};
    if (!keep(probe.peek())) break;
    at += probe.peek_length();
  }
  if (at > in.position) in.advance_to(at);
}

void skip_whitespace(Input& in) {
  advance_while(
      in, [](unsigned char b) { return b == ' ' || (b >= '\t' && b <= '\r'); }, is_whitespace);
}

bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}

// Git prints the seconds and the zone with ASCII digits only.
std::string_view ascii_digits(Input& in) {
  size_t start = in.position;
  size_t at = start;
  while (at < in.text.size() && is_ascii_digit(in.text[at])) ++at;
  if (at > start) in.advance_to(at);
  return in.text.substr(start, at - start);
}

std::optional<std::string_view> alphanumeric_run(Input& in) {
  size_t start = in.position;
  advance_while(
      in,
      [](unsigned char b) {
        return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
      },
      is_alphanumeric);
  if (in.position == start) return std::nullopt;
  return in.text.substr(start, in.position - start);
}

// The next line feed, or the NUL that ends a record of "-z" output, or the end of the text.
size_t line_end(const Input& in, size_t from) {
  const char* begin = in.text.data() + from;
  size_t rest = in.text.size() - from;
  auto* feed = static_cast<const char*>(std::memchr(begin, '\n', rest));
  size_t line = feed ? static_cast<size_t>(feed - begin) : rest;
  auto* nul = static_cast<const char*>(std::memchr(begin, '\0', line));
  return from + (nul ? static_cast<size_t>(nul - begin) : line);
}

std::string_view trim(std::string_view text) {
  constexpr std::string_view blanks = " \t\r\v\f";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::optional<std::vector<std::string>> parent_ids(Input& in) {
  std::vector<std::string> ids;
  while (!in.at_end()) {
    auto id = alphanumeric_run(in);
    if (!id) break;
    ids.emplace_back(*id);
    skip_whitespace(in);
  }
  return ids;
}

// Date, id and parents after the ";" that ends the e-mail; the separator after the parents
// also takes the blank lines that open the message body.
template <class R>
bool header_tail(Input& in, CommitOf<R>& c) {
  auto date = sequence(in, [](Input& in) -> std::optional<DateResult> {
    if (!field_separator(in)) return std::nullopt;
    return parse_raw_date(in);
  });
  if (!date || !field_separator(in)) return false;
  auto id = commit_field(in);
  if (!id || !field_separator(in)) return false;
  auto parents = parent_ids(in);
  if (!field_separator(in)) return false;
  c.date = *date;
  c.id = std::move(*id);
  c.parent_ids = std::move(*parents);
  return true;
}

// Git keeps ";" inside names (and, rarely, addresses), so the ";" that ends the e-mail is the
// first one on the header line that a date, an id and parents follow; the author is then
// everything up to the last ";" before it. For names without ";" this is the plain reading.
template <class R>
bool read_header(Input& in, CommitOf<R>& c) {
  size_t start = in.position;
  size_t header_end = line_end(in, start);
  size_t author_end = in.text.find(';', start);
  if (author_end == start || author_end >= header_end) return false;
  for (size_t email_end = in.text.find(';', author_end + 1); email_end < header_end;
       email_end = in.text.find(';', email_end + 1)) {
    in.reset(start);
    in.advance_to(email_end);
    if (!header_tail(in, c)) continue;
    size_t split = in.text.rfind(';', email_end - 1);
    size_t after_split = in.position;
    in.reset(split + 1);
    skip_whitespace(in);
    size_t email_start = std::min(in.position, email_end);
    in.reset(after_split);
    c.author = in.slice(start, split);
    c.email = in.slice(email_start, email_end);
    return true;
  }
  in.reset(start);
  return false;
}

// A message may quote the marker itself; the marker that ends the body is followed on its line
// by ";" and the decorations, or nothing.
bool ends_body(const Input& in, size_t after_marker) {
  size_t end = line_end(in, after_marker);
  std::string_view tail = trim(in.text.substr(after_marker, end - after_marker));
  if (!tail.starts_with(';')) return false;
  tail = trim(tail.substr(1));
  return tail.empty() || (tail.size() >= 2 && tail.front() == '(' && tail.back() == ')');
}

std::optional<std::string> message_up_to_marker(Input& in) {
  size_t body = in.position;
  // Bodies are full of digits, the marker's first character; a skip table finds it faster.
  static const std::boyer_moore_horspool_searcher marker_search(COMMIT_LOG_MARKER.begin(),
                                                                COMMIT_LOG_MARKER.end());
  for (auto from = in.text.begin() + body;;) {
    auto found = std::search(from, in.text.end(), marker_search);
    if (found == in.text.end()) {
      in.advance_to(in.text.size());
      in.reset(body);
      return std::nullopt;
    }
    size_t marker = found - in.text.begin();
    if (ends_body(in, marker + COMMIT_LOG_MARKER.size())) {
      in.advance_to(marker + COMMIT_LOG_MARKER.size());
      return in.slice(body, marker);
    }
    from = found + 1;
  }
}

// %d writes " (a, b, c)". Ref names may hold "(", ")" and "," but never a blank or a line
// end, so the list is the rest of the line and its items are split on ", ".
bool decorations(Input& in, std::vector<RefInfo>& refs) {
  skip_whitespace(in);
  if (!literal(in, ";")) return false;
  size_t end = line_end(in, in.position);
  std::string_view text = trim(in.text.substr(in.position, end - in.position));
  if (!text.empty()) {
    if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
    std::string_view items = text.substr(1, text.size() - 2);
    while (!items.empty()) {
      size_t comma = items.find(DECORATION_SEPARATOR);
      std::string_view item = items.substr(0, comma);
      items = comma == std::string_view::npos ? std::string_view{}
                                              : items.substr(comma + DECORATION_SEPARATOR.size());
      bool head = false;
      if (item.starts_with(TAG_PREFIX)) {
        item.remove_prefix(TAG_PREFIX.size());
      } else if (item.starts_with(HEAD_PREFIX)) {
        item.remove_prefix(HEAD_PREFIX.size());
        head = true;
      }
      if (!item.empty() && !names_no_ref(item)) refs.push_back(ref_from_name(item, head));
    }
  }
  in.advance_to(end);
  return true;
}

// One record: every field of `c` but `refs`; its decorations are appended to `refs`, each
// with the commit's id and time. On failure `position` and `refs` are as they were.
template <class R>
bool read_record(Input& in, CommitOf<R>& c, std::vector<RefInfo>& refs) {
  size_t start = in.position;
  size_t first_ref = refs.size();
  auto fail = [&] {
    in.reset(start);
    refs.resize(first_ref);
    return false;
  };
  if (!read_header(in, c)) return fail();
  auto message = message_up_to_marker(in);
  if (!message || !decorations(in, refs)) return fail();
  skip_whitespace(in);
  if (!in.at_end() && in.text[in.position] == '\0') in.advance();
  c.is_merge = c.parent_ids.size() >= 2;
  c.message = std::move(*message);
  for (size_t i = first_ref; i < refs.size(); ++i) {
    refs[i].commit_id = c.id;
    refs[i].time = c.date.ms;
  }
  return true;
}

}  // namespace

std::optional<std::string> commit_field(Input& in) {
  size_t start = in.position;
  size_t end = in.text.find(';', start);
  if (end == std::string_view::npos) end = in.text.size();
  if (end == start) return std::nullopt;
  in.advance_to(end);
  return in.slice(start, end);
}

std::optional<std::string_view> field_separator(Input& in) {
  return sequence(in, [](Input& in) -> std::optional<std::string_view> {
    skip_whitespace(in);
    auto separator = literal(in, ";");
    if (separator) skip_whitespace(in);
    return separator;
  });
}

std::optional<DateResult> parse_raw_date(Input& in) {
  return sequence(in, [](Input& in) -> std::optional<DateResult> {
    std::string_view seconds = ascii_digits(in);
    if (seconds.empty()) return std::nullopt;
    skip_whitespace(in);
    bool negative = false;
    if (literal(in, "-")) {
      negative = true;
    } else if (!literal(in, "+")) {
      skip_whitespace(in);
    }
    std::string_view zone = ascii_digits(in);
    if (zone.empty()) return std::nullopt;
    float whole_seconds = 0;
    auto read = std::from_chars(seconds.data(), seconds.data() + seconds.size(), whole_seconds);
    if (read.ec != std::errc()) return std::nullopt;
    int64_t zone_value = 0;
    auto zone_read = std::from_chars(zone.data(), zone.data() + zone.size(), zone_value);
    if (zone_read.ec != std::errc()) return std::nullopt;
    if (negative) zone_value = -zone_value;
    if (zone_value < INT32_MIN || zone_value > INT32_MAX) return std::nullopt;
    // Consumers compare and show this float, so it is rounded exactly as they expect:
    // first to a float of seconds, then by the float product.
    return DateResult{whole_seconds * 1000.0f, static_cast<int32_t>(zone_value)};
  });
}

std::optional<ParsedCommit> parse_commit(Input& in) {
  ParsedCommit c;
  if (!read_record(in, c, c.refs)) return std::nullopt;
  return c;
}

std::optional<std::vector<ParsedCommit>> parse_commits(Input& in) {
  return many(in, parse_commit);
}

std::optional<CommitLog> parse_commit_log(Input& in, size_t expected_commits) {
  CommitLog log;
  log.commits.reserve(expected_commits);
  while (!in.at_end()) {
    Commit c;
    size_t first_ref = log.refs.size();
    if (!read_record(in, c, log.refs)) break;
    c.refs.reserve(log.refs.size() - first_ref);
    for (size_t i = first_ref; i < log.refs.size(); ++i) c.refs.push_back(log.refs[i].id);
    log.commits.push_back(std::move(c));
  }
  return log;
}

}  // namespace brackwen
