// The commit grammar: one record of the log format per commit, decorations in full.
#include "git/queries/commits_parsers.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "git/queries/refs.hpp"
#include "git/revisions.hpp"
#include "parser/diagnostics.hpp"
#include "parser/standard_parsers.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

// Author, e-mail, date, id, parents, message, decorations.
constexpr size_t LOG_FIELDS = 7;
constexpr size_t AUTHOR_FIELD = 0;
constexpr size_t EMAIL_FIELD = 1;
constexpr size_t MESSAGE_FIELD = 5;
// A text field is kept while streamed up to its cap and a few bytes more: a character that
// begins before the cap is then repaired as in the whole text (an invalid sequence is judged
// on at most its next three bytes), and the cut still sees a text longer than the cap.
constexpr size_t KEPT_TEXT_BYTES = MAX_COMMIT_TEXT_BYTES + 4;
constexpr std::string_view DECORATE_ARG = "--decorate=full";
constexpr std::string_view NUL_TERMINATED_ARG = "-z";
constexpr std::string_view DATE_ARG = "--date=raw";

constexpr std::string_view TAG_PREFIX = "tag: ";
constexpr std::string_view HEAD_PREFIX = "HEAD -> ";
constexpr std::string_view HEAD_NAME = "HEAD";
constexpr std::string_view DECORATION_SEPARATOR = ", ";
// git's marks for a shallow clone's boundary commits and for replaced commits: decorations
// that name no ref (with "--decorate=full" every ref is "HEAD" or begins with "refs/").
constexpr std::string_view PSEUDO_DECORATIONS[] = {"grafted", "replaced"};

bool names_no_ref(std::string_view item) {
  return std::ranges::find(PSEUDO_DECORATIONS, item) != std::end(PSEUDO_DECORATIONS);
}

bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}

// Moves over whitespace; ASCII is decided without a table lookup, which matters on the
// hottest path of the server (the fields of a long history).
void skip_whitespace(Input& in) {
  size_t at = in.position;
  const std::string_view text = in.text;
  while (at < text.size()) {
    auto b = static_cast<unsigned char>(text[at]);
    if (b < 0x80) {
      if (b != ' ' && (b < '\t' || b > '\r')) break;
      ++at;
      continue;
    }
    Input probe{text, at};
    if (!is_whitespace(probe.peek())) break;
    at += probe.peek_length();
  }
  if (at > in.position) in.advance_to(at);
}

// Git prints the seconds and the zone with ASCII digits only.
std::string_view ascii_digits(Input& in) {
  size_t start = in.position;
  size_t at = start;
  while (at < in.text.size() && is_ascii_digit(in.text[at])) ++at;
  if (at > start) in.advance_to(at);
  return in.text.substr(start, at - start);
}

// The text up to the NUL that ends the field, which is consumed; absent when no NUL follows.
std::optional<std::string_view> field(Input& in) {
  size_t start = in.position;
  const char* begin = in.text.data() + start;
  auto* nul = static_cast<const char*>(std::memchr(begin, '\0', in.text.size() - start));
  if (!nul) return std::nullopt;
  size_t end = start + static_cast<size_t>(nul - begin);
  in.advance_to(end + 1);
  return in.text.substr(start, end - start);
}

// A field without the whitespace that opens it, as a reader of "a; b" would take it.
std::optional<std::string_view> text_field(Input& in) {
  skip_whitespace(in);
  return field(in);
}

// git prints no date at all for an author line it cannot read (a date without a zone, or an
// author line it cannot find, as in a commit whose "encoding" header makes git re-encode it to
// nothing), and "0 +0000" for a date beyond its range: the first reads as the second.
std::optional<DateResult> date_field(Input& in) {
  if (!in.at_end() && in.text[in.position] == '\0') {
    in.advance_to(in.position + 1);
    return DateResult{};
  }
  auto date = parse_raw_date(in);
  if (!date) return std::nullopt;
  skip_whitespace(in);
  auto rest = field(in);
  if (!rest || !rest->empty()) return std::nullopt;
  return date;
}

