// A shell script named git placed first on PATH for the life of the object, so a test can
// force git's exact output, exit status or failure. PATH is process-wide: restored on exit.
#pragma once
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "git/process.hpp"
#include "stores/environment.hpp"
#include "support/temp_repo.hpp"

namespace brackwen::test {

struct StubGit {
  explicit StubGit(const std::string& body) {
    auto script = dir.path / "git";
    std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
    ::chmod(script.c_str(), 0755);
    old_path = get_environment("PATH");
    set_environment("PATH", dir.str() + ":" + old_path.value_or("/usr/bin:/bin"));
  }
  ~StubGit() {
    if (old_path) set_environment("PATH", *old_path);
  }
  StubGit(const StubGit&) = delete;
  StubGit& operator=(const StubGit&) = delete;

  TempDir dir;
  std::optional<std::string> old_path;
};

}  // namespace brackwen::test
