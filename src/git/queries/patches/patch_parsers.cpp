// Name-status entries and commit records of "-z" output. With "-z" git writes every path
// verbatim and ends it with NUL, so only NUL ends a path: tabs, line ends, leading blanks and
// other control characters are part of the name.
#include "git/queries/patches/patch_parsers.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <set>
#include <unordered_set>

#include "git/reading/request_budget.hpp"
#include "git/revisions.hpp"
#include "parser/diagnostics.hpp"
#include "parser/standard_parsers.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

constexpr std::string_view SINGLE_PATH_LETTERS = "ABCDMTUX";

constexpr std::array<std::string_view, 10> IMAGE_EXTENSIONS = {
    ".apng", ".bmp", ".gif", ".ico", ".cur", ".jpg", ".jpeg", ".png", ".svg", ".webp"};

// The text up to the next NUL, which is consumed; the rest of the input when none follows.
std::string_view until_nul(Input& in) {
  size_t start = in.position;
  const char* begin = in.text.data() + start;
  auto* nul = static_cast<const char*>(std::memchr(begin, '\0', in.text.size() - start));
  size_t end = nul ? start + static_cast<size_t>(nul - begin) : in.text.size();
  in.advance_to(nul ? end + 1 : end);
  return in.text.substr(start, end - start);
}

PatchType type_of_letter(char letter) {
  switch (letter) {
    case 'A':
      return PatchType::A;
    case 'B':
      return PatchType::B;
    case 'C':
      return PatchType::C;
    case 'D':
      return PatchType::D;
    case 'R':
      return PatchType::R;
    case 'T':
      return PatchType::T;
    case 'U':
      return PatchType::U;
    case 'X':
      return PatchType::X;
    default:
      return PatchType::M;
  }
}

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ends_with_lowered(std::string_view name, std::string_view lower_suffix) {
  if (name.size() < lower_suffix.size()) return false;
  name.remove_prefix(name.size() - lower_suffix.size());
  for (size_t i = 0; i < name.size(); ++i) {
    if (ascii_lower(name[i]) != lower_suffix[i]) return false;
  }
  return true;
}

// "R" or "C", a score, then the old and the new path.
std::optional<NameStatusEntry> two_path_entry(Input& in, std::string_view letter) {
  return sequence(in, [&](Input& in) -> std::optional<NameStatusEntry> {
    if (!literal(in, letter)) return std::nullopt;
    auto score = numeric_word(in);
    if (!score) return std::nullopt;
    until_nul(in);
    NameStatusEntry entry;
    entry.old_file = until_nul(in);
    entry.new_file = until_nul(in);
    entry.id = entry.new_file + "-" + std::string(letter) + *score;
    entry.patch_type = type_of_letter(letter[0]);
    return entry;
  });
}

std::optional<NameStatusEntry> one_path_entry(Input& in) {
  if (in.at_end()) return std::nullopt;
  char letter = in.text[in.position];
  if (SINGLE_PATH_LETTERS.find(letter) == std::string_view::npos) return std::nullopt;
  in.advance();
  until_nul(in);
  NameStatusEntry entry;
  entry.new_file = until_nul(in);
  entry.old_file = entry.new_file;
  entry.id = entry.new_file + "-" + letter;
  entry.patch_type = type_of_letter(letter);
  return entry;
}

std::optional<NameStatusEntry> name_status_entry(Input& in) {
  return choice(
      in, [](Input& in) { return two_path_entry(in, "R"); },
      [](Input& in) { return two_path_entry(in, "C"); }, one_path_entry);
}

// The requests whose reads' refusals are told by another read (QuietRefusals).
struct QuietRequests {
  std::mutex mutex;
  std::multiset<const RequestBudget*> requests;
};

QuietRequests& QUIET_REQUESTS() {
  static QuietRequests quiet;
  return quiet;
}

}  // namespace

std::optional<std::vector<NameStatusEntry>> parse_name_status(Input& in) {
  return many(in, name_status_entry);
}

Patch patch_from_entry(NameStatusEntry entry, const std::string& commit_id) {
  Patch patch;
  patch.commit_id = commit_id;
  patch.is_image = is_image(entry.new_file);
  patch.old_file = std::move(entry.old_file);
  patch.new_file = std::move(entry.new_file);
  patch.patch_type = entry.patch_type;
  patch.id = std::move(entry.id);
  return patch;
}

