// Every place that opens a file the user names, against what is not a regular file: a FIFO
// (an open without O_NONBLOCK waits for the other end), a device that never ends, a socket, a
// directory, and links to each. A blocking open ends the program through alarm() instead of
// hanging the suite.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "git/commit_image.hpp"
#include "git/conflicts/api.hpp"
#include "git/file_io.hpp"
#include "git/git_version.hpp"
#include "server/data_store.hpp"
#include "server/files.hpp"
#include "server/static_files.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

constexpr fs::perms kMode = fs::perms::owner_read | fs::perms::owner_write;

std::string g_row;

void blocked(int) {
  const char text[] = "\nblocked until alarm(): ";
  (void)!::write(2, text, sizeof text - 1);
  (void)!::write(2, g_row.data(), g_row.size());
  ::_exit(3);
}

// `node` made as `kind`; "... link" is a symbolic link to such a node beside it. The read end
// of a FIFO "being read" goes to `reader`.
void make(const fs::path& node, const std::string& kind, int& reader) {
  if (kind.ends_with(" link")) {
    make(node.string() + ".target", kind.substr(0, kind.size() - 5), reader);
    return fs::create_symlink(node.filename().string() + ".target", node);
  }
  if (kind == "device") return fs::create_symlink("/dev/zero", node);
  if (kind == "directory") return (void)fs::create_directory(node);
  if (kind == "file") return (void)(std::ofstream(node) << "{}"), fs::permissions(node, kMode);
  if (kind == "socket") {
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, node.c_str(), sizeof address.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << node;
    return (void)::close(fd);
  }
  ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
  // A reader lets a write-only open succeed, so that only a file-type check can refuse it.
  if (kind == "fifo being read") reader = ::open(node.c_str(), O_RDONLY | O_NONBLOCK);
}

std::string said(bool yes, std::string y, std::string n) {
  return yes ? y : n;
}

// What opening the node at `node` gives, for the place named `where`.
std::string open_at(const std::string& where, const fs::path& repo, const fs::path& node,
                    const std::string& head) {
  if (where == "static file") {  // the static-file root of <repo>/a/b/core is <repo>
    auto lookup = look_up_static_file((repo / "a/b/core").string(), "/r/n.js");
    return said(lookup.reply.has_value(), "served", "refused");
  }
  if (where == "data store save") {
    auto before = fs::symlink_status(node).type();
    if (!save_data_store({{"k", "v"}}).success) return "refused";
    bool kept =
        fs::symlink_status(node).type() == before && fs::status(node).permissions() == kMode;
    return said(kept && test::read_file(node) == "{\n  \"k\": \"v\"\n}", "saved in place",
                "replaced");
  }
  if (where == "data store load")
    return said(load_data_store().kind == DataStoreReply::Kind::Error, "error", "read");
  if (where == "write_file") return said(write_file(node.string(), "x"), "written", "refused");
  if (where == "commit image")
    return said(load_commit_image(repo.string(), head, "a.txt", node), "written", "refused");
  if (where == "regular-file read")
    return said(read_regular_file(node).has_value(), "read", "none");
  if (where == "work-tree read") {
    auto entry = read_work_tree_entry(repo, "n");
    return !entry ? "none" : entry->is_link ? "link " + entry->bytes : "read";
  }
  return said(load_conflicted_file(repo.string(), "n").has_value(), "read", "none");
}

TEST(SpecialFiles, NeitherBlockNorPassForRegularFiles) {
  // As the server does at start-up: how a commit image is looked up depends on git's version.
  load_git_version();
  test::TempRepo repo;
  std::string head = repo.commit_file("a.txt", "a\n", "first");
  fs::path store = repo.path / "data/brackwen/data_store.json";
  fs::create_directories(store.parent_path());
  ::setenv("XDG_DATA_HOME", (repo.path / "data").c_str(), 1);
  const std::vector<std::string> unlinked = {"fifo", "fifo being read", "socket", "directory"};
  std::vector<std::string> all = unlinked;
  all.insert(all.end(), {"device", "fifo link", "socket link", "directory link"});
  const std::tuple<std::string, std::vector<std::string>, std::string> rows[] = {
      {"static file", all, "refused"},
      // No device here: a failing check would rename a file over /dev/zero.
      {"data store save",
       {"fifo", "fifo being read", "socket", "directory", "fifo link"},
       "refused"},
      // A linked store stays linked, with its mode.
      {"data store save", {"file", "file link"}, "saved in place"},
      {"data store load", all, "error"},
      {"write_file", {"fifo", "socket", "directory", "fifo link", "socket link"}, "refused"},
      // A device or a pipe with a reader takes the bytes, as a shell's redirection would.
      {"write_file", {"fifo being read", "device"}, "written"},
      {"commit image", {"fifo", "socket", "directory", "socket link"}, "refused"},
      {"commit image", {"fifo being read", "device"}, "written"},
      {"regular-file read", all, "none"},
      {"work-tree read", unlinked, "none"},
      // A link is read as its own text, never through.
      {"work-tree read", {"device"}, "link /dev/zero"},
      {"work-tree read", {"fifo link", "directory link"}, "link n.target"},
      {"conflicted file", all, "none"},
  };
  struct sigaction on_alarm {};
  on_alarm.sa_handler = blocked;
  ASSERT_EQ(::sigaction(SIGALRM, &on_alarm, nullptr), 0);
  for (const auto& [where, kinds, expected] : rows) {
    fs::path node = where == "static file"            ? repo.path / "n.js"
                    : where.starts_with("data store") ? store
                                                      : repo.path / "n";
    for (const std::string& kind : kinds) {
      g_row = where + ", " + kind;
      int reader = -1;
      make(node, kind, reader);
      ::alarm(10);
      std::string got = open_at(where, repo.path, node, head);
      ::alarm(0);
      if (reader >= 0) ::close(reader);
      EXPECT_EQ(got, expected) << g_row;
      fs::remove_all(node);
      fs::remove_all(node.string() + ".target");
    }
  }
  ::unsetenv("XDG_DATA_HOME");
}

// A work-tree file longer than the reader's bound is not kept: neither one that is so when
// opened, nor one that grows past it while it is read, as a /proc file whose size reads 0.
TEST(SpecialFiles, WorkTreeReadStopsAtItsBound) {
  test::TempDir dir;
  std::ofstream(dir.path / "five") << "12345";
  const std::tuple<fs::path, std::string, uint64_t, std::string> rows[] = {
      {dir.path, "five", 5, "12345"},
      {dir.path, "five", 4, "too large"},
      {"/proc/self", "status", 16, "too large"},
  };
  for (const auto& [root, name, bound, expected] : rows) {
    auto entry = read_work_tree_entry(root, name, bound);
    EXPECT_EQ(!entry             ? "none"
              : entry->too_large ? "too large"
                                 : entry->bytes,
              expected)
        << name << " within " << bound;
  }
}

}  // namespace
}  // namespace brackwen
