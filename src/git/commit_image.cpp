// The commit image: git's bytes go to the file without any text decoding.
#include "git/commit_image.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "git/file_io.hpp"
#include "git/process.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"

namespace brackwen {

bool load_commit_image(const std::string& repo_path, const std::string& commit_id,
                       const std::string& original_path, const std::string& target_path) {
  // "show" would take a leading "-" as an option (--output=<file> writes anywhere).
  auto args = revision_args({"show"}, {commit_id + ":" + original_path});
  auto argv = args ? reading_git_argv(repo_path, *args) : std::nullopt;
  if (!argv || target_path.find('\0') != std::string::npos) return false;
  auto run = run_process(*argv, repo_path);
  if (!run || run->out.empty()) return false;
  // O_NONBLOCK: a FIFO without a reader fails at once instead of stalling every request.
  int fd = ::open(target_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  bool written = write_whole(fd, run->out);
  // A failed close can be the first report of a failed write (NFS, quota).
  bool closed = ::close(fd) == 0;
  return written && closed;
}

}  // namespace brackwen
