// Running git for a query: its whole standard output as text, or that output as it comes.
// Every git run that only reads lives under the same limits: it is ended when it has printed
// nothing and done nothing for 30 s, and so is every other run of its request (a repository can
// make git wait for ever, and requests are answered one at a time); its processes together,
// with those of its request's other runs, hold no more than the read's memory budget (a small
// repository can hold blobs whose diff takes gigabytes), and runs side by side take turns for
// it; nothing it starts outlives it. The user's own commands run as git runs
// from a shell.
#pragma once
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "git/process.hpp"
#include "git/reading/reading_argv.hpp"

namespace brackwen {

// The program name of every git child; found through PATH.
const std::string& GIT_PROGRAM();

// Runs git with `args` in `repo_path`, as a read: its argv from reading_git_argv. Absent when
// git cannot be started (or guarded) or prints nothing on standard output; otherwise standard
// output decoded as lossy UTF-8. The exit status is not consulted and standard error is
// discarded.
std::optional<std::string> run_git(const std::string& repo_path,
                                   const std::vector<std::string>& args);

// As run_git, for a command the user gave: git with `args` alone, in the whole environment,
// as it runs from the user's shell.
std::optional<std::string> run_user_git(const std::string& repo_path,
                                        const std::vector<std::string>& args);

// Git with `args` in `repo_path`, run as run_git runs it, its output handed to `handlers` as it
// comes (stream_process): for a caller that must not hold all of it, or may stop it midway.
std::optional<StreamEnd> stream_git(const std::string& repo_path,
                                    const std::vector<std::string>& args,
                                    const StreamHandlers& handlers);

// A git run that only reads, with an argv already whole (the lookups reading_git_argv makes
// itself), under the limits of every read: absent when it cannot be started, does not end by
// itself or fails for want of memory. A run a limit ended is told on standard error, by its
// subcommand, once per request and limit.
std::optional<ProcessOutput> run_reading_process(const std::vector<std::string>& argv,
                                                 const std::string& cwd,
                                                 std::string_view input = {});

// As run_reading_process, its output handed to `handlers` as it comes (stream_process).
std::optional<StreamEnd> stream_reading_process(const std::vector<std::string>& argv,
                                                const std::string& cwd, StreamHandlers handlers);

// As run_git, with `lines` on git's standard input, each ended by a newline.
std::optional<std::string> run_git_with_input(const std::string& repo_path,
                                              const std::vector<std::string>& args,
                                              const std::vector<std::string>& lines);

}  // namespace brackwen
