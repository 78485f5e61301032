// The commit image: git's bytes go to the file as git prints them, without any text decoding,
// so that a large file costs the server one read buffer rather than its whole size. The blob is
// named and weighed first, and a blob past the reply cap is never read.
#include "git/commit_image.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <vector>

#include "git/file_io.hpp"
#include "git/git_version.hpp"
#include "git/process.hpp"
#include "git/queries/hunks/reply_size.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/diagnostics.hpp"

namespace brackwen {
namespace {

// The listings write a name that is not UTF-8 with U+FFFD in its place, so such a path may
// stand for another file than the one shown.
constexpr std::string_view REPLACEMENT_CHARACTER = "\xEF\xBF\xBD";
constexpr std::string_view BLOB_TYPE = "blob";
// cat-file reads names ended by NUL from this version on.
constexpr GitVersion FIRST_WITH_NUL_ENDED_NAMES = {2, 38, 0};

// A blob found under a name: its object id and its size in bytes.
struct Blob {
  std::string id;
  uint64_t size = 0;
};

// Whether `size` is a whole decimal number of bytes, into `blob`.
bool read_size(std::string_view size, Blob& blob) {
  auto read = std::from_chars(size.data(), size.data() + size.size(), blob.size);
  return read.ec == std::errc() && read.ptr == size.data() + size.size();
}

// `git cat-file --batch-check` answers "<id> <type> <size>" for an object it finds, and the
// name with "missing" or "ambiguous" otherwise: only the first reads as a blob here. The name
// goes on standard input ended by NUL, whatever it holds.
std::optional<Blob> checked_blob(const std::string& repo_path, const std::string& name) {
  std::string out;
  StreamHandlers handlers;
  std::string input = name + '\0';
  handlers.input = input;
  handlers.on_out = [&](std::string_view bytes) { out.append(bytes); };
  auto end = stream_git(repo_path, {"cat-file", "--batch-check", "-z"}, handlers);
  if (!end || end->status != 0 || !out.ends_with('\n')) return std::nullopt;
  std::string_view line(out.data(), out.size() - 1);
  size_t first = line.find(' ');
  size_t second = line.find(' ', first + 1);
  if (first == std::string_view::npos || second == std::string_view::npos) return std::nullopt;
  std::string_view id = line.substr(0, first);
  Blob blob{std::string(id)};
  bool whole = read_size(line.substr(second + 1), blob);
  if (!is_object_id(id) || line.substr(first + 1, second - first - 1) != BLOB_TYPE || !whole) {
    return std::nullopt;
  }
  return blob;
}

// The entry named `leaf` of `git ls-tree -z -l`, whose entries are "<mode> <type> <id>
// <size>\t<name>" ended by NUL, the size padded with blanks before it.
std::optional<Blob> listed_entry(std::string_view listing, std::string_view leaf) {
  while (!listing.empty()) {
    std::string_view entry = listing.substr(0, listing.find('\0'));
    listing.remove_prefix(std::min(listing.size(), entry.size() + 1));
    size_t tab = entry.find('\t');
    if (tab == std::string_view::npos || entry.substr(tab + 1) != leaf) continue;
    std::vector<std::string_view> fields;
    for (std::string_view rest = entry.substr(0, tab); !rest.empty();) {
      std::string_view field = rest.substr(0, rest.find(' '));
      if (!field.empty()) fields.push_back(field);
      rest.remove_prefix(std::min(rest.size(), field.size() + 1));
    }
    Blob blob;
    if (fields.size() != 4 || fields[1] != BLOB_TYPE || !is_object_id(fields[2]) ||
        !read_size(fields[3], blob)) {
      return std::nullopt;
    }
    blob.id = fields[2];
    return blob;
  }
  return std::nullopt;
}

// The same lookup, one step later: the entry of the tree that holds the path, from that tree's
// listing. Before git 2.38 cat-file ended a name at its line end (and dropped a "\r" before
// it); ls-tree takes the tree and the entry's name, a literal pathspec, as arguments.
std::optional<Blob> listed_blob(const std::string& repo_path, const std::string& commit_id,
                                const std::string& path) {
  size_t slash = path.rfind('/');
  std::string tree = commit_id + ":" + (slash == std::string::npos ? "" : path.substr(0, slash));
  std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  auto args =
      revision_args({"ls-tree", "-z", "-l", "--full-tree"}, {tree}, Paths{literal_pathspec(leaf)});
  if (!args) return std::nullopt;
  std::string out;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) { out.append(bytes); };
  auto end = stream_git(repo_path, *args, handlers);
  if (!end || end->status != 0) return std::nullopt;
  return listed_entry(out, leaf);
}

std::optional<Blob> find_blob(const std::string& repo_path, const std::string& commit_id,
                              const std::string& path) {
  if (git_is_at_least(FIRST_WITH_NUL_ENDED_NAMES)) {
    return checked_blob(repo_path, commit_id + ":" + path);
  }
  return listed_blob(repo_path, commit_id, path);
}

// The target, opened at git's first byte: a git that prints nothing leaves it untouched.
struct ImageWrite {
  const std::string& path;
  int fd = -1;
  bool failed = false;
};

void write_piece(ImageWrite& image, std::string_view bytes) {
  if (image.failed) return;
  if (image.fd < 0) {
    // O_NONBLOCK: a FIFO without a reader fails at once instead of stalling every request.
    image.fd =
        ::open(image.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  }
  image.failed = image.fd < 0 || !write_whole(image.fd, bytes);
}

}  // namespace

bool load_commit_image(const std::string& repo_path, const std::string& commit_id,
                       const std::string& original_path, const std::string& target_path) {
  // A blob by its path whatever the path holds: "show" would split "<id>:a..b" into the range
  // from "<id>:a" to "b" and print its history, its text conversions run. The revision follows
  // "--end-of-options" (a leading "-" would be an option). An empty path is the root tree.
  if (original_path.empty() || target_path.find('\0') != std::string::npos) return false;
  std::string name = commit_id + ":" + original_path;
  if (name.find('\0') != std::string::npos || !revision_args({"cat-file", "blob"}, {name})) {
    return false;
  }
  if (original_path.find(REPLACEMENT_CHARACTER) != std::string::npos) {
    write_stderr(
        "Commit image not read: its path holds U+FFFD, which may stand for another "
        "file's name\n");
    return false;
  }
  std::optional<Blob> blob = find_blob(repo_path, commit_id, original_path);
  if (!blob) return false;
  if (blob->size > MAX_REPLY_BYTES) {
    write_stderr("Commit image not read: the file is " + std::to_string(blob->size) +
                 " bytes, past the cap of " + std::to_string(MAX_REPLY_BYTES >> 20) + " MiB\n");
    return false;
  }
  // By its id: the name may have moved meanwhile.
  auto args = revision_args({"cat-file", "blob"}, {blob->id});
  if (!args) return false;
  ImageWrite image{target_path};
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) { write_piece(image, bytes); };
  // A file that cannot take more ends git at once.
  handlers.cancelled = [&] { return image.failed; };
  auto end = stream_git(repo_path, *args, handlers);
  if (image.fd < 0) return false;
  // A failed close can be the first report of a failed write (NFS, quota).
  bool closed = ::close(image.fd) == 0;
  return end && end->status == 0 && end->out_error == 0 && !image.failed && closed;
}

}  // namespace brackwen
