// The grammar of git's "--name-status -z" output, whole commit records of it, and the image
// test of a changed file.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/patch.hpp"
#include "parser/input.hpp"

namespace brackwen {

struct RequestBudget;

// One changed file before its commit is known.
struct NameStatusEntry {
  std::string old_file;
  std::string new_file;
  std::string id;  // the new path, "-", the letter, and the score of a rename or copy
  PatchType patch_type = PatchType::M;
  bool operator==(const NameStatusEntry&) const = default;
};

// The entries that begin at `position`; never fails. A letter it does not know ends the list.
std::optional<std::vector<NameStatusEntry>> parse_name_status(Input& in);

Patch patch_from_entry(NameStatusEntry entry, const std::string& commit_id);

using CommitPatches = std::pair<std::string, std::vector<Patch>>;

// A commit whose diff lists more files than this, or more path text (old and new paths
// together), is read past and its files are not kept. No honest commit comes near: the
// largest of Linux's history list some tens of thousands of files in well under 4 MiB of
// paths, while two trees of a thousand entries, one naming the other a thousand times, list a
// million files from a repository of a few kilobytes.
inline constexpr size_t MAX_COMMIT_FILES = 100000;
inline constexpr size_t MAX_COMMIT_PATH_BYTES = size_t{32} << 20;

// Name-status output read while git prints it (feed_patches, then finish_patches): the records
// of "--pretty=format:%H," or, for a stream made with a commit id, the entries of that one
// commit's diff. A commit's files are kept while they stay within the caps above; a commit past
// them keeps none and its record's id goes to `refused` (a merge's record may be named after
// its second parent: the reader, who knows which commit it stands for, reports it with
// report_refused). Only the entry being printed is held, so the memory is that of the files
// kept.
struct PatchStream {
  explicit PatchStream(std::optional<std::string> commit_id = std::nullopt);
  std::vector<CommitPatches> records;  // whole records, in order; a refused one has no files
  std::vector<std::string> refused;    // the ids of the records past the caps, in order
  bool repaired = false;               // some bytes were not UTF-8 and read as U+FFFD
  bool failed = false;                 // the text does not read; nothing more is read

  bool headers = true;    // records begin with "%H,"
  bool open = false;      // `record` is being read
  CommitPatches record;   // the record being read
  size_t path_bytes = 0;  // of `record`'s entries
  // What the records read so far hold (patch_list_bytes), those handed on included: what the
  // reader charges its request (HeldBytes).
  uint64_t kept_bytes = 0;
  bool refusing = false;  // `record` passed the caps
  std::string pending;    // the bytes not read yet: the entry being printed
  size_t unended = 0;     // where the text after the last NUL begins in `pending`
  bool dropping = false;  // the rest of a path too long to keep, up to its NUL
};

void feed_patches(PatchStream& stream, std::string_view bytes);

// What a list of changed files holds in memory, for the charge of a request (HeldBytes).
uint64_t patch_list_bytes(const std::vector<Patch>& files);

// True when the whole text read, as patch_list reads it.
bool finish_patches(PatchStream& stream);

// The one line on standard error for a commit whose files are past the caps; `commit_id` is a
// checked object id, so the line stays one. Not written while refusals_told() is false, nor
// again for a commit it was written for once.
void report_refused(std::string_view commit_id);

// While it lives, the lines about commits refused by the reads made for `request` are not
// written: another read of the same commits, already under way, writes them.
struct QuietRefusals {
  explicit QuietRefusals(const RequestBudget* request);
  ~QuietRefusals();
  QuietRefusals(const QuietRefusals&) = delete;
  QuietRefusals& operator=(const QuietRefusals&) = delete;
  const RequestBudget* request;
};

// Whether the lines about commits the reads of this thread's request refuse are written.
bool refusals_told();

// Records of "--pretty=format:%H," with "--name-status -z": each commit id with its files.
std::optional<std::vector<CommitPatches>> patch_list(std::string_view text);

// By the extension of the fully lower-cased name.
bool is_image(std::string_view file_name);

}  // namespace brackwen