std::optional<std::vector<std::string>> parent_ids(std::string_view text) {
  std::vector<std::string> ids;
  for (size_t at = 0; at < text.size();) {
    size_t blank = std::min(text.find(' ', at), text.size());
    std::string_view id = text.substr(at, blank - at);
    at = blank + 1;
    if (id.empty()) continue;
    if (!is_object_id(id)) return std::nullopt;
    ids.emplace_back(id);
  }
  return ids;
}

// %D writes "a, b, c". Ref names may hold "(", ")" and "," but never a blank, so items are
// split on ", ".
void decorations(std::string_view items, std::vector<RefInfo>& refs) {
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

// A text past the cap, cut before the character that would cross it.
std::string_view cut_text(std::string_view text) {
  if (text.size() <= MAX_COMMIT_TEXT_BYTES) return text;
  size_t end = MAX_COMMIT_TEXT_BYTES;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// One line naming the commit (a checked object id) and the texts that were cut.
void report_cut_texts(std::string_view id, std::string_view author, std::string_view email,
                      std::string_view message) {
  std::string line = "Commit " + std::string(id) + ": its";
  const char* joint = " ";
  for (auto [text, name] :
       {std::pair{author, "author name"}, {email, "author e-mail"}, {message, "message"}}) {
    if (text.size() <= MAX_COMMIT_TEXT_BYTES) continue;
    line += joint;
    line += name;
    joint = " and ";
  }
  write_stderr(line + " passed " + std::to_string(MAX_COMMIT_TEXT_BYTES >> 20) +
               " MiB and was cut there\n");
}

// Every field of `c` but `refs`: a full object id and parents that are full object ids, or
// the record does not read. The author, e-mail and date may be empty, as git prints them for
// a commit whose author line holds a blank name or none at all: one such commit pushed by
// anyone must not cost everyone the whole history.
template <class R>
bool read_fields(Input& in, CommitOf<R>& c, std::string_view& refs_text) {
  auto author = text_field(in);
  if (!author) return false;
  auto email = text_field(in);
  if (!email) return false;
  auto date = date_field(in);
  if (!date) return false;
  auto id = field(in);
  if (!id || !is_object_id(*id)) return false;
  auto parents_text = field(in);
  if (!parents_text) return false;
  auto parents = parent_ids(*parents_text);
  if (!parents) return false;
  auto message = text_field(in);
  if (!message) return false;
  auto refs = field(in);
  if (!refs) return false;
  if (std::max({author->size(), email->size(), message->size()}) > MAX_COMMIT_TEXT_BYTES) {
    report_cut_texts(*id, *author, *email, *message);
  }
  c.author = cut_text(*author);
  c.email = cut_text(*email);
  c.date = *date;
  c.id = *id;
  c.parent_ids = std::move(*parents);
  c.is_merge = c.parent_ids.size() >= 2;
  c.message = cut_text(*message);
  refs_text = *refs;
  return true;
}

// HEAD among the decorations from `first` on of the commit `id`, as git would have put it.
void add_head(const HeadDecoration& head, std::string_view id, std::vector<RefInfo>& refs,
              size_t first) {
  if (id != head.commit_id) return;
  auto begin = refs.begin() + static_cast<std::ptrdiff_t>(first);
  auto branch = std::find_if(
      begin, refs.end(), [&](const RefInfo& ref) { return head.branch && ref.id == *head.branch; });
  if (branch == refs.end()) {
    refs.insert(begin, ref_from_name(HEAD_NAME));
    return;
  }
  branch->head = true;
  std::rotate(begin, branch, branch + 1);
}

// One record; its decorations are appended to `refs` (with `head` where git left it out),
// each with the commit's id and time. On failure `position` and `refs` are as they were.
template <class R>
bool read_record(Input& in, CommitOf<R>& c, std::vector<RefInfo>& refs,
                 const HeadDecoration* head = nullptr) {
  size_t start = in.position;
  std::string_view refs_text;
  if (!read_fields(in, c, refs_text)) {
    in.reset(start);
    return false;
  }
  size_t first_ref = refs.size();
  decorations(refs_text, refs);
  if (head) add_head(*head, c.id, refs, first_ref);
  for (size_t i = first_ref; i < refs.size(); ++i) {
    refs[i].commit_id = c.id;
    refs[i].time = c.date.ms;
  }
  return true;
}

// Every record up to the first that does not read, into `log`.
void read_log_records(Input& in, CommitLog& log, StashPlacement* stashes = nullptr,
                      const HeadDecoration* head = nullptr) {
  while (!in.at_end()) {
    Commit c;
    size_t first_ref = log.refs.size();
    if (!read_record(in, c, log.refs, head)) return;
    c.refs.reserve(log.refs.size() - first_ref);
    for (size_t i = first_ref; i < log.refs.size(); ++i) c.refs.push_back(log.refs[i].id);
    while (stashes && stashes->next < stashes->entries.size() &&
           stashes->entries[stashes->next].date.ms > c.date.ms) {
      log.commits.push_back(std::move(stashes->entries[stashes->next++]));
    }
    log.commits.push_back(std::move(c));
  }
}

}  // namespace

std::vector<std::string> log_format_args() {
  return {std::string(DECORATE_ARG), std::string(NUL_TERMINATED_ARG), std::string(LOG_FORMAT_ARG),
          std::string(DATE_ARG)};
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
  read_log_records(in, log);
  return log;
}

LogStream::LogStream(size_t expected_commits) {
  log.commits.reserve(expected_commits);
}

namespace {

// Where whole records end in `bytes` (after every LOG_FIELDS-th NUL, counting on from the
// NULs already pending): the first end and the last, or npos for both.
std::pair<size_t, size_t> record_ends(LogStream& stream, std::string_view bytes) {
  size_t first = std::string_view::npos;
  size_t last = std::string_view::npos;
  for (size_t at = 0; at < bytes.size(); ++at) {
    auto* nul = static_cast<const char*>(std::memchr(bytes.data() + at, '\0', bytes.size() - at));
    if (!nul) break;
    at = static_cast<size_t>(nul - bytes.data());
    if (++stream.pending_nuls < LOG_FIELDS) continue;
    stream.pending_nuls = 0;
    if (first == std::string_view::npos) first = at + 1;
    last = at + 1;
  }
  return {first, last};
}

uint64_t texts_bytes(const std::vector<std::string>& texts) {
  uint64_t bytes = texts.capacity() * sizeof(std::string);
  for (const std::string& text : texts) bytes += heap_bytes(text);
  return bytes;
}

uint64_t record_bytes(const Commit& c) {
  return sizeof(Commit) + heap_bytes(c.author) + heap_bytes(c.email) + heap_bytes(c.id) +
         heap_bytes(c.message) + texts_bytes(c.parent_ids) + texts_bytes(c.refs);
}

uint64_t record_bytes(const RefInfo& ref) {
  return sizeof(RefInfo) + heap_bytes(ref.id) + heap_bytes(ref.full_name) +
         heap_bytes(ref.short_name) + heap_bytes(ref.commit_id);
}

// Charges what the records from `first_commit` and `first_ref` on hold; false past the bound.
bool charge_records(LogStream& stream, size_t first_commit, size_t first_ref) {
  uint64_t bytes = 0;
  const CommitLog& log = stream.log;
  for (size_t i = first_commit; i < log.commits.size(); ++i) bytes += record_bytes(log.commits[i]);
  for (size_t i = first_ref; i < log.refs.size(); ++i) bytes += record_bytes(log.refs[i]);
  return stream.records.add(bytes);
}

// Whole records, read into the stream's log; the first that does not read fails the stream,
// with the failure report of the segment.
void parse_segment(LogStream& stream, std::string_view segment) {
  if (stream.failed || segment.empty()) return;
  // A segment ends on an ASCII byte, so no invalid sequence is cut in two and repairing it
  // alone gives what repairing the whole text gives.
  std::string repaired;
  if (!is_valid_utf8(segment)) {
    repaired = decode_utf8_lossy(segment);
    segment = repaired;
  }
  if (!stream.placement && stream.stashes) stream.placement = stream.stashes();
  Input in{segment};
  size_t first_commit = stream.log.commits.size();
  size_t first_ref = stream.log.refs.size();
  read_log_records(in, stream.log, stream.placement ? &*stream.placement : nullptr,
                   stream.head ? &*stream.head : nullptr);
  if (!charge_records(stream, first_commit, first_ref)) {
    stream.failed = true;
    return;
  }
  if (in.at_end()) return;
  stream.failed = true;
  report_parse_failure(in);
}

bool is_text_field(size_t index) {
  return index == AUTHOR_FIELD || index == EMAIL_FIELD || index == MESSAGE_FIELD;
}

// How many bytes of whitespace open `raw` (bytes as git printed them), which the grammar skips
// once they are repaired. `decided` turns false when the bytes end within the whitespace or
// inside a character, where more whitespace may follow.
size_t leading_whitespace(std::string_view raw, bool& decided) {
  size_t at = 0;
  while (at < raw.size()) {
    auto b = static_cast<unsigned char>(raw[at]);
    size_t length = b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
    if (length == 0) return at;  // no character begins here: it becomes U+FFFD
    if (at + length > raw.size()) break;
    std::string_view character = raw.substr(at, length);
    if (!is_valid_utf8(character) || !is_whitespace(Input{character}.peek())) return at;
    at += length;
  }
  decided = false;
  return at;
}

// An open author, e-mail or message field keeps no more than its cut needs: its leading
// whitespace goes (the grammar skips it), and past KEPT_TEXT_BYTES the rest of the field is
// dropped as it arrives.
void bound_open_field(LogStream& stream) {
  std::string& pending = stream.pending;
  if (!is_text_field(stream.pending_nuls) || pending.size() - stream.open_field <= KEPT_TEXT_BYTES)
    return;
  bool decided = true;
  std::string_view field = std::string_view(pending).substr(stream.open_field);
  pending.erase(stream.open_field, leading_whitespace(field, decided));
  if (!decided || pending.size() - stream.open_field <= KEPT_TEXT_BYTES) return;
  pending.resize(stream.open_field + KEPT_TEXT_BYTES);
  stream.dropping = true;
}

// `bytes`, which go after what `pending` holds, marking where the field they end in begins.
void append_pending(LogStream& stream, std::string_view bytes) {
  size_t nul = bytes.rfind('\0');
  if (nul != std::string_view::npos) stream.open_field = stream.pending.size() + nul + 1;
  stream.pending.append(bytes);
  bound_open_field(stream);
  if (!stream.pending_held.set(stream.pending.capacity())) stream.failed = true;
}

}  // namespace

void feed_log(LogStream& stream, std::string_view bytes) {
  if (stream.failed || bytes.empty()) return;
  stream.fed = true;
  if (stream.dropping) {
    size_t nul = bytes.find('\0');
    if (nul == std::string_view::npos) return;
    bytes.remove_prefix(nul);
    stream.dropping = false;
  }
  auto [first, last] = record_ends(stream, bytes);
  if (last == std::string_view::npos) {
    append_pending(stream, bytes);
    return;
  }
  // The record begun before these bytes is finished in `pending`; the ones after it are read
  // where they are, without a copy.
  size_t start = 0;
  if (!stream.pending.empty()) {
    stream.pending.append(bytes.substr(0, first));
    parse_segment(stream, stream.pending);
    stream.pending.clear();
    start = first;
  }
  parse_segment(stream, bytes.substr(start, last - start));
  stream.pending.clear();
  stream.open_field = 0;
  append_pending(stream, bytes.substr(last));
}

bool finish_log(LogStream& stream) {
  // A text that ends inside a record fails with the report of that record.
  if (!stream.pending.empty()) parse_segment(stream, stream.pending);
  if (!stream.fed || stream.failed || !stream.pending.empty()) return false;
  if (!stream.placement) return true;
  StashPlacement& left = *stream.placement;
  for (; left.next < left.entries.size(); ++left.next) {
    stream.log.commits.push_back(std::move(left.entries[left.next]));
  }
  return true;
}

}  // namespace brackwen
