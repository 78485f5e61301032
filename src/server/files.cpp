// The file services, straight on the POSIX calls so that errors never throw.
#include "server/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "git/file_io.hpp"
#include "git/process.hpp"
#include "parser/utf8.hpp"
#include "stores/environment.hpp"

namespace brackwen {
namespace {

// A NUL would cut the path short and name some other file.
std::optional<std::string> c_path(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  return std::string(path);
}

std::optional<struct stat> stat_path(std::string_view path) {
  auto p = c_path(path);
  if (!p) return std::nullopt;
  struct stat st;
  if (::stat(p->c_str(), &st) != 0) return std::nullopt;
  return st;
}

}  // namespace

bool path_exists(std::string_view path) {
  return stat_path(path).has_value();
}

std::optional<std::string> temp_dir() {
  auto value = get_environment("TMPDIR");
  if (!value) return "/tmp";
  if (!is_valid_utf8(*value)) return std::nullopt;
  return value;
}

std::optional<uint64_t> file_size(std::string_view path) {
  auto st = stat_path(path);
  if (!st) return std::nullopt;
  return static_cast<uint64_t>(st->st_size);
}

bool write_file(std::string_view file_path, std::string_view content) {
  auto p = c_path(file_path);
  if (!p) return false;
  // O_NONBLOCK: a FIFO without a reader fails at once instead of stalling every request.
  int fd = ::open(p->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  bool ok = write_whole(fd, content);
  // A failed close can be the first report of a failed write (NFS, quota).
  return ::close(fd) == 0 && ok;
}

}  // namespace brackwen
