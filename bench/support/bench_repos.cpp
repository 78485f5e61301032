// Generation of the benchmarks' repositories. Each is written as one git fast-import stream
// (only the stash entries need git itself, since fast-import writes no reflog), then checked
// out and settled so that the first timed `git status` does not pay for index refreshes.
#include "bench/support/bench_repos.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/support/history_text.hpp"
#include "git/process.hpp"
#include "stores/environment.hpp"

namespace brackwen::bench {
namespace {

namespace fs = std::filesystem;

// Raise whenever what a generator writes changes: old cache entries are then left alone.
constexpr int GENERATOR_VERSION = 1;
constexpr int REALISTIC_GENERATOR_VERSION = 1;
constexpr uint64_t EPOCH = 1500000000;
constexpr const char* STREAM_FILE = "import.stream";
constexpr const char* MARKS_FILE = "import.marks";
constexpr const char* READY_FILE = "ready";

std::string run_git_in(const fs::path& dir, std::vector<std::string> args) {
  std::vector<std::string> argv = {"git", "-c", "user.name=Bench", "-c",
                                   "user.email=bench@example.com"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto result = run_process(argv, dir.string());
  if (!result || result->status != 0) {
    std::string line;
    for (const auto& a : args) line += " " + a;
    throw std::runtime_error("git" + line + " failed in " + dir.string() + ": " +
                             (result ? result->err : "not started"));
  }
  return result->out;
}

// Files written within the second the index was written are "racily clean" and would be
// compared by content on every status until the index is written again a second later.
void settle_index(const fs::path& repo) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  run_git_in(repo, {"status", "--porcelain", "-uall", "-z"});
}

void write_file(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string data_block(std::string_view text) {
  std::string out = "data ";
  out += std::to_string(text.size());
  out += '\n';
  out += text;
  out += '\n';
  return out;
}

void import_stream(const fs::path& entry, const std::string& stream) {
  write_file(entry / STREAM_FILE, stream);
  std::string command = "exec git fast-import --quiet --export-marks=../";
  command += MARKS_FILE;
  command += " < ../";
  command += STREAM_FILE;
  auto result = run_process({"sh", "-c", command}, (entry / "repo").string());
  if (!result || result->status != 0) {
    throw std::runtime_error("git fast-import failed: " + (result ? result->err : ""));
  }
  fs::remove(entry / STREAM_FILE);
}

std::map<uint32_t, std::string> read_marks(const fs::path& entry) {
  std::map<uint32_t, std::string> marks;
  std::ifstream in(entry / MARKS_FILE);
  for (std::string line; std::getline(in, line);) {
    size_t space = line.find(' ');
    if (line.starts_with(':') && space != std::string::npos) {
      marks[static_cast<uint32_t>(std::stoul(line.substr(1, space - 1)))] = line.substr(space + 1);
    }
  }
  return marks;
}

void init_repo(const fs::path& repo) {
  fs::create_directories(repo);
  run_git_in(repo, {"init", "-q", "-b", "main"});
  // No background housekeeping may run in the middle of a measurement.
  run_git_in(repo, {"config", "gc.auto", "0"});
  run_git_in(repo, {"config", "maintenance.auto", "false"});
}

// Returns the entry directory, generating it with `fill(entry)` when it is missing.
template <class Fill>
fs::path cached_entry(const fs::path& root, const std::string& key, int version, Fill&& fill) {
  fs::path entry = root / (key + "-v" + std::to_string(version));
  if (fs::exists(entry / READY_FILE)) return entry;
  fs::path building = entry;
  building += ".building-" + std::to_string(::getpid());
  fs::remove_all(building);
  init_repo(building / "repo");
  fill(building);
  write_file(building / READY_FILE, "ready\n");
  // An entry left without its marker (by hand) is replaced; a complete one that another run
  // finished meanwhile wins over ours.
  if (fs::exists(entry) && !fs::exists(entry / READY_FILE)) fs::remove_all(entry);
  std::error_code ec;
  fs::rename(building, entry, ec);
  if (ec) {
    fs::remove_all(building);
    if (!fs::exists(entry / READY_FILE)) throw std::runtime_error("cannot place " + entry.string());
  }
  return entry;
}

std::string person(uint32_t i, uint64_t seconds) {
  std::string n = std::to_string(i % 53);
  // A few authors with names outside ASCII, as real teams have.
  std::string name = i % 53 == 7 ? "Zoë Ångström" : "Dev" + n + " Person";
  return name + " <dev" + n + "@example.com> " + std::to_string(seconds) +
         (i % 2 ? " +0100" : " -0500");
}

std::string message(uint32_t n) {
  static const char* words[] = {"parser", "cache",  "server", "refs",   "stash",
                                "index",  "commit", "graph",  "filter", "diff"};
  std::string m = "Fix " + std::string(words[n % 10]) + " handling in module " +
                  std::to_string(n % 97) + " (#" + std::to_string(n) + ")\n";
  if (n % 3 == 0) {
    m += "\nA longer body explains why; it spans (a few) lines.\nSee " +
         std::string(words[(n / 10) % 10]) + ".\n";
  }
  return m;
}

// `author` and `committer` as git writes them: "Name <mail> seconds zone".
void commit_header_as(std::string& s, std::string_view ref, uint32_t mark, std::string_view author,
                      std::string_view committer, std::string_view text) {
  s += "commit ";
  s += ref;
  s += "\nmark :" + std::to_string(mark) + "\n";
  s += "author ";
  s += author;
  s += "\ncommitter ";
  s += committer;
  s += '\n';
  s += data_block(text);
}

void commit_header(std::string& s, std::string_view ref, uint32_t mark, uint32_t who,
                   uint64_t seconds, std::string_view text) {
  std::string signed_by = person(who, seconds);
  commit_header_as(s, ref, mark, signed_by, signed_by, text);
}

void change_file(std::string& s, std::string_view path, std::string_view content) {
  s += "M 100644 inline ";
  s += path;
  s += '\n';
  s += data_block(content);
}

std::string tracked_file(uint32_t n, uint32_t files) {
  uint32_t f = static_cast<uint32_t>((n * 2654435761ull) % files);
  return "src/m" + std::to_string(f % 40) + "/f" + std::to_string(f) + ".txt";
}

std::string added_file(uint32_t n, std::string_view stem) {
  return "src/m" + std::to_string(n % 40) + "/" + std::string(stem) + std::to_string(n) + ".txt";
}

std::string branch_name(uint32_t b) {
  switch (b % 3) {
    case 0:
      return "feature/" + std::to_string(b) + "-search-speed";
    case 1:
      return "fix/issue-" + std::to_string(b);
    default:
      return "topic-" + std::to_string(b);
  }
}

uint32_t own_commits(uint32_t b) {
  return 1 + b % 3;
}

// Where origin's counterpart of branch b stands: with it, at its fork point, at its first
// own commit, one commit of its own past that (diverged), or nowhere.
enum class RemoteAt { Tip, Fork, FirstOwn, Diverged, None };

RemoteAt remote_at(uint32_t b) {
  switch (b % 8) {
    case 0:
    case 4:
      return RemoteAt::Tip;
    case 1:
    case 5:
      return RemoteAt::Fork;
    case 2:
      return RemoteAt::Diverged;
    case 7:
      return RemoteAt::None;
    default:
      return RemoteAt::FirstOwn;
  }
}

struct MainLine {
  std::vector<uint32_t> marks;
  std::vector<uint64_t> times;
};

MainLine write_main_line(std::string& s, uint32_t& mark, uint32_t target,
                         const HistoryShape& shape) {
  MainLine line;
  uint32_t made = 0;
  for (uint32_t n = 1; made < target; ++n) {
    uint64_t seconds = EPOCH + uint64_t{n} * 60;
    bool merge = shape.merge_every && n % shape.merge_every == 0 && made + 2 <= target &&
                 !line.marks.empty();
    uint32_t side = 0;
    if (merge) {
      side = ++mark;
      commit_header(s, "refs/bench/side", side, n + 7, seconds - 30,
                    "Side work " + std::to_string(n) + "\n");
      s += "from :" + std::to_string(line.marks.back()) + "\n";
      change_file(s, "side/s" + std::to_string(n % 7) + ".txt", std::to_string(n) + "\n");
      s += '\n';
      ++made;
    }
    uint32_t self = ++mark;
    commit_header(s, "refs/heads/main", self, n, seconds,
                  merge ? "Merge branch 'side-work' into main\n" : message(n));
    if (!line.marks.empty()) s += "from :" + std::to_string(line.marks.back()) + "\n";
    if (merge) s += "merge :" + std::to_string(side) + "\n";
    change_file(s, tracked_file(n, shape.files), std::to_string(n) + "\n");
    if (n % 25 == 0) change_file(s, added_file(n, "added"), "added " + std::to_string(n) + "\n");
    if (n % 500 == 0) {
      s += "R " + added_file(n - 25, "added") + " " + added_file(n - 25, "moved") + "\n";
    }
    if (n % 300 == 0) s += "D " + added_file(n - 50, "added") + "\n";
    s += '\n';
    ++made;
    line.marks.push_back(self);
    line.times.push_back(seconds);
  }
  return line;
}

// --- the realistic main line ----------------------------------------------------------------

constexpr uint32_t FILES_PER_DIRECTORY = 40;
constexpr uint32_t LONG_MESSAGE_EVERY = 500;
constexpr uint32_t LATIN1_MESSAGE_EVERY = 2000;
constexpr uint32_t MOST_TOPIC_COMMITS = 3;
// How far behind the tip of main a topic branch may fork, in main-line commits.
constexpr uint32_t MOST_FORK_DISTANCE = 30;
constexpr uint64_t REALISTIC_SEED = 20170714;

constexpr const char* TOP_DIRECTORIES[] = {"core",  "drivers", "fs",      "net",    "lib",
                                           "tools", "docs",    "arch",    "sound",  "crypto",
                                           "mm",    "block",   "include", "kernel", "scripts"};
constexpr const char* SUB_DIRECTORIES[] = {
    "sched", "dma",   "usb",   "pci",   "ipv4",   "ext",  "audio", "gpio", "i2c",  "spi",
    "irq",   "power", "video", "input", "serial", "acpi", "trace", "bpf",  "keys", "hash"};
constexpr const char* FILE_STEMS[] = {"main",  "core", "util",  "ops",   "table",
                                      "queue", "init", "debug", "trace", "io"};
constexpr const char* EXTENSIONS[] = {".c", ".c", ".c", ".h", ".h", ".rst", ".py", ".sh", ".txt"};

// FILES_PER_DIRECTORY consecutive files share a directory, so that the files a commit
// changes (picked near each other) lie in one area, which its subject names.
std::string area_of(uint32_t file) {
  uint32_t directory = file / FILES_PER_DIRECTORY;
  constexpr uint32_t TOPS = std::size(TOP_DIRECTORIES);
  constexpr uint32_t SUBS = std::size(SUB_DIRECTORIES);
  std::string area = std::string(TOP_DIRECTORIES[directory % TOPS]) + "/" +
                     SUB_DIRECTORIES[(directory / TOPS) % SUBS];
  if (uint32_t round = directory / (TOPS * SUBS); round > 0) area += std::to_string(round);
  return area;
}

std::string tree_file(uint32_t file) {
  return area_of(file) + "/" + FILE_STEMS[file % std::size(FILE_STEMS)] + std::to_string(file) +
         EXTENSIONS[file % std::size(EXTENSIONS)];
}

// The content of a file as the commit of mark `revision` left it.
std::string file_content(uint32_t file, uint32_t revision) {
  return "file " + std::to_string(file) + "\nrevision " + std::to_string(revision) + "\n";
}

// Up to `most` files (one commit in ten: up to five times as many), most of them in the area
// of `first` and the others anywhere in the tree; `first` comes first.
std::vector<uint32_t> pick_files(Dice& dice, uint32_t first, uint32_t files, uint32_t most) {
  uint32_t count = 1 + below(dice, most);
  if (one_in(dice, 10)) count = 1 + below(dice, 5 * most);
  count = std::min(count, files);
  uint32_t near = FILES_PER_DIRECTORY * (1 + count / FILES_PER_DIRECTORY);
  std::vector<uint32_t> chosen = {first};
  while (chosen.size() < count) {
    uint32_t file = one_in(dice, 4) ? below(dice, files) : (first + below(dice, near)) % files;
    if (std::find(chosen.begin(), chosen.end(), file) == chosen.end()) chosen.push_back(file);
  }
  return chosen;
}

struct RealisticWriter {
  std::string& s;
  uint32_t& mark;
  const HistoryShape& shape;
  Dice dice;
  uint64_t clock = EPOCH;
  uint32_t ordinary = 0;  // ordinary commits written, which decides the kind of the next one
  MainLine line;
};

uint64_t tick(RealisticWriter& w) {
  w.clock += 30 + below(w.dice, 1200);
  return w.clock;
}

MessageKind next_kind(RealisticWriter& w) {
  ++w.ordinary;
  // Halfway through each period, so that a small history has one of each too.
  if (w.ordinary % LATIN1_MESSAGE_EVERY == LATIN1_MESSAGE_EVERY / 2) return MessageKind::Latin1;
  if (w.ordinary % LONG_MESSAGE_EVERY == LONG_MESSAGE_EVERY / 2) return MessageKind::Long;
  return MessageKind::Ordinary;
}

// A commit on `ref` after `parent` that changes files around `first`; what it changes is
// added to `changed` (file to the mark of the commit whose content it has). Returns its subject.
std::string write_ordinary(RealisticWriter& w, std::string_view ref, uint32_t parent,
                           uint32_t first, std::map<uint32_t, uint32_t>& changed) {
  std::vector<uint32_t> files = pick_files(w.dice, first, w.shape.files, w.shape.files_per_commit);
  std::string area = area_of(files.front());
  uint32_t author = pick_author(w.dice);
  // Most patches are applied by the area's maintainer, some a few days after they were written.
  uint32_t committer = one_in(w.dice, 3) ? author : maintainer_of(area);
  uint64_t committed = tick(w);
  uint64_t authored = one_in(w.dice, 3) ? committed - below(w.dice, 5 * 86400) : committed;
  MessageKind kind = next_kind(w);
  std::string message = commit_message(w.dice, kind, area, author);
  uint32_t self = ++w.mark;
  commit_header_as(w.s, ref, self, signature(author, authored), signature(committer, committed),
                   message);
  w.s += "from :" + std::to_string(parent) + "\n";
  for (uint32_t file : files) {
    changed[file] = self;
    change_file(w.s, tree_file(file), file_content(file, self));
  }
  w.s += '\n';
  return std::string(subject_of(message));
}

void write_main_commit(RealisticWriter& w) {
  std::map<uint32_t, uint32_t> changed;
  uint32_t first = below(w.dice, w.shape.files);
  write_ordinary(w, "refs/heads/main", w.line.marks.back(), first, changed);
  w.line.marks.push_back(w.mark);
  w.line.times.push_back(w.clock);
}

// The whole tree in one commit, as a project that moved its history here starts.
void write_root(RealisticWriter& w) {
  uint32_t self = ++w.mark;
  std::string who = signature(0, w.clock);
  commit_header_as(w.s, "refs/heads/main", self, who, who,
                   "Initial import\n\nThe tree as it stood when the project moved here.\n");
  for (uint32_t file = 0; file < w.shape.files; ++file) {
    change_file(w.s, tree_file(file), file_content(file, self));
  }
  w.s += '\n';
  w.line.marks.push_back(self);
  w.line.times.push_back(w.clock);
}

// A topic branch of `count` commits in one area, forked a little behind the tip, then its
// merge into main, whose tree takes the topic's version of every file the topic changed.
void write_topic_and_merge(RealisticWriter& w, uint32_t count) {
  size_t back = below(w.dice, std::min<uint32_t>(w.line.marks.size(), MOST_FORK_DISTANCE));
  uint32_t parent = w.line.marks[w.line.marks.size() - 1 - back];
  std::map<uint32_t, uint32_t> changed;
  std::vector<std::string> subjects;
  uint32_t first = below(w.dice, w.shape.files);
  std::string area = area_of(first);
  for (uint32_t k = 0; k < count; ++k) {
    subjects.push_back(write_ordinary(w, "refs/bench/side", parent, first, changed));
    parent = w.mark;
  }
  uint32_t maintainer = maintainer_of(area);
  std::string topic = topic_name(w.dice, area);
  std::string message = merge_message(w.dice, topic, area, subjects, maintainer);
  uint64_t seconds = tick(w);
  uint32_t self = ++w.mark;
  std::string who = signature(maintainer, seconds);
  commit_header_as(w.s, "refs/heads/main", self, who, who, message);
  w.s += "from :" + std::to_string(w.line.marks.back()) + "\n";
  w.s += "merge :" + std::to_string(parent) + "\n";
  for (const auto& [file, revision] : changed) {
    change_file(w.s, tree_file(file), file_content(file, revision));
  }
  w.s += '\n';
  w.line.marks.push_back(self);
  w.line.times.push_back(seconds);
}

// Cycles of a few main-line commits, a topic of one to three commits and its merge: a cycle
// is merge_every commits long on average, so that one commit in merge_every is a merge.
MainLine write_realistic_main_line(std::string& s, uint32_t& mark, uint32_t target,
                                   const HistoryShape& shape) {
  RealisticWriter w{s, mark, shape, Dice{REALISTIC_SEED}, EPOCH, 0, {}};
  write_root(w);
  for (uint32_t made = 1; made < target;) {
    uint32_t cycle = shape.merge_every - 1 + below(w.dice, 3);
    if (target - made < cycle) {
      write_main_commit(w);
      ++made;
      continue;
    }
    uint32_t topic = 1 + below(w.dice, std::min(MOST_TOPIC_COMMITS, cycle - 1));
    for (uint32_t k = 0; k + 1 + topic < cycle; ++k) write_main_commit(w);
    write_topic_and_merge(w, topic);
    made += cycle;
  }
  return w.line;
}

// The header of a topic branch's commit: in the realistic style, with an author and message
// like the main line's.
void branch_commit_header(std::string& s, const HistoryShape& shape, std::string_view ref,
                          uint32_t mark, uint32_t who, uint64_t seconds,
                          std::string_view plain_text) {
  if (shape.style == HistoryStyle::Plain) {
    commit_header(s, ref, mark, who, seconds, plain_text);
    return;
  }
  Dice dice{REALISTIC_SEED + mark};
  uint32_t author = pick_author(dice);
  std::string area = area_of(below(dice, shape.files));
  std::string message = commit_message(dice, MessageKind::Ordinary, area, author);
  std::string signed_by = signature(author, seconds);
  commit_header_as(s, ref, mark, signed_by, signed_by, message);
}

void write_branches(std::string& s, uint32_t& mark, const MainLine& line,
                    const HistoryShape& shape) {
  std::mt19937 random(7);
  for (uint32_t b = 0; b < shape.branches; ++b) {
    size_t fork = random() % line.marks.size();
    std::string name = branch_name(b);
    std::string ref = "refs/heads/" + name;
    uint32_t parent = line.marks[fork];
    uint32_t first_own = 0;
    for (uint32_t k = 1; k <= own_commits(b); ++k) {
      branch_commit_header(s, shape, ref, ++mark, b * 3 + k, line.times[fork] + 20 * k,
                           "Topic " + std::to_string(b) + ": step " + std::to_string(k) + "\n");
      s += "from :" + std::to_string(parent) + "\n";
      change_file(s, added_file(b, "topic"), std::to_string(b) + " " + std::to_string(k) + "\n");
      s += '\n';
      parent = mark;
      if (k == 1) first_own = mark;
    }
    std::string remote = "refs/remotes/origin/" + name;
    auto reset_remote = [&](uint32_t to) {
      s += "reset " + remote + "\nfrom :" + std::to_string(to) + "\n\n";
    };
    switch (remote_at(b)) {
      case RemoteAt::Tip:
        reset_remote(parent);
        break;
      case RemoteAt::Fork:
        reset_remote(line.marks[fork]);
        break;
      case RemoteAt::FirstOwn:
        reset_remote(first_own);
        break;
      case RemoteAt::Diverged:
        branch_commit_header(s, shape, remote, ++mark, b * 3 + 9, line.times[fork] + 15,
                             "Topic " + std::to_string(b) + ": pushed from elsewhere\n");
        s += "from :" + std::to_string(first_own) + "\n";
        change_file(s, added_file(b, "remote"), std::to_string(b) + "\n");
        s += '\n';
        break;
      case RemoteAt::None:
        break;
    }
  }
}

void write_tags(std::string& s, const MainLine& line, const HistoryShape& shape) {
  for (uint32_t t = 0; t < shape.tags; ++t) {
    size_t at = (uint64_t{t} + 1) * line.marks.size() / (uint64_t{shape.tags} + 1);
    std::string name = "v" + std::to_string(t / 20) + "." + std::to_string(t % 20) + ".0";
    std::string from = "from :" + std::to_string(line.marks[at]) + "\n";
    if (t % 2) {
      s += "tag " + name + "\n" + from;
      s += "tagger Release Bot <release@example.com> " + std::to_string(line.times[at] + 5) +
           " +0000\n";
      s += data_block("Release " + name + "\n");
    } else {
      s += "reset refs/tags/" + name + "\n" + from + "\n";
    }
  }
}

// A stash entry is a commit W on its base with the index commit I as second parent; they are
// written here and put on the stash reflog afterwards. Returns the marks of the W commits,
// newest base first.
std::vector<uint32_t> write_stash_commits(std::string& s, uint32_t& mark, const MainLine& line,
                                          const HistoryShape& shape) {
  std::vector<uint32_t> works;
  for (uint32_t k = 0; k < shape.stashes; ++k) {
    size_t at = line.marks.size() - 1 - std::min<size_t>(line.marks.size() - 1, k * 3);
    uint64_t seconds = line.times[at] + 30;
    std::string base = "from :" + std::to_string(line.marks[at]) + "\n";
    uint32_t index = ++mark;
    commit_header(s, "refs/bench/stash", index, k, seconds, "index on main: 0000000 base\n");
    s += base;
    change_file(s, "src/m0/stash.txt", "index " + std::to_string(k) + "\n");
    s += '\n';
    uint32_t work = ++mark;
    commit_header(s, "refs/bench/stash", work, k, seconds,
                  k % 2 ? "WIP on main: 0000000 Fix things\n"
                        : "On main: experiment " + std::to_string(k) + "\n");
    s += base;
    s += "merge :" + std::to_string(index) + "\n";
    change_file(s, "src/m0/stash.txt", "work " + std::to_string(k) + "\n");
    s += '\n';
    works.push_back(work);
  }
  return works;
}

uint32_t branch_commits(const HistoryShape& shape) {
  uint32_t count = 0;
  for (uint32_t b = 0; b < shape.branches; ++b) {
    count += own_commits(b) + (remote_at(b) == RemoteAt::Diverged ? 1 : 0);
  }
  return count;
}

uint32_t count_of(const std::string& text) {
  return static_cast<uint32_t>(std::stoul(text));
}

void fill_history(const fs::path& entry, const HistoryShape& shape) {
  uint32_t on_branches = branch_commits(shape);
  if (shape.commits <= on_branches + 4 || shape.files == 0) {
    throw std::runtime_error("history shape has too few commits for its branches");
  }
  bool realistic = shape.style == HistoryStyle::Realistic;
  if (realistic && (shape.merge_every < 3 || shape.files_per_commit == 0)) {
    throw std::runtime_error("a realistic history needs merge_every >= 3 and files_per_commit");
  }
  std::string s;
  uint32_t mark = 0;
  uint32_t on_main = shape.commits - on_branches;
  MainLine line = realistic ? write_realistic_main_line(s, mark, on_main, shape)
                            : write_main_line(s, mark, on_main, shape);
  write_branches(s, mark, line, shape);
  write_tags(s, line, shape);
  s +=
      "reset refs/remotes/origin/main\nfrom :" + std::to_string(line.marks[line.marks.size() - 4]) +
      "\n\n";
  std::vector<uint32_t> stashes = write_stash_commits(s, mark, line, shape);
  import_stream(entry, s);

  fs::path repo = entry / "repo";
  auto marks = read_marks(entry);
  fs::remove(entry / MARKS_FILE);
  for (std::string ref : {"refs/bench/side", "refs/bench/stash"}) {
    auto found = run_process({"git", "rev-parse", "-q", "--verify", ref}, repo.string());
    if (found && !found->out.empty()) run_git_in(repo, {"update-ref", "-d", ref});
  }
  run_git_in(repo, {"symbolic-ref", "refs/remotes/origin/HEAD", "refs/remotes/origin/main"});
  run_git_in(repo, {"reset", "-q", "--hard"});
  // Oldest first, so that stash@{0} is the newest.
  for (size_t k = stashes.size(); k-- > 0;) {
    run_git_in(repo,
               {"stash", "store", "-m", "bench stash " + std::to_string(k), marks.at(stashes[k])});
  }
  uint32_t reachable =
      count_of(run_git_in(repo, {"rev-list", "--count", "--branches", "--tags", "--remotes"}));
  if (reachable != shape.commits) {
    throw std::runtime_error("generated " + std::to_string(reachable) + " commits, not " +
                             std::to_string(shape.commits));
  }
  settle_index(repo);
}

std::string tree_path(uint32_t i) {
  // A few names outside ASCII: git prints them unquoted with -z.
  std::string stem = i % 997 == 0 ? "Fïlé-" : "file";
  return "dir" + std::to_string(i / 100) + "/" + stem + std::to_string(i) + ".txt";
}

void fill_work_tree(const fs::path& entry, const WorkTreeShape& shape) {
  if (shape.files == 0 || shape.modified > shape.files) {
    throw std::runtime_error("work tree shape modifies more files than it has");
  }
  std::string s;
  commit_header(s, "refs/heads/main", 1, 1, EPOCH, "Tree\n");
  for (uint32_t i = 0; i < shape.files; ++i) {
    change_file(
        s, tree_path(i),
        "file " + std::to_string(i) + "\nsecond line\nthird line " + std::to_string(i * 7) + "\n");
  }
  s += '\n';
  import_stream(entry, s);
  fs::remove(entry / MARKS_FILE);
  fs::path repo = entry / "repo";
  run_git_in(repo, {"reset", "-q", "--hard"});
  uint32_t step = shape.modified ? shape.files / shape.modified : 1;
  for (uint32_t k = 0; k < shape.modified; ++k) {
    fs::path file = repo / tree_path(k * step);
    std::ofstream(file, std::ios::binary | std::ios::app) << "changed\n";
  }
  uint32_t dirs = (shape.files + 99) / 100;
  for (uint32_t k = 0; k < shape.untracked; ++k) {
    write_file(repo / ("dir" + std::to_string(k % dirs)) / ("new" + std::to_string(k) + ".txt"),
               "new " + std::to_string(k) + "\n");
  }
  settle_index(repo);
  auto status = run_git_in(repo, {"status", "--porcelain", "-uall", "-z"});
  auto entries = static_cast<uint32_t>(std::count(status.begin(), status.end(), '\0'));
  if (entries != shape.modified + shape.untracked) {
    throw std::runtime_error("work tree shows " + std::to_string(entries) + " changes");
  }
}

void fill_big_file(const fs::path& entry, const BigFileShape& shape, const std::string& file) {
  if (shape.changed > shape.lines) throw std::runtime_error("more changed lines than lines");
  std::mt19937 random(1);
  std::vector<std::string> lines;
  lines.reserve(shape.lines);
  for (uint32_t i = 0; i < shape.lines; ++i) {
    lines.push_back("line " + std::to_string(i) + " value " + std::to_string(random() % 1000) +
                    "\n");
  }
  std::string committed;
  for (const auto& line : lines) committed += line;
  std::string s;
  commit_header(s, "refs/heads/main", 1, 1, EPOCH, "Big file\n");
  change_file(s, file, committed);
  s += '\n';
  import_stream(entry, s);
  fs::remove(entry / MARKS_FILE);
  fs::path repo = entry / "repo";
  run_git_in(repo, {"reset", "-q", "--hard"});
  // The first `changed` places of a Fisher-Yates shuffle: distinct lines, spread at random.
  std::vector<uint32_t> order(shape.lines);
  for (uint32_t i = 0; i < shape.lines; ++i) order[i] = i;
  for (uint32_t k = 0; k < shape.changed; ++k) {
    std::swap(order[k], order[k + random() % (shape.lines - k)]);
    lines[order[k]] =
        "changed " + std::to_string(k) + " value " + std::to_string(random() % 1000) + "\n";
  }
  std::string working;
  for (const auto& line : lines) working += line;
  write_file(repo / file, working);
  write_file(entry / (file + ".committed"), committed);
  settle_index(repo);
}

// git's own tree as its shape goes: its directories and how many of its 4,500 files each holds.
struct TreeDirectory {
  const char* path;
  uint32_t files;
  const char* extension;
};
constexpr uint32_t GIT_LIKE_FILES = 4500;
constexpr TreeDirectory GIT_LIKE_TREE[] = {
    {"", 520, ".c"},
    {"Documentation", 640, ".txt"},
    {"Documentation/RelNotes", 330, ".txt"},
    {"Documentation/config", 110, ".txt"},
    {"Documentation/technical", 60, ".txt"},
    {"Documentation/howto", 30, ".txt"},
    {"builtin", 130, ".c"},
    {"t", 1200, ".sh"},
    {"t/helper", 70, ".c"},
    {"t/perf", 80, ".sh"},
    {"t/t4013", 264, ""},
    {"t/t5515", 120, ""},
    {"t/chainlint", 60, ".test"},
    {"t/lib-gpg", 20, ""},
    {"contrib/completion", 10, ".bash"},
    {"contrib/subtree", 30, ".sh"},
    {"contrib/credential/netrc", 10, ".perl"},
    {"contrib/buildsystems", 30, ".pl"},
    {"contrib/mw-to-git", 40, ".perl"},
    {"contrib/fast-import", 20, ".py"},
    {"contrib/hooks/multimail", 30, ".py"},
    {"contrib/vscode", 10, ".sh"},
    {"compat", 60, ".c"},
    {"compat/win32", 30, ".c"},
    {"compat/regex", 10, ".c"},
    {"compat/nedmalloc", 10, ".c"},
    {"compat/fsmonitor", 20, ".c"},
    {"compat/simple-ipc", 10, ".c"},
    {"compat/vcbuild", 20, ".bat"},
    {"git-gui/lib", 60, ".tcl"},
    {"git-gui/po", 40, ".po"},
    {"git-gui", 20, ""},
    {"gitk-git/po", 20, ".po"},
    {"gitk-git", 15, ""},
    {"gitweb/static", 20, ".js"},
    {"gitweb", 10, ".perl"},
    {"po", 25, ".po"},
    {"perl/Git", 20, ".pm"},
    {"templates", 25, ".sample"},
    {"xdiff", 20, ".c"},
    {"reftable", 60, ".c"},
    {"refs", 10, ".c"},
    {"sha1dc", 8, ".c"},
    {"sha256", 6, ".c"},
    {"ewah", 6, ".c"},
    {"trace2", 10, ".c"},
    {"negotiator", 6, ".c"},
    {"mergetools", 40, ""},
    {"ci", 20, ".sh"},
    {"oss-fuzz", 6, ".c"},
    {"block-sha1", 2, ".c"},
    {"t/t3900", 31, ".txt"},
    {"t/t7004", 10, ""},
    {"t/t9150", 20, ".dump"},
    {"t/t4051", 16, ".c"},
};
constexpr const char* GIT_LIKE_SUBMODULE = "sha1collisiondetection";

std::vector<std::string> git_like_paths(uint32_t files) {
  std::vector<std::string> paths;
  for (const TreeDirectory& dir : GIT_LIKE_TREE) {
    uint32_t count = static_cast<uint32_t>(uint64_t{dir.files} * files / GIT_LIKE_FILES);
    std::string prefix = *dir.path ? std::string(dir.path) + "/" : "";
    for (uint32_t i = 0; i < count; ++i)
      paths.push_back(prefix + "name" + std::to_string(i) + dir.extension);
  }
  return paths;
}

// Source-like text of a few KB, its size varying from file to file as a project's do.
std::string source_text(const std::string& path, uint32_t i) {
  uint32_t lines = 5 + static_cast<uint32_t>((i * 2654435761ull) % 400);
  std::string text;
  for (uint32_t k = 0; k < lines; ++k)
    text += "\tline " + std::to_string(k) + " of " + path + " (statement);\n";
  return text;
}

std::vector<std::string> tree_paths(const SubmoduleTreeShape& shape) {
  if (shape.layout == TreeLayout::GitLike) return git_like_paths(shape.files);
  std::vector<std::string> paths;
  for (uint32_t i = 0; i < shape.files; ++i) paths.push_back(tree_path(i));
  return paths;
}

// One commit of `paths` (and `extra`, already in fast-import's form) into `at`/repo, checked out.
void import_tree(const fs::path& at, const std::vector<std::string>& paths,
                 const std::string& extra) {
  std::string s;
  commit_header(s, "refs/heads/main", 1, 1, EPOCH, "Tree\n");
  for (uint32_t i = 0; i < paths.size(); ++i) change_file(s, paths[i], source_text(paths[i], i));
  s += extra + '\n';
  import_stream(at, s);
  fs::remove(at / MARKS_FILE);
  run_git_in(at / "repo", {"reset", "-q", "--hard"});
}

void add_submodule(const fs::path& repo, const fs::path& source, const std::string& path) {
  run_git_in(repo, {"-c", "protocol.file.allow=always", "submodule", "-q", "add",
                    (source / "repo").string(), path});
  run_git_in(repo, {"commit", "-q", "-m", "Submodule " + path});
}

void fill_submodule_tree(const fs::path& entry, const SubmoduleTreeShape& shape) {
  std::vector<std::string> paths = tree_paths(shape);
  if (shape.modified > paths.size()) throw std::runtime_error("more modified files than files");
  std::string extra;
  if (shape.nested == 0) {
    std::string modules = std::string("[submodule \"") + GIT_LIKE_SUBMODULE +
                          "\"]\n\tpath = " + GIT_LIKE_SUBMODULE + "\n\turl = https://example.com/" +
                          GIT_LIKE_SUBMODULE + ".git\n";
    extra = "M 160000 " + std::string(40, '5') + " " + GIT_LIKE_SUBMODULE + "\n";
    change_file(extra, ".gitmodules", modules);
  }
  import_tree(entry, paths, extra);
  fs::path repo = entry / "repo";
  // The innermost submodule first, so that each can hold the next.
  std::vector<fs::path> levels;
  for (uint32_t k = shape.nested; k >= 1; --k) {
    fs::path source = entry / "sources" / ("level" + std::to_string(k));
    init_repo(source / "repo");
    std::vector<std::string> own;
    for (uint32_t i = 0; i < shape.submodule_files; ++i) own.push_back(tree_path(i));
    import_tree(source, own, "");
    if (k < shape.nested) add_submodule(source / "repo", levels.back(), "deep");
    levels.push_back(source);
  }
  if (shape.nested > 0) {
    add_submodule(repo, levels.back(), "sub");
    run_git_in(repo, {"-c", "protocol.file.allow=always", "submodule", "-q", "update", "--init",
                      "--recursive"});
  }
  uint32_t step = shape.modified ? static_cast<uint32_t>(paths.size()) / shape.modified : 1;
  for (uint32_t k = 0; k < shape.modified; ++k) {
    std::ofstream(repo / paths[k * step], std::ios::binary | std::ios::app) << "changed\n";
  }
  for (uint32_t k = 0; k < shape.untracked; ++k) {
    write_file(repo / fs::path(paths[k]).parent_path() / ("new" + std::to_string(k) + ".txt"),
               "new\n");
  }
  std::vector<fs::path> work_trees{repo};
  for (uint32_t k = 1; k <= shape.nested; ++k) {
    work_trees.push_back(work_trees.back() / (k == 1 ? "sub" : "deep"));
    std::ofstream(work_trees.back() / tree_path(0), std::ios::binary | std::ios::app)
        << "changed\n";
  }
  // The innermost first: a status of the one above looks into it.
  for (auto dir = work_trees.rbegin(); dir != work_trees.rend(); ++dir) settle_index(*dir);
  auto status = run_git_in(repo, {"status", "--porcelain", "-uall", "-z"});
  auto entries = static_cast<uint32_t>(std::count(status.begin(), status.end(), '\0'));
  if (entries != submodule_tree_changes(shape)) {
    throw std::runtime_error("submodule tree shows " + std::to_string(entries) + " changes");
  }
}

std::string number_key(std::initializer_list<std::pair<uint32_t, const char*>> parts) {
  std::string key;
  for (const auto& [value, unit] : parts) key += "-" + std::to_string(value) + unit;
  return key;
}

}  // namespace

std::optional<Scale> scale_named(std::string_view name) {
  constexpr auto PLAIN = HistoryStyle::Plain;
  constexpr auto REALISTIC = HistoryStyle::Realistic;
  if (name == "full") {
    return Scale{.name = "full",
                 .history = {PLAIN, 100000, 2000, 500, 50, 100, 2000, 0},
                 .realistic_history = {REALISTIC, 100000, 2000, 1000, 50, 5, 10000, 4},
                 .many_merges = {REALISTIC, 40000, 20, 20, 5, 4, 4000, 40},
                 .work_tree = {50000, 5000, 1000},
                 .big_file = {100000, 10000},
                 .large_with_submodule = {TreeLayout::Numbered, 100000, 100, 10, 1, 100},
                 .git_like = {TreeLayout::GitLike, 4500, 5, 2, 0, 0},
                 .nested_submodules = {TreeLayout::Numbered, 50, 2, 1, 2, 20}};
  }
  if (name == "small") {
    return Scale{.name = "small",
                 .history = {PLAIN, 3000, 60, 15, 5, 100, 200, 0},
                 .realistic_history = {REALISTIC, 1500, 60, 20, 5, 5, 1000, 4},
                 .many_merges = {REALISTIC, 600, 10, 5, 3, 4, 400, 40},
                 .work_tree = {400, 40, 10},
                 .big_file = {3000, 300},
                 .large_with_submodule = {TreeLayout::Numbered, 400, 10, 2, 1, 20},
                 .git_like = {TreeLayout::GitLike, 450, 5, 2, 0, 0},
                 .nested_submodules = {TreeLayout::Numbered, 20, 2, 1, 2, 10}};
  }
  return std::nullopt;
}

Scale scale_from_environment() {
  auto name = get_environment("BRACKWEN_BENCH_SCALE");
  auto scale = name ? scale_named(*name) : std::nullopt;
  return scale ? *scale : *scale_named("full");
}

fs::path default_cache_root() {
  if (auto own = get_environment("BRACKWEN_BENCH_CACHE"); own && !own->empty()) return *own;
  auto xdg = get_environment("XDG_CACHE_HOME");
  if (xdg && fs::path(*xdg).is_absolute()) return fs::path(*xdg) / "brackwen-bench";
  return "/tmp/brackwen-bench";
}

void isolate_git_config() {
  set_environment("GIT_CONFIG_GLOBAL", "/dev/null");
  set_environment("GIT_CONFIG_NOSYSTEM", "1");
}

fs::path history_repo(const fs::path& root, const HistoryShape& shape) {
  std::string numbers = number_key({{shape.commits, "c"},
                                    {shape.branches, "b"},
                                    {shape.tags, "t"},
                                    {shape.stashes, "s"},
                                    {shape.merge_every, "m"},
                                    {shape.files, "f"}});
  auto fill = [&](const fs::path& entry) { fill_history(entry, shape); };
  if (shape.style == HistoryStyle::Plain) {
    return cached_entry(root, "history" + numbers, GENERATOR_VERSION, fill) / "repo";
  }
  numbers += number_key({{shape.files_per_commit, "p"}});
  return cached_entry(root, "realistic" + numbers, REALISTIC_GENERATOR_VERSION, fill) / "repo";
}

fs::path work_tree_repo(const fs::path& root, const WorkTreeShape& shape) {
  std::string key =
      "worktree" + number_key({{shape.files, "f"}, {shape.modified, "m"}, {shape.untracked, "u"}});
  return cached_entry(root, key, GENERATOR_VERSION,
                      [&](const fs::path& entry) { fill_work_tree(entry, shape); }) /
         "repo";
}

uint32_t submodule_tree_changes(const SubmoduleTreeShape& shape) {
  return shape.modified + shape.untracked + (shape.nested > 0 ? 1 : 0);
}

fs::path submodule_tree_repo(const fs::path& root, const SubmoduleTreeShape& shape) {
  std::string layout = shape.layout == TreeLayout::GitLike ? "gitlike" : "numbered";
  std::string key = "submodules-" + layout +
                    number_key({{shape.files, "f"},
                                {shape.modified, "m"},
                                {shape.untracked, "u"},
                                {shape.nested, "n"},
                                {shape.submodule_files, "s"}});
  return cached_entry(root, key, GENERATOR_VERSION,
                      [&](const fs::path& entry) { fill_submodule_tree(entry, shape); }) /
         "repo";
}

BigFileRepo big_file_repo(const fs::path& root, const BigFileShape& shape) {
  const std::string file = "big.txt";
  std::string key = "bigfile" + number_key({{shape.lines, "l"}, {shape.changed, "c"}});
  fs::path entry = cached_entry(root, key, GENERATOR_VERSION,
                                [&](const fs::path& at) { fill_big_file(at, shape, file); });
  return {entry / "repo", file, entry / (file + ".committed")};
}

}  // namespace brackwen::bench
