// Where a status's guards look, and what they keep between reads: the repository and the
// submodules git finds from the folder opened, however it finds them, and every change to the
// files a kept answer was read from seen before git's next status runs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <functional>

#include "support/server_harness.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using test::sh;
using test::shell_quoted;

// A clean filter that leaves a mark and passes its input through, as a real one would.
struct Filter {
  test::TempDir dir;
  fs::path program = dir.path / "evil-clean";
  fs::path mark = dir.path / "ran";
  Filter() {
    std::ofstream(program) << "#!/bin/sh\ntouch '" << mark.string() << "'\nexec cat\n";
    fs::permissions(program, fs::perms::owner_all);
  }
  std::string definition() const {
    return "[filter \"evil\"]\n\tclean = " + program.string() + "\n";
  }
  bool ran() const { return fs::exists(mark); }
};

void append(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::app) << text;
}

// A repository in `dir` whose attributes send every file through the filter "evil", with a
// committed file whose time alone changed since, so that git's status reads it through that
// filter when one is defined, and a new file, so that its status is never empty.
void filtered_repository(const fs::path& dir) {
  fs::create_directories(dir);
  sh(dir,
     "git init -q -b main && echo g > g.txt && git add g.txt && "
     "git -c user.name=T -c user.email=t@t commit -qm g && touch -d @1900000000 g.txt && "
     "echo u > u.txt");
  append(dir / ".git/info/attributes", "* filter=evil\n");
}

// Adds the repository at `top`/`path` to `top`'s index as a gitlink and commits it.
void add_gitlink(const fs::path& top, const std::string& path) {
  std::string quoted = shell_quoted(path);
  sh(top, "git update-index --add --cacheinfo 160000,$(git -C " + quoted + " rev-parse HEAD)," +
              quoted + " && git -c user.name=T -c user.email=t@t commit -qm " + quoted);
}

// The folder opened holds an empty .git/, which git passes over: the status git runs there
// looks into the gitlink `sub` of another repository, and the guards must look where it does.
struct Layout {
  std::string name;
  // Makes the layout under `root`; returns the folder opened. `sub` is a filtered repository.
  std::function<fs::path(const fs::path& root, const Filter& filter)> make;
};

const Layout LAYOUTS[] = {
    {"the folder itself, laid out as a repository whose work tree is itself",
     [](const fs::path& root, const Filter& filter) {
       fs::path folder = root / "f";
       filtered_repository(folder / "sub");
       sh(folder, "git init -q -b main && echo t > t.txt && git add t.txt");
       add_gitlink(folder, "sub");
       sh(folder,
          "mv .git/* . && rmdir .git && mkdir .git && git --git-dir=. config core.bare false && "
          "git --git-dir=. config core.worktree .");
       append(folder / "sub/.git/config", filter.definition());
       return folder;
     }},
    {"the repository of a folder above it",
     [](const fs::path& root, const Filter& filter) {
       fs::path folder = root / "f";
       filtered_repository(folder / "sub");
       sh(root, "git init -q -b main && echo t > t.txt && git add t.txt");
       add_gitlink(root, "f/sub");
       fs::create_directories(folder / ".git");
       append(folder / "sub/.git/config", filter.definition());
       return folder;
     }},
};

TEST(StatusGuards, SubmodulesAreFoundWhereGitFindsThem) {
  for (const Layout& layout : LAYOUTS) {
    Filter filter;
    test::TempDir root;
    fs::path folder = layout.make(root.path, filter);
    ASSERT_NE(test::trimmed(sh(folder, "git rev-parse --absolute-git-dir")),
              fs::canonical(folder / ".git").string())
        << layout.name;
    append(folder / "new.txt", "n\n");
    test::ServerProcess server;
    std::string reply = server.post("/f/load_wip_patches", test::repo_body(folder)).body;
    EXPECT_NE(reply.find("new.txt"), std::string::npos) << layout.name << ": " << reply;
    EXPECT_FALSE(filter.ran()) << layout.name;
    EXPECT_EQ(server.stderr_so_far(), "") << layout.name;
  }
}

