// Every fuzz target, registered at the end. Each holds what the back end reads against a second
// opinion: another form of the same grammar, the result written back and read again, a plain
// split, ICU, or simdjson's DOM parser.
#include <simdjson.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "api_types/json.hpp"
#include "fuzz.hpp"
#include "git/conflicts/api.hpp"
#include "git/queries/commits.hpp"
#include "git/queries/commits_parsers.hpp"
#include "git/queries/config.hpp"
#include "git/queries/graph.hpp"
#include "git/queries/hunks/load_hunks.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/queries/wip/wip_status.hpp"
#include "git/revisions.hpp"
#include "parser/diagnostics.hpp"
#include "parser/standard_parsers.hpp"
#include "parser/text.hpp"
#include "parser/utf8.hpp"
#include "server/data_store_reader.hpp"

namespace brackwen {
namespace {

// A line on standard output (libFuzzer runs with standard error closed, as the grammars report
// every parse failure there), then abort.
void fuzz_require(bool held, std::string_view property) {
  if (held) return;
  write_stdout(std::string("broken property: ").append(property).append("\n"));
  flush_diagnostics(std::chrono::seconds(5));
  std::abort();
}

bool holds(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// A long log read as a list, per commit, and streamed in pieces of changing sizes as git's
// output arrives: all read the same records or refuse the text (the stream may refuse an empty
// one).
void commit_log(std::string_view text) {
  auto log = parse_all(text, [](Input& in) { return parse_commit_log(in, 4); });
  auto commits = parse_all(text, parse_commits);
  LogStream stream(4);
  size_t piece = 1 + text.size() % 97;
  for (size_t at = 0; at < text.size(); at += piece, piece = 1 + (piece * 31 + 7) % 4099) {
    feed_log(stream, text.substr(at, piece));
  }
  fuzz_require(finish_log(stream)
                   ? log && log->commits == stream.log.commits && log->refs == stream.log.refs
                   : !log || text.empty(),
               "the streamed parse read differently");
  fuzz_require(
      log.has_value() == commits.has_value() && (!log || log->commits.size() == commits->size()),
      "the list and per-commit forms disagree on the text");
  std::vector<RefInfo> refs;
  for (size_t i = 0; log && i < commits->size(); ++i) {
    const ParsedCommit& c = (*commits)[i];
    fuzz_require(commit_from_parsed(c) == log->commits[i], "the two forms read differently");
    fuzz_require(is_object_id(c.id) && std::ranges::all_of(c.parent_ids, is_object_id),
                 "an id or parent that is no object id");
    refs.insert(refs.end(), c.refs.begin(), c.refs.end());
  }
  fuzz_require(!log || refs == log->refs, "the list form's refs differ");
}

// The stash form of reflog records, under the sanitizers (its rewrites are the endpoints' to
// check).
void stash_list(std::string_view text) {
  auto stashes = parse_all(text, parse_commits);
  for (size_t i = 0; stashes && i < stashes->size(); ++i) make_stash_entry((*stashes)[i], i);
}

// Name-status entries written back in git's "-z" form read the same again. The letter and
// score git printed are the id's end ("<new path>-<letter><score>"); a score marks two paths.
std::string written(const std::vector<NameStatusEntry>& entries) {
  std::string out;
  for (const NameStatusEntry& entry : entries) {
    std::string status = entry.id.substr(std::min(entry.id.size(), entry.new_file.size() + 1));
    bool two = status.size() > 1;
    fuzz_require(entry.id == entry.new_file + "-" + status && !status.empty() &&
                     (two || entry.old_file == entry.new_file),
                 "an id not made of the new path and a status, or one path entry with two");
    out += status + '\0' + (two ? entry.old_file + '\0' : "") + entry.new_file + '\0';
  }
  return out;
}

// The same text streamed in pieces of changing sizes, as git's output arrives: as the diff of
// one commit it reads the entries above, or fails where they do; as records it reads what the
// whole text reads.
void name_status(std::string_view text) {
  auto entries = parse_all(text, parse_name_status);
  fuzz_require(!entries || parse_all(written(*entries), parse_name_status) == entries,
               "written entries read differently");
  PatchStream diff(std::string(40, 'c')), records;
  size_t piece = 1 + text.size() % 97;
  for (size_t at = 0; at < text.size(); at += piece, piece = 1 + (piece * 31 + 7) % 4099) {
    feed_patches(diff, text.substr(at, piece));
    feed_patches(records, text.substr(at, piece));
  }
  std::optional<std::vector<NameStatusEntry>> streamed;
  if (finish_patches(diff)) {
    streamed.emplace();
    for (const Patch& p : diff.records.at(0).second)
      streamed->push_back({p.old_file, p.new_file, p.id, p.patch_type});
  }
  fuzz_require(streamed == entries, "the streamed diff read differently");
  auto whole = patch_list(text);
  fuzz_require(finish_patches(records) ? whole && records.records == *whole : !whole,
               "the streamed records read differently");
}

// Working-copy status entries in porcelain "-z" form.
std::string written(const std::vector<WipPatch>& patches) {
  std::string out;
  for (const WipPatch& patch : patches) {
    const char* letters = "? ACDMRU";
    std::string xy{letters[static_cast<int>(patch.staged_type)],
                   letters[static_cast<int>(patch.un_staged_type)], ' '};
    bool two = xy.find_first_of("RC") != std::string::npos;
    fuzz_require(two || patch.old_file == patch.new_file, "one path entry with two paths");
    out += xy + patch.new_file + '\0' + (two ? patch.old_file + '\0' : "");
  }
  return out;
}

// The entries, in their listed order, read back in that same order.
void wip_status(std::string_view text) {
  auto patches = wip_patches_from_status(text);
  fuzz_require(
      !patches || patches->empty() || wip_patches_from_status(written(*patches)) == patches,
      "written entries read differently");
}

// Each side's numbers start at the hunk header's and count on by one, past the largest int32_t
// by wrapping; a line that is no line of the file repeats the next number.
void count_on(std::optional<int32_t> number, uint32_t& next) {
  if (!number) return;
  auto n = static_cast<uint32_t>(*number);
  fuzz_require(n == next || n == next - 1, "line numbers skip");
  next = n + 1;
}

// One file's unified diff: hunks and lines in order, each line numbered as its kind says.
void diff_hunks(std::string_view text) {
  using enum HunkLineStatus;
  std::string repaired(text);
  repair_utf8(repaired);
  auto hunks = diff_hunk_spans(repaired);
  for (size_t h = 0; hunks && h < hunks->size(); ++h) {
    const HunkSpan& hunk = (*hunks)[h];
    auto index = static_cast<int32_t>(h);
    HunkLineCursor cursor = hunk_line_cursor(hunk, index);
    auto old_next = static_cast<uint32_t>(hunk.old_line_range.start);
    auto new_next = static_cast<uint32_t>(hunk.new_line_range.start);
    for (size_t i = 0; auto line = next_hunk_line(cursor); ++i) {
      std::string_view end = line->line_ending;
      fuzz_require(line->index == i && line->hunk_index == index && !holds(line->text, "\n") &&
                       (end.empty() || end == "\n" || end == "\r\n"),
                   "a line out of place, or holding a line feed or an odd line end");
      fuzz_require((line->status == Plus || line->status == Minus || line->status == Unchanged) &&
                       line->old_num.has_value() == (line->status != Plus) &&
                       line->new_num.has_value() == (line->status != Minus),
                   "a header line inside a hunk, or a line numbered against its kind");
      count_on(line->old_num, old_next);
      count_on(line->new_num, new_next);
    }
  }
}

// Config entries as "key=value" lines; a value can end with a CR only at the text's very end.
std::string written(const TextMap& entries) {
  std::string out, last;
  for (const auto& [key, value] : entries) {
    bool cr = value.ends_with('\r');
    fuzz_require(!holds(key, "=") && !holds(value, "\n") && (!cr || last.empty()),
                 "a key holds '=', a value a line feed, or two values end with a CR");
    (cr ? last : out) += key + "=" + value + (cr ? "" : "\n");
  }
  return out + last;
}

// `git config --list`: the entries read the same again.
void config(std::string_view text) {
  auto config = read_full_config(text);
  auto again = config ? read_full_config(written(config->entries)) : config;
  fuzz_require(!config || (again && again->entries == config->entries),
               "written entries read differently");
}

// A line of a row or a cell: no line end, no marker.
bool plain(std::string_view line) {
  return !holds(line, "\n") && !line.starts_with("<<<<<<<") && !line.starts_with("=======") &&
         !line.starts_with(">>>>>>>");
}

// A conflicted file (handed UTF-8 only): every row points at real cells, and the markers are
// the only lines of the file that are neither rows nor cells.
void conflicts(std::string_view bytes) {
  std::string text = decode_utf8_lossy(bytes);
  ConflictFile file = *read_conflicts(text);  // outside any request: never absent
  size_t lines = 0;
  for (const ConflictLine& row : file.lines) {
    bool ok = row.kind == ConflictLine::Kind::Ok;
    lines += ok;
    const ConflictSection* cells =
        row.section < file.sections.size() ? &file.sections[row.section] : nullptr;
    fuzz_require(ok ? plain(row.text) && row.text.size() <= file.max_line_length
                    : cells && row.index < cells->left.size() && row.index < cells->right.size(),
                 "a row holds a line end or a marker, or points past its section's cells");
  }
  for (size_t s = 0; s < file.sections.size(); ++s) {
    for (auto side : {ConflictSide::Left, ConflictSide::Right}) {
      for (const ConflictSideLine& cell :
           side == ConflictSide::Left ? file.sections[s].left : file.sections[s].right) {
        bool blank = cell.kind == ConflictSideLine::Kind::Blank;
        lines += !blank;
        fuzz_require(cell.section == s && (blank || (cell.side == side && plain(cell.text))),
                     "a cell of another section or side, or holding a line end or a marker");
      }
    }
  }
  for_each_line(text, [&](std::string_view line) { lines -= plain(line); });
  fuzz_require(lines == 0, "lines lost or invented");
}

// The line-splitting grammars through parse_all, against a plain split of the repaired text:
// the first words cover the whole text exactly when every line starts with one.
void split_lines(std::string_view bytes) {
  std::vector<std::string> lines, first_words;
  std::string text = decode_utf8_lossy(bytes);
  // A CR right before a LF belongs to the line's end, one at the text's end to the line.
  for (size_t at = 0, lf = 0; at < text.size(); at = lf + 1) {
    lf = std::min(text.find('\n', at), text.size());
    lines.push_back(
        text.substr(at, lf - at - (lf < text.size() && lf > at && text[lf - 1] == '\r')));
  }
  auto read = parse_all(bytes, [](Input& in) { return std::optional(many(in, until_new_line)); });
  fuzz_require(read == lines, "until_new_line lines differ from a plain split");
  for (const std::string& line : lines) {
    Input in{line};
    auto word = alphanumeric_word(in);
    if (!word) break;
    first_words.push_back(*word);
  }
  auto words = parse_all(bytes, first_words_of_lines);
  fuzz_require(first_words.size() == lines.size() ? words == first_words : !words,
               "first words differ from the lines' first words");
}

// The UTF-8 repair every grammar's text goes through, against ICU's converter, which also puts
// one U+FFFD for each maximal invalid subpart.
void standard_parsers(std::string_view bytes) {
  std::string text = decode_utf8_lossy(bytes), icu, in_place(bytes);
  icu::UnicodeString::fromUTF8(icu::StringPiece(bytes.data(), static_cast<int32_t>(bytes.size())))
      .toUTF8String(icu);
  repair_utf8(in_place);
  auto icu_count = static_cast<size_t>(icu::UnicodeString::fromUTF8(text).countChar32());
  fuzz_require(is_valid_utf8(text) && text == icu && in_place == text &&
                   count_code_points(text) == icu_count,
               "the repair or the code point count differs from ICU's");
}

// simdjson's DOM parser validates the whole document in its own code path, unlike the
// On-Demand reader under test.
simdjson::error_code read_with_dom(std::string_view body, simdjson::dom::element& element) {
  thread_local simdjson::dom::parser parser;
  simdjson::padded_string padded(body);
  return parser.parse(padded).get(element);
}

// JSON's grammar takes any four hex digits after "\u"; the DOM parser refuses a lone surrogate.
// Each surrogate escape becomes another escape before it looks, which keeps the syntax as it
// was (hex digits stand in for hex digits).
std::string surrogates_made_plain(std::string_view body) {
  std::string text(body);
  for (size_t at = text.find("\\u"); at != std::string::npos; at = text.find("\\u", at + 1)) {
    std::string_view digits = std::string_view(text).substr(at + 2, 4);
    bool surrogate = digits.size() == 4 && (digits[0] == 'd' || digits[0] == 'D') &&
                     std::string_view("89abcdefABCDEF").find(digits[1]) != std::string_view::npos &&
                     std::isxdigit(static_cast<unsigned char>(digits[2])) &&
                     std::isxdigit(static_cast<unsigned char>(digits[3]));
    if (surrogate) text.replace(at + 2, 4, "0020");
  }
  return text;
}

// Whether the body read as an R (a value, or the literal null); what reads is written back to
// text that reads to the same record (but a date too large for a float, written as null).
template <class R>
bool read_and_rewrite(std::string_view body) {
  JsonRead<R> read = parse_json<R>(body);
  std::string_view rest = body.substr(std::min(body.size(), body.find_first_not_of(" \t\n\r")));
  bool null = rest.substr(0, rest.find_last_not_of(" \t\n\r") + 1) == "null";
  fuzz_require(read.value ? !read.failure : read.failure || null, "a value and a failure, or none");
  if (!read.value) return !read.failure;
  std::string text = to_json(*read.value);
  JsonRead<R> again = parse_json<R>(text);
  fuzz_require(again.value ? *again.value == *read.value : holds(text, "\"ms\":null"),
               "written record reads differently");
  return true;
}

template <class... R>
bool read_as_any(std::string_view body) {
  return (static_cast<int>(read_and_rewrite<R>(body)) + ...) > 0;
}

// Every request record, and the disk cache of changed files, read the body; what any accepts
// is JSON (numbers beyond a double and nesting past the DOM's limit are JSON it refuses).
void json_requests(std::string_view body) {
  bool accepted =
      read_as_any<ReqOptions, RunOptions, ScanOptions, ReqHunkOptions, ReqWipHunksOptions,
                  ReqCommitsOptions2, TopCommitOptions, CommitDiffOpts, RefDiffOptions,
                  CodeSearchOpts, PollSearchOpts, ReqPatchesForCommitOpts, SearchOptions,
                  CommitAncestorOpts, CommitOnBranchOpts, LoadConflictOptions, ReqImageOptions,
                  MessageAC, WatchRepoOptions, CommandOptions, CommandsOptions, CloneOptions,
                  Credentials, StashStagedOptions, PollOptions, WriteFileOpts, DataStoreValues,
                  PatchMap>(body);
  simdjson::dom::element element;
  auto error = accepted ? read_with_dom(surrogates_made_plain(body), element) : simdjson::SUCCESS;
  fuzz_require(error == simdjson::SUCCESS || error == simdjson::NUMBER_ERROR ||
                   error == simdjson::NUMBER_OUT_OF_RANGE || error == simdjson::DEPTH_ERROR,
               "a record read from a body that is not JSON");
}

std::optional<std::string> string_by_dom(std::string_view body) {
  simdjson::dom::element element;
  std::string_view text;
  if (read_with_dom(body, element) || element.get_string().get(text)) return std::nullopt;
  return std::string(text);
}

// Bare string bodies: accepted and read as the DOM parser does, and written back to text that
// reads to the same string both ways.
void json_string(std::string_view body) {
  std::optional<std::string> read = read_body<std::string>(body);
  std::string text = to_json(read.value_or(""));
  fuzz_require(read == string_by_dom(body), "the bare string differs from the DOM's reading");
  fuzz_require(!read || (is_valid_utf8(*read) && read_body<std::string>(text) == read &&
                         string_by_dom(text) == read),
               "a string read that is not UTF-8, or written so that it reads differently");
}

// The map an object of strings reads as, a repeated key keeping its later value.
std::optional<std::unordered_map<std::string, std::string>> store_by_dom(std::string_view text) {
  simdjson::dom::element element;
  simdjson::dom::object object;
  if (read_with_dom(text, element) || element.get_object().get(object)) return std::nullopt;
  std::unordered_map<std::string, std::string> store;
  for (auto [key, value] : object) {
    std::string_view text_value;
    if (value.get_string().get(text_value)) return std::nullopt;
    store.insert_or_assign(std::string(key), std::string(text_value));
  }
  return store;
}

// The data-store file reader (handed UTF-8 only): a file reads exactly when it is one JSON
// object of strings, to the same map.
void data_store(std::string_view bytes) {
  std::string text = decode_utf8_lossy(bytes);
  auto read = read_data_store_text(text);
  auto dom = store_by_dom(text);
  const auto* store = std::get_if<0>(&read);
  fuzz_require(store ? dom == *store : !dom, "the store differs from the DOM's");
}

// A commit id of 40 hex digits for a number.
std::string fuzz_id(size_t n) {
  char id[41];
  std::snprintf(id, sizeof id, "%08zx%032zx", n * 2654435761u % 4294967291u, n);
  return id;
}

// The bytes as a history: commits made one after another, each with parents among the earlier
// ones or outside the list, listed newest first but for the swaps that the rest of the bytes
// ask for (a wrong clock), and maybe one stash entry sharing a commit's id.
std::vector<Commit> fuzz_history(std::string_view bytes) {
  size_t at = 0;
  auto next = [&] { return at < bytes.size() ? static_cast<unsigned char>(bytes[at++]) : 0u; };
  size_t count = 1 + next() % 16;
  std::vector<Commit> made(count);
  for (size_t k = 0; k < count; ++k) {
    made[k].id = fuzz_id(k);
    for (unsigned parents = next() % 3; parents > 0; --parents) {
      unsigned parent = next();
      made[k].parent_ids.push_back(fuzz_id(k > 0 && parent % 4 ? parent % k : count + parent % 3));
    }
  }
  std::vector<Commit> list(made.rbegin(), made.rend());
  if (unsigned stash = next(); stash % 4 == 0) {
    list.push_back(list[stash / 4 % count]);
    list.back().stash_id = "refs/stash@{0}";
    list.back().parent_ids.resize(std::min<size_t>(list.back().parent_ids.size(), 1));
  }
  while (at + 1 < bytes.size()) std::swap(list[next() % list.size()], list[next() % list.size()]);
  return list;
}

std::vector<std::string> sorted(std::vector<std::string> ids) {
  std::sort(ids.begin(), ids.end());
  return ids;
}

// The walk in list order answers every pair as the walk over the whole map does, whatever the
// list puts before what.
void commits_between(std::string_view bytes) {
  CommitsAndRefs history{fuzz_history(bytes), {}, std::nullopt};
  history.out_of_order = out_of_order_stretches(history.commits);
  CommitsById map = commits_by_id(history.commits);
  for (const Commit& a : history.commits) {
    for (const Commit& b : history.commits) {
      auto listed = listed_commit_ids_between(a.id, b.id, history);
      auto whole = commit_ids_between(a.id, b.id, map);
      fuzz_require(listed && whole && sorted(*listed) == sorted(*whole),
                   "the listed walk and the whole map disagree");
    }
  }
}

constexpr FuzzTarget TARGETS[] = {
    {"commit_log", commit_log},
    {"commits_between", commits_between},
    {"config", config},
    {"conflicts", conflicts},
    {"data_store", data_store},
    {"diff_hunks", diff_hunks},
    {"json_requests", json_requests},
    {"json_string", json_string},
    {"name_status", name_status},
    {"split_lines", split_lines},
    {"standard_parsers", standard_parsers},
    {"stash_list", stash_list},
    {"wip_status", wip_status},
};

}  // namespace

std::span<const FuzzTarget> fuzz_targets() {
  return TARGETS;
}

}  // namespace brackwen