namespace {

uint64_t patch_bytes(const Patch& patch) {
  return sizeof(Patch) + heap_bytes(patch.commit_id) + heap_bytes(patch.old_file) +
         heap_bytes(patch.new_file) + heap_bytes(patch.id);
}

// The caps of a record are judged as its entries are read; a record refused once keeps nothing
// more.
void add_entry(PatchStream& stream, NameStatusEntry entry) {
  if (stream.refusing) return;
  stream.path_bytes += entry.old_file.size() + entry.new_file.size();
  std::vector<Patch>& files = stream.record.second;
  if (files.size() < MAX_COMMIT_FILES && stream.path_bytes <= MAX_COMMIT_PATH_BYTES) {
    files.push_back(patch_from_entry(std::move(entry), stream.record.first));
    stream.kept_bytes += patch_bytes(files.back());
    return;
  }
  stream.refusing = true;
  stream.kept_bytes -= patch_list_bytes(files);
  std::vector<Patch>().swap(files);
  stream.refused.push_back(stream.record.first);
}

void close_record(PatchStream& stream) {
  stream.records.push_back(std::move(stream.record));
  stream.record = {};
  stream.open = false;
  stream.path_bytes = 0;
  stream.refusing = false;
}

// "<id>," and the blank git writes after it; the id runs to the next "," or the end.
bool open_record(PatchStream& stream, Input& in) {
  size_t start = in.position;
  size_t comma = in.text.find(',', start);
  size_t id_end = comma == std::string_view::npos ? in.text.size() : comma;
  if (!is_object_id(in.text.substr(start, id_end - start))) return false;
  in.advance_to(comma == std::string_view::npos ? id_end : id_end + 1);
  stream.record = {in.slice(start, id_end), {}};
  stream.open = true;
  optional_whitespace(in);
  return true;
}

// Whether an entry read at the end of the text had all its paths there: a rename or copy with
// a score has two, others one, each ended by a NUL like its letter.
bool whole_entry(std::string_view read, const NameStatusEntry& entry) {
  bool scored = entry.id.size() > entry.new_file.size() + 2;
  return static_cast<size_t>(std::count(read.begin(), read.end(), '\0')) == (scored ? 3 : 2);
}

// Reads `text`, made of whole NUL-ended pieces unless it is the `last` of the output, as far as
// it goes; returns how much was read. An entry that needs more of the output is left for later.
size_t read_entries(PatchStream& stream, std::string_view text, bool last) {
  Input in{text};
  while (!stream.failed) {
    size_t start = in.position;
    if (!stream.open && in.at_end()) break;
    if (!stream.open) {
      stream.failed = !open_record(stream, in);
      continue;
    }
    if (in.at_end()) {
      if (last) close_record(stream);
      break;
    }
    std::optional<NameStatusEntry> entry = name_status_entry(in);
    if (!entry && !stream.headers) {
      stream.failed = true;  // the diff of one commit is entries alone
    } else if (!entry) {
      until_nul(in);
      close_record(stream);
    } else if (!last && in.at_end() &&
               !whole_entry(text.substr(start, in.position - start), *entry)) {
      in.reset(start);
      break;
    } else {
      add_entry(stream, std::move(*entry));
    }
  }
  if (stream.failed) report_parse_failure(in);
  return in.position;
}

// The first `end` bytes of `pending` read; what is not read stays, repaired (repairing it again
// changes nothing).
void read_pending(PatchStream& stream, size_t end, bool last) {
  std::string_view text = std::string_view(stream.pending).substr(0, end);
  std::string fixed;
  if (!is_valid_utf8(text)) {
    stream.repaired = true;
    fixed = decode_utf8_lossy(text);
    text = fixed;
  }
  size_t read = read_entries(stream, text, last);
  if (fixed.empty()) {
    stream.pending.erase(0, read);
  } else {
    stream.pending.replace(0, end, fixed, read);
  }
  stream.unended = text.size() - read;
}

// A path printed past the caps is kept only as far as refusing its commit needs, cut on a
// character boundary.
void bound_unended(PatchStream& stream) {
  size_t least = stream.unended + MAX_COMMIT_PATH_BYTES + 1;
  size_t end = least + 3;
  if (stream.pending.size() <= end) return;
  while (end > least && (static_cast<unsigned char>(stream.pending[end]) & 0xC0) == 0x80) --end;
  stream.pending.resize(end);
  stream.dropping = true;
}

}  // namespace

