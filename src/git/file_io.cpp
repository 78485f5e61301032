// Reads that open nothing but regular files, never through a link inside a work tree.
#include "git/file_io.hpp"

#include <fcntl.h>
#include <linux/limits.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

#include "git/reading/repository_location.hpp"
#include "git/reading/request_budget.hpp"

namespace brackwen {
namespace {

struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

constexpr size_t SCRATCH_BYTES = size_t{1} << 16;

// Appends what the descriptor holds, up to one byte past `max_bytes`, which tells a file that
// grew past the bound from one that ends at it, charging it to `held` when there is one. False
// on a read error, and once the request holds too much.
bool read_up_to(int fd, std::string& out, uint64_t max_bytes, HeldBytes* held) {
  auto scratch = std::make_unique_for_overwrite<char[]>(SCRATCH_BYTES);
  while (out.size() <= max_bytes) {
    uint64_t room = max_bytes - out.size();
    size_t wanted = room < SCRATCH_BYTES ? static_cast<size_t>(room) + 1 : SCRATCH_BYTES;
    ssize_t n = ::read(fd, scratch.get(), wanted);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    if (held && !held->set(std::max<uint64_t>(out.size() + n, out.capacity()))) return false;
    out.append(scratch.get(), static_cast<size_t>(n));
  }
  return true;
}

// Takes the descriptor (-1 for a failed open) and closes it. A file read whole is charged to
// the request (HeldBytes) with `held`; the work tree's entries (`held` null) are the line
// diff's, which has a budget of its own.
std::optional<WorkTreeEntry> read_if_regular(int fd, uint64_t max_bytes = UINT64_MAX,
                                             HeldBytes* held = nullptr) {
  Descriptor file{fd};
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  WorkTreeEntry entry;
  auto size = static_cast<uint64_t>(info.st_size);
  if (size <= max_bytes) {
    if (held && !held->set(size)) return std::nullopt;
    entry.bytes.reserve(static_cast<size_t>(size));
    if (!read_up_to(fd, entry.bytes, max_bytes, held)) return std::nullopt;
  }
  if (size > max_bytes || entry.bytes.size() > max_bytes) {
    entry.bytes = std::string();
    entry.too_large = true;
  }
  return entry;
}

// A whole file read from `fd`, charged to the request for as long as it lasts: the caller
// holds it.
std::optional<std::string> whole_file(int fd) {
  HeldBytes held("File read");
  std::optional<WorkTreeEntry> entry = read_if_regular(fd, UINT64_MAX, &held);
  if (!entry) return std::nullopt;
  held.keep();
  return std::move(entry->bytes);
}

// The directory at `relative` below `root_fd`, reached without following any link; -1 when
// there is none.
int open_directory_beneath(int root_fd, const std::filesystem::path& relative) {
  open_how how{};
  // O_PATH: a directory needs only to be searchable, as for git, and nothing is opened.
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
  auto fd = ::syscall(SYS_openat2, root_fd, relative.c_str(), &how, sizeof how);
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
  // Kernels before 5.6 lack openat2, and some sandboxes refuse it: one component at a time.
  // With O_DIRECTORY a link that is not followed fails as "not a directory".
  int dir = ::dup(root_fd);
  for (const auto& part : relative) {
    if (dir < 0) break;
    int next = ::openat(dir, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(dir);
    dir = next;
  }
  return dir;
}

bool is_plain_relative(const std::filesystem::path& path) {
  auto name = path.filename();
  return path.is_relative() && !name.empty() && name != "." &&
         std::none_of(path.begin(), path.end(), [](const auto& part) { return part == ".."; }) &&
         path.native().find('\0') == std::string::npos;
}

// The components of `path` walked inside the directory it is joined to, then, from the ".."
// that first climbs above that directory, the rest (empty when none does). Where no link is
// followed a ".." steps back to where the walk came from, so the count of components tells
// where the walk is.
std::pair<std::filesystem::path, std::filesystem::path> split_at_climb(
    const std::filesystem::path& path) {
  std::filesystem::path inside;
  size_t depth = 0;
  for (auto part = path.begin(); part != path.end(); ++part) {
    if (*part == ".." && depth == 0) {
      std::filesystem::path outside;
      for (; part != path.end(); ++part) outside /= *part;
      return {inside, outside};
    }
    if (*part == "..") {
      --depth;
    } else if (*part != "." && !part->empty()) {
      ++depth;
    }
    inside /= *part;
  }
  return {inside, {}};
}

}  // namespace

bool write_whole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::optional<std::string> read_regular_file(const std::filesystem::path& path) {
  return whole_file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

std::optional<std::string> work_tree_top(const std::string& repo_path) {
  auto location = repository_location(repo_path);
  if (!location) return std::nullopt;
  return location->work_tree_top;
}

std::optional<WorkTreeEntry> read_work_tree_entry(const std::filesystem::path& root,
                                                  const std::filesystem::path& path,
                                                  uint64_t max_bytes) {
  if (!is_plain_relative(path) || root.native().find('\0') != std::string::npos) {
    return std::nullopt;
  }
  Descriptor root_dir{::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
  if (root_dir.fd < 0) return std::nullopt;
  auto parent = path.parent_path();
  Descriptor dir{open_directory_beneath(root_dir.fd, parent.empty() ? "." : parent)};
  if (dir.fd < 0) return std::nullopt;
  auto name = path.filename();
  // Linux keeps a link's target below PATH_MAX bytes.
  std::string target(PATH_MAX, '\0');
  auto length = ::readlinkat(dir.fd, name.c_str(), target.data(), target.size());
  if (length >= 0) {
    target.resize(static_cast<size_t>(length));
    return WorkTreeEntry{std::move(target), true};
  }
  // O_NOFOLLOW: the name may have become a link since readlinkat looked.
  return read_if_regular(
      ::openat(dir.fd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW), max_bytes);
}

std::optional<std::string> read_joined_file(const std::filesystem::path& root,
                                            const std::filesystem::path& path) {
  if (root.native().find('\0') != std::string::npos ||
      path.native().find('\0') != std::string::npos) {
    return std::nullopt;
  }
  if (path.is_absolute()) return read_regular_file(path);
  Descriptor root_dir{::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
  if (root_dir.fd < 0) return std::nullopt;
  auto [inside, outside] = split_at_climb(path);
  if (!outside.empty()) {
    Descriptor dir{open_directory_beneath(root_dir.fd, inside.empty() ? "." : inside)};
    if (dir.fd < 0) return std::nullopt;
    return whole_file(::openat(dir.fd, outside.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  }
  auto parent = inside.parent_path();
  Descriptor dir{open_directory_beneath(root_dir.fd, parent.empty() ? "." : parent)};
  if (dir.fd < 0) return std::nullopt;
  return whole_file(
      ::openat(dir.fd, inside.filename().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
}

}  // namespace brackwen