// git's status runs its git in a submodule without GIT_INDEX_FILE: a lookup made with it would
// read another index than that git does, and miss the submodule nested in that one.
TEST(StatusGuards, AnEnvironmentThatMisleadsSubmoduleLookupsRefusesTheStatus) {
  Filter filter;
  test::TempDir root;
  fs::path top = root.path / "top";
  filtered_repository(top / "sub/deep");
  append(top / "sub/deep/.git/config", filter.definition());
  sh(top / "sub", "git init -q -b main");
  add_gitlink(top / "sub", "deep");
  sh(top, "git init -q -b main");
  add_gitlink(top, "sub");
  test::ServerProcess server({{"GIT_INDEX_FILE", (top / ".git/index").string()}});
  EXPECT_EQ(server.post("/f/load_wip_patches", test::repo_body(top)).body, "null");
  EXPECT_FALSE(filter.ran());
  std::string line =
      "git status not run: GIT_INDEX_FILE is set, which the git a status runs in a submodule "
      "does not see\n";
  EXPECT_EQ(server.stderr_so_far(), line);
}

// What the server keeps between statuses is used only for files it has seen unchanged: it
// waits, as the server does, until every file it read is older than the kernel's clock can
// blur, so that the first status's answers are kept.
void wait_until_settled(const std::vector<fs::path>& dirs) {
  int64_t newest = 0;
  for (const fs::path& dir : dirs) {
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      struct stat st {};
      if (::lstat(entry.path().c_str(), &st) == 0)
        newest =
            std::max<int64_t>(newest, st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec);
    }
  }
  EXPECT_TRUE(test::eventually([&] {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec > newest + 200'000'000;
  }));
}

// One change between two statuses that defines the filter the attributes name, in the
// repository or in a submodule the status looks into.
struct Change {
  std::string name;
  std::function<void(const fs::path& repo, const Filter& filter)> before;
  std::function<void(const fs::path& repo, const Filter& filter, test::ServerProcess& server)>
      between;
  std::string opened = "repo";  // the folder the requests name, below the test's root
};

const Change CHANGES[] = {
    {"the configuration gains the filter", [](const fs::path&, const Filter&) {},
     [](const fs::path& repo, const Filter& filter, test::ServerProcess&) {
       append(repo / ".git/config", filter.definition());
     }},
    {"a file it includes appears",
     [](const fs::path& repo, const Filter&) {
       append(repo / ".git/config", "[include]\n\tpath = more/evil.cfg\n");
     },
     [](const fs::path& repo, const Filter& filter, test::ServerProcess&) {
       append(repo / ".git/more/evil.cfg", filter.definition());
     }},
    {"a file it includes changes",
     [](const fs::path& repo, const Filter&) {
       append(repo / ".git/config", "[include]\n\tpath = ../evil.cfg\n");
       append(repo / "evil.cfg", "[x]\n\ty = 1\n");
     },
     [](const fs::path& repo, const Filter& filter, test::ServerProcess&) {
       append(repo / "evil.cfg", filter.definition());
     }},
    {"HOME changes under an include from it",
     [](const fs::path& repo, const Filter&) {
       append(repo / ".git/config", "[include]\n\tpath = ~/evil.cfg\n");
     },
     [](const fs::path& repo, const Filter& filter, test::ServerProcess& server) {
       fs::path home = repo.parent_path() / "other-home";
       append(home / "evil.cfg", filter.definition());
       EXPECT_EQ(server.post("/f/override_git_home", test::repo_body(home)).body, "null");
     }},
    {"HEAD moves to the branch an include is conditioned on",
     [](const fs::path& repo, const Filter& filter) {
       append(repo / ".git/config", "[includeIf \"onbranch:evil\"]\n\tpath = evil.cfg\n");
       append(repo / ".git/evil.cfg", filter.definition());
     },
     [](const fs::path& repo, const Filter&, test::ServerProcess&) {
       sh(repo, "git symbolic-ref HEAD refs/heads/evil");
     }},
    {"the index gains a submodule with the filter",
     [](const fs::path& repo, const Filter& filter) {
       filtered_repository(repo / "sub");
       append(repo / "sub/.git/config", filter.definition());
     },
     [](const fs::path& repo, const Filter&, test::ServerProcess&) { add_gitlink(repo, "sub"); }},
    {"the configuration names another work tree, whose submodule has the filter",
     [](const fs::path& repo, const Filter& filter) {
       fs::path other = repo.parent_path() / "w";
       filtered_repository(other / "sub");
       append(other / "sub/.git/config", filter.definition());
       sh(repo,
          "git update-index --add --cacheinfo 160000,$(git -C ../w/sub rev-parse HEAD),sub && "
          "git -c user.name=T -c user.email=t@t commit -qm sub");
     },
     [](const fs::path& repo, const Filter&, test::ServerProcess&) {
       sh(repo, "git config core.worktree ../../w");
     }},
    {"its .git is emptied, and git uses the folder, holding a submodule with the filter",
     [](const fs::path& repo, const Filter& filter) {
       filtered_repository(repo / "sub");
       append(repo / "sub/.git/config", filter.definition());
       add_gitlink(repo, "sub");
     },
     [](const fs::path& repo, const Filter&, test::ServerProcess&) {
       sh(repo,
          "mv .git/* . && rmdir .git && mkdir .git && git --git-dir=. config core.bare false && "
          "git --git-dir=. config core.worktree .");
     }},
    // git names the files it read relative to the folder's real path, not its path as opened.
    {"the configuration of a repository opened through a link to a subfolder gains the filter",
     [](const fs::path& repo, const Filter&) {
       fs::create_directories(repo / "sub/deeper");
       fs::create_directory_symlink(repo / "sub", repo.parent_path() / "link");
     },
     [](const fs::path& repo, const Filter& filter, test::ServerProcess&) {
       append(repo / ".git/config", filter.definition());
     },
     "link/deeper"},
    {"a submodule's configuration gains the filter",
     [](const fs::path& repo, const Filter&) {
       filtered_repository(repo / "sub");
       add_gitlink(repo, "sub");
     },
     [](const fs::path& repo, const Filter& filter, test::ServerProcess&) {
       append(repo / "sub/.git/config", filter.definition());
     }},
};

