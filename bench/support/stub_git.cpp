#include "bench/support/stub_git.hpp"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "git/process.hpp"
#include "stores/environment.hpp"

namespace brackwen::bench {
namespace {

struct StubGit {
  std::filesystem::path dir;
  StubGit(const std::string& output, const std::string& script) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "brackwen-bench-XXXXXX").string();
    dir = mkdtemp(tmpl.data());
    std::ofstream(dir / "out.txt", std::ios::binary) << output;
    std::ofstream(dir / "git") << "#!/bin/sh\nOUT='" << (dir / "out.txt").string() << "'\n"
                               << script << "\n";
    std::filesystem::permissions(dir / "git", std::filesystem::perms::owner_all);
    set_environment("PATH", dir.string() + ":" + get_environment("PATH").value_or(""));
  }
  ~StubGit() { std::filesystem::remove_all(dir); }
};

}  // namespace

const std::string& stub_git_dir(const std::string& output, const std::string& script) {
  static const StubGit stub(output, script);
  static const std::string dir = stub.dir.string();
  return dir;
}

}  // namespace brackwen::bench
