// Whole-file reads and whole-buffer writes that never stall the request loop, and where the
// working files git reports lie.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brackwen {

// Repeats partial writes and writes interrupted by a signal. False on any other error, or
// when a write stores nothing; the descriptor may then hold part of the bytes. errno tells.
bool write_whole(int fd, std::string_view bytes);

// The whole content of a regular file; nothing for anything else. Opened non-blocking, since
// a FIFO would stall the one request thread and a device such as /dev/zero would never end.
std::optional<std::string> read_regular_file(const std::filesystem::path& path);

// What git takes for the content of a work-tree path: a regular file's bytes, or the target
// text of a symbolic link (`is_link`), never what the link points at.
struct WorkTreeEntry {
  std::string bytes;
  bool is_link = false;
  // A regular file longer than the reader's bound: `bytes` is then empty.
  bool too_large = false;
};

// The top of the work tree git uses for the folder `repo_path`, as one `git rev-parse` there
// answers (repository_location): the paths git reports are relative to it, whether the folder
// is that top, a folder below it, or holds a repository whose core.worktree names another.
// Absent where git finds no repository, or a bare one.
std::optional<std::string> work_tree_top(const std::string& repo_path);

// The entry at `path`, relative as git names it, below the directory `root`. Nothing for
// anything but a regular file (read as read_regular_file reads) or a link, for a path that
// is absolute, climbs with "..", or holds NUL, and when a directory on the way is a link:
// git refuses a path "beyond a symbolic link", and following one would read outside the
// repository. A file longer than `max_bytes` is not read, and one that grows past it while
// it is read is read no further: either is `too_large`.
std::optional<WorkTreeEntry> read_work_tree_entry(const std::filesystem::path& root,
                                                  const std::filesystem::path& path,
                                                  uint64_t max_bytes = UINT64_MAX);

// The regular file at `path` joined to the directory `root` as paths join (an absolute `path`
// stands alone, ".." is taken as written), read as read_regular_file reads. No symbolic link is
// followed while the walk is inside `root`, so that what lies there cannot point the reader at
// other files; once a ".." has taken the walk above `root`, the rest is resolved as any path
// is, being the caller's own choice.
std::optional<std::string> read_joined_file(const std::filesystem::path& root,
                                            const std::filesystem::path& path);

}  // namespace brackwen