TEST(StatusGuards, WhatAStatusKeepsFollowsEveryChange) {
  for (const Change& change : CHANGES) {
    Filter filter;
    test::TempDir root;
    fs::path repo = root.path / "repo";
    filtered_repository(repo);
    change.before(repo, filter);
    test::ServerProcess server;
    wait_until_settled({root.path, server.home});
    std::string body = test::repo_body(root.path / change.opened);
    EXPECT_NE(server.post("/f/load_wip_patches", body).body.find("\"newFile\""), std::string::npos)
        << change.name;
    ASSERT_FALSE(filter.ran()) << change.name;
    change.between(repo, filter, server);
    std::string reply = server.post("/f/load_wip_patches", body).body;
    EXPECT_NE(reply.find("\"newFile\""), std::string::npos) << change.name << ": " << reply;
    EXPECT_FALSE(filter.ran()) << change.name << ": " << reply;
  }
}

// .git/config includes a 2 KB file 8 times, which includes another 8 times, 6 deep: git would
// list about 600 MB. The server stops the listing once it holds 64 MiB, refuses the read with
// one line, and goes on.
TEST(ConfigListing, NestedIncludesAreStoppedAtTheCap) {
  test::TempRepo repo;
  repo.commit_file("a.txt", "1\n", "first");
  std::string entries;
  for (int i = 0; i < 100; ++i) entries += "\tk" + std::to_string(i) + " = vvvvvvvvvvvv\n";
  for (int level = 6; level >= 1; --level) {
    std::string text = "[bomb]\n" + entries;
    for (int k = 0; level < 6 && k < 8; ++k)
      text += "[include]\n\tpath = f" + std::to_string(level + 1) + ".cfg\n";
    std::ofstream(repo.path / (".git/f" + std::to_string(level) + ".cfg")) << text;
  }
  for (int k = 0; k < 8; ++k) append(repo.path / ".git/config", "[include]\n\tpath = f1.cfg\n");
  test::ServerProcess server;
  EXPECT_EQ(server.post("/f/load_head_commit", test::repo_body(repo.path)).body, "null");
  std::string line = "git config stopped: the configuration's listing passed 64 MiB\n";
  EXPECT_EQ(server.stderr_so_far(), line);
  EXPECT_LT(server.status_kib("VmHWM:"), 256u << 10);
  EXPECT_EQ(server.get("/pi").body, "brackwen");
  test::TempRepo plain;
  std::string id = plain.commit_file("a.txt", "1\n", "first");
  EXPECT_NE(server.post("/f/load_head_commit", test::repo_body(plain.path)).body.find(id),
            std::string::npos);
}

}  // namespace
}  // namespace brackwen
