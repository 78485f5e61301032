// The commit image: git's bytes go to the file as git prints them, without any text decoding,
// so that a large file costs the server one read buffer rather than its whole size.
#include "git/commit_image.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "git/file_io.hpp"
#include "git/process.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"

namespace brackwen {
namespace {

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
  auto args = revision_args({"cat-file", "blob"}, {commit_id + ":" + original_path});
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
