// The data-store file: where it lives, how it is read, and how it is replaced safely.
#include "server/data_store.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "api_types/json_writer.hpp"
#include "git/file_io.hpp"
#include "git/process.hpp"
#include "parser/diagnostics.hpp"
#include "parser/utf8.hpp"
#include "server/data_store_reader.hpp"
#include "server/static_files.hpp"
#include "stores/environment.hpp"
#include "stores/user_dirs.hpp"

namespace brackwen {
namespace {

constexpr const char* FILE_NAME = "data_store.json";
constexpr const char* APP_DIR = "brackwen";

// The system's text for the error number, as the front end has always shown it.
std::string os_error(int err) {
  char buf[256];
  const char* text = strerror_r(err, buf, sizeof buf);
  return std::string(text) + " (os error " + std::to_string(err) + ")";
}

SetDataStoreResult failure(std::string message) {
  return {false, std::move(message)};
}

// The file a save replaces: the target of a symbolic link, so that a linked settings file
// stays linked.
std::filesystem::path save_target(const std::filesystem::path& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::error_code ec;
  auto target = std::filesystem::canonical(path, ec);
  return ec ? path : target;
}

// Opens a fresh file beside `target`; its name goes to `temp`.
int open_temp(const std::filesystem::path& target, std::filesystem::path& temp) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = target;
    temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The error that opening the existing file for writing would give, so that a store the user
// made read-only, or a directory in its place, is refused rather than replaced. 0 when it
// may be replaced (or does not exist yet).
int replace_refusal(const std::filesystem::path& target) {
  struct stat st;
  if (::stat(target.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  // Renaming over a device or pipe would replace the node itself.
  if (!S_ISREG(st.st_mode)) return EINVAL;
  int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

// A rewritten store keeps the permission bits of the one it replaces.
void keep_mode(int fd, const std::filesystem::path& target) {
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
}

// Writes, flushes to disk and closes; errno is set when it returns false.
bool write_durably(int fd, std::string_view text) {
  bool ok = write_whole(fd, text) && ::fsync(fd) == 0;
  int err = errno;
  bool closed = ::close(fd) == 0;
  if (!ok) errno = err;
  return ok && closed;
}

// A file to its end, errno telling why a read failed. Only a regular file is read: the
// store opened without waiting for a FIFO's writer, a device in its place could be read for
// ever.
bool read_whole(int fd, std::string& out) {
  struct stat st;
  int kind_error = ::fstat(fd, &st) != 0 ? errno
                   : S_ISREG(st.st_mode) ? 0
                   : S_ISDIR(st.st_mode) ? EISDIR
                                         : EINVAL;
  if (kind_error != 0) {
    ::close(fd);
    errno = kind_error;
    return false;
  }
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  int err = errno;
  ::close(fd);
  errno = err;
  return n == 0;
}

void sync_directory(const std::filesystem::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::optional<std::filesystem::path> data_store_dir() {
  auto data_home = get_environment("XDG_DATA_HOME");
  if (data_home && data_home->starts_with('/')) return std::filesystem::path(*data_home) / APP_DIR;
  auto home = home_dir();
  if (!home) return std::nullopt;
  return *home / ".local" / "share" / APP_DIR;
}

std::optional<std::filesystem::path> data_store_path() {
  auto dir = data_store_dir();
  if (!dir) return std::nullopt;
  std::error_code ec;
  std::filesystem::create_directories(*dir, ec);
  if (ec) return std::nullopt;
  return *dir / FILE_NAME;
}

std::string data_store_text(const DataStore& store) {
  if (store.empty()) return "{}";
  std::string out = "{";
  bool first = true;
  for (const auto& [key, value] : store) {
    out += first ? "\n  " : ",\n  ";
    first = false;
    write_json(out, key);
    out += ": ";
    write_json(out, value);
  }
  return out + "\n}";
}

DataStoreReply store_error(std::string message) {
  DataStoreReply reply;
  reply.kind = DataStoreReply::Kind::Error;
  reply.error = std::move(message);
  return reply;
}

DataStoreReply load_data_store() {
  auto path = data_store_path();
  if (!path) return store_error("Failed to get config file path");
  int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return store_error("Failed to open config file: " + os_error(errno));
  std::string text;
  if (!read_whole(fd, text)) {
    return store_error("Failed to read config file: " + os_error(errno));
  }
  if (!is_valid_utf8(text)) {
    return store_error("Failed to read config file: stream did not contain valid UTF-8");
  }
  auto parsed = read_data_store_text(text);
  if (auto* failure = std::get_if<std::string>(&parsed)) {
    return store_error("Failed to parse config file: " + *failure);
  }
  DataStoreReply reply;
  reply.config = std::get<DataStore>(std::move(parsed));
  return reply;
}

SetDataStoreResult save_data_store(const DataStore& store) {
  auto path = data_store_path();
  if (!path) return failure("Failed to get config file path");
  write_stdout("config_file_path: " + quote_path(path->native()) + "\n");
  auto target = save_target(*path);
  if (int err = replace_refusal(target))
    return failure("Failed to open config file: " + os_error(err));
  std::filesystem::path temp;
  int fd = open_temp(target, temp);
  if (fd < 0) return failure("Failed to open config file: " + os_error(errno));
  keep_mode(fd, target);
  std::string text = data_store_text(store);
  write_stdout("config_text: " + text + "\n");
  if (!write_durably(fd, text) || ::rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return failure("Failed to write to config file: " + os_error(err));
  }
  sync_directory(target.parent_path());
  return {true, "Data store updated"};
}

}  // namespace brackwen
