// A stub git first on PATH, for benchmarks that time the system's own work around git.
#pragma once
#include <string>

namespace brackwen::bench {

// Installs, once per process, a stub git whose shell script body is `script`, where "$OUT"
// names a file holding `output`; PATH is extended for the rest of the process and the stub is
// removed at exit. Returns the stub's directory (usable as a repository path).
const std::string& stub_git_dir(const std::string& output, const std::string& script);

}  // namespace brackwen::bench
