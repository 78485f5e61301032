// The process-wide stores and caches: updates of concurrent threads, a poisoned store, the
// auto-complete word tree, and the cache folder's rules that no reply shows.
#include "stores/stores.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <thread>

#include "server/history.hpp"
#include "stores/auto_complete.hpp"
#include "stores/environment.hpp"
#include "stores/repo_changed.hpp"
#include "stores/user_dirs.hpp"

namespace brackwen {
namespace {

void on_threads(int count, const std::function<void(int)>& body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
  for (auto& th : threads) th.join();
}

TEST(Stores, ConcurrentUpdatesLoseNothing) {
  static constexpr ActionId id = 4242;
  ACTIONS().update([&](auto& all) { all[id] = ActionState{}; });
  on_threads(8, [](int t) {
    for (int i = 0; i < 1000; ++i) {
      ACTIONS().update([&](auto& all) {
        all[id].stdout_lines.push_back(std::to_string(t) + ":" + std::to_string(i));
      });
    }
  });
  const auto lines = ACTIONS().get()->at(id).stdout_lines;
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), 8000u);

  std::unordered_map<std::string, bool> flags;
  for (int i = 0; i < 8; ++i) flags["/r" + std::to_string(i)] = false;
  set_repo_changed(flags);
  on_threads(8, [](int t) {
    for (int n = 0; n < 2000; ++n) {
      clear_repo_changed_status("/r" + std::to_string(t));
      mark_repo_changed("/r" + std::to_string(t));
    }
  });
  auto after = get_repo_changed();
  for (const auto& [path, changed] : *after) EXPECT_TRUE(changed) << path;
}

TEST(Store, WriterThatThrowsPoisonsForGood) {
  Store<int> store{5};
  EXPECT_THROW(store.update([](int&) { throw 1; }), int);
  EXPECT_FALSE(store.get() || store.read([](int v) { return v; }) || store.set(7) || store.get());
}

TEST(UserCachesDir, XdgWhenAbsoluteElseHomeLookedUpOnEveryCall) {
  auto xdg = get_environment("XDG_CACHE_HOME");
  auto home = get_environment("HOME");
  for (auto [xdg_value, home_value, dir] : {std::tuple{"/x", "/h1", "/x/brackwen"},
                                            {"rel", "/h1", "/h1/.cache/brackwen"},
                                            {"", "/h2", "/h2/.cache/brackwen"}}) {
    set_environment("XDG_CACHE_HOME", xdg_value);
    set_environment("HOME", home_value);
    EXPECT_EQ(user_caches_dir(), std::filesystem::path(dir));
  }
  set_environment("HOME", "");  // falls back to the password database
  EXPECT_TRUE(user_caches_dir() && user_caches_dir()->is_absolute());
  set_environment("XDG_CACHE_HOME", xdg.value_or(""));
  set_environment("HOME", home.value_or(""));
}

using Words = std::vector<std::string>;

TEST(TrieComplete, PrefixOrderAndLimits) {
  TrieNode root;
  for (std::string word : {"refactor", "refactored", "release", "same", "same", "same!", "eta",
                           "été", "étage", "x\U0001F600", "x\u20AC", "xé", "xz", "xA", "x\uFFFF"}) {
    trie_insert(root, word);
  }
  const std::tuple<std::string, size_t, Words> cases[] = {
      {"refactor", 10, {"refactored"}},
      {"Refa", 10, {}},  // case-sensitive
      {"refactors", 10, {}},
      {"sa", SIZE_MAX, {"same", "same!"}},
      {"ét", 10, {"étage", "été"}},
      // UTF-8 byte order: upper case, lower case, then longer encodings.
      {"x", 10, {"xA", "xz", "xé", "x\u20AC", "x\uFFFF", "x\U0001F600"}},
  };
  for (const auto& [prefix, max_num, words] : cases) {
    EXPECT_EQ(trie_complete(root, prefix, max_num), words) << prefix;
  }
}

TEST(TrieComplete, VeryLongWordNeedsNoDeepStack) {
  std::string word(2'000'000, 'a');
  TrieNode root;  // destroyed at the end, two million levels deep
  trie_insert(root, word);
  trie_insert(root, word + "b");
  EXPECT_EQ(trie_complete(root, "aaa", 5), (Words{word, word + "b"}));
}

Commit commit(std::string author, std::string message) {
  Commit c;
  c.author = std::move(author);
  c.email = "ada@example.com";
  c.message = std::move(message);
  return c;
}

TEST(BuildMessageTrie, WordsFromHistory) {
  CommitsAndRefs history;
  history.commits = {commit("Ada Lovelace", "fix improvement\n"),
                     commit("Ada Lovelace", "refactor:\ttidy\u00A0parsers"),
                     commit("Bob", "On main: stashed-work")};
  history.refs.resize(1);
  history.refs[0].short_name = "feature/login";
  PatchMap patches{
      {"c1", {Patch{"c1", "src/old name.c", "src/new name.c", PatchType::R, "i", false}}}};
  auto root = build_message_trie(history, patches);
  const std::pair<std::string, Words> cases[] = {
      {"improv", {"improvement"}}, {"fi", {}},  // three code points: dropped
      {"refac", {"refactor:"}},                 // punctuation kept, tab splits
      {"pars", {"parsers"}},                    // no-break space is whitespace
      {"stash", {"stashed-work"}},              // last word without a line end
      {"Ada", {"Ada Lovelace"}},   {"ada@", {"ada@example.com"}},
      {"fea", {"feature/login"}},  {"src/", {"src/new name.c", "src/old name.c"}},
  };
  for (const auto& [prefix, words] : cases) {
    EXPECT_EQ(trie_complete(*root, prefix, 100), words) << prefix;
  }
}

void load(const std::string& repo, const std::string& message) {
  COMMITS_CACHE().update([&](CommitsCache& cache) {
    cache[repo] =
        std::make_shared<const CommitsAndRefs>(CommitsAndRefs{{commit("Ada", message + "\n")}, {}});
  });
}

TEST(CompleteCommitMessage, TreeIsKeptForTheLastRepository) {
  load("/a", "original");
  load("/b", "different");
  EXPECT_EQ(complete_commit_message("/a", "orig", 10), Words{"original"});
  EXPECT_EQ(complete_commit_message("/a", "", 10), std::nullopt);  // no word, no list
  auto first = MESSAGE_TRIE().get()->root;

  // Reloaded history does not change the kept tree of the same repository.
  load("/a", "replacement");
  EXPECT_EQ(complete_commit_message("/a", "orig", 10), Words{"original"});
  EXPECT_EQ(MESSAGE_TRIE().get()->root, first);  // shared, not copied

  EXPECT_EQ(complete_commit_message("/b", "diff", 10), Words{"different"});
  EXPECT_EQ(complete_commit_message("/a", "repl", 10), Words{"replacement"});

  // A kept tree stays usable after its repository's history was dropped from the cache.
  COMMITS_CACHE().set({});
  EXPECT_EQ(complete_commit_message("/a", "repl", 10), Words{"replacement"});
  MESSAGE_TRIE().set({});
}

}  // namespace
}  // namespace brackwen