uint64_t patch_list_bytes(const std::vector<Patch>& files) {
  uint64_t bytes = 0;
  for (const Patch& patch : files) bytes += patch_bytes(patch);
  return bytes;
}

PatchStream::PatchStream(std::optional<std::string> commit_id) {
  if (!commit_id) return;
  headers = false;
  open = true;
  record.first = std::move(*commit_id);
}

void feed_patches(PatchStream& stream, std::string_view bytes) {
  if (stream.failed) return;
  if (stream.dropping) {
    size_t nul = bytes.find('\0');
    if (nul == std::string_view::npos) return;
    bytes.remove_prefix(nul);
    stream.dropping = false;
  }
  size_t nul = bytes.rfind('\0');
  size_t before = stream.pending.size();
  stream.pending.append(bytes);
  if (nul != std::string_view::npos) read_pending(stream, before + nul + 1, false);
  bound_unended(stream);
}

bool finish_patches(PatchStream& stream) {
  if (!stream.failed) read_pending(stream, stream.pending.size(), true);
  return !stream.failed;
}

namespace {

// The commits whose refusal was told: a window's load, a click's own read of one commit and a
// search may each meet the same commit, at moments no lock orders. Bounded, past which a line
// may come twice rather than the set grow.
constexpr size_t MAX_TOLD_REFUSALS = 1 << 16;

bool first_refusal(std::string_view commit_id) {
  static std::mutex mutex;
  static std::unordered_set<std::string> told;
  std::lock_guard lock(mutex);
  if (told.size() >= MAX_TOLD_REFUSALS) return true;
  return told.emplace(commit_id).second;
}

}  // namespace

void report_refused(std::string_view commit_id) {
  if (!refusals_told() || !first_refusal(commit_id)) return;
  write_stderr("Commit " + std::string(commit_id) + ": its diff lists more than " +
               std::to_string(MAX_COMMIT_FILES) + " files or " +
               std::to_string(MAX_COMMIT_PATH_BYTES >> 20) +
               " MiB of paths; its changed files are not read\n");
}

QuietRefusals::QuietRefusals(const RequestBudget* request) : request(request) {
  if (!request) return;
  std::lock_guard lock(QUIET_REQUESTS().mutex);
  QUIET_REQUESTS().requests.insert(request);
}

QuietRefusals::~QuietRefusals() {
  if (!request) return;
  std::lock_guard lock(QUIET_REQUESTS().mutex);
  auto& requests = QUIET_REQUESTS().requests;
  requests.erase(requests.find(request));
}

bool refusals_told() {
  // The request is carried into every task and thread that reads for it, where this thread's
  // own state is not.
  std::shared_ptr<RequestBudget> request = current_request_budget();
  if (!request) return true;
  std::lock_guard lock(QUIET_REQUESTS().mutex);
  return !QUIET_REQUESTS().requests.contains(request.get());
}

std::optional<std::vector<CommitPatches>> patch_list(std::string_view text) {
  PatchStream stream;
  feed_patches(stream, text);
  if (!finish_patches(stream)) return std::nullopt;
  return std::move(stream.records);
}

bool is_image(std::string_view file_name) {
  bool ascii = true;
  for (char c : file_name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  std::string lowered;
  if (!ascii) {
    // Full lower-casing can change lengths and turn non-ASCII letters into ASCII ones.
    icu::UnicodeString::fromUTF8(icu::StringPiece(file_name.data(), file_name.size()))
        .toLower(icu::Locale::getRoot())
        .toUTF8String(lowered);
    file_name = lowered;
  }
  for (std::string_view extension : IMAGE_EXTENSIONS) {
    if (ends_with_lowered(file_name, extension)) return true;
  }
  return false;
}

}  // namespace brackwen
