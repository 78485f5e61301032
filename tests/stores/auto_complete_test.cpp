// Auto-complete: the word tree's order and limits, the words taken from history, and the tree
// kept for the last repository.
#include "stores/auto_complete.hpp"

#include <gtest/gtest.h>

#include "server/history.hpp"
#include "stores/stores.hpp"

namespace brackwen {
namespace {

using Words = std::vector<std::string>;

TEST(TrieComplete, PrefixOrderAndLimits) {
  struct Case {
    Words stored;
    std::string prefix;
    size_t max_num;
    Words expected;
  };
  const Words re = {"refactor", "refactored", "release"};
  const Case cases[] = {
      {re, "refa", 10, {"refactor", "refactored"}},
      {re, "refactor", 10, {"refactored"}},
      {re, "Refa", 10, {}},  // case-sensitive
      {re, "refactors", 10, {}},
      {{"e", "d", "c", "b", "a"}, "", 2, {"a", "b"}},
      {re, "re", 0, {}},
      {{"same", "same", "same!"}, "sa", SIZE_MAX, {"same", "same!"}},
      // UTF-8 byte order: upper case, lower case, then longer encodings.
      {{"x\U0001F600", "x\u20AC", "xé", "xz", "xA", "x\uFFFF"},
       "x",
       10,
       {"xA", "xz", "xé", "x\u20AC", "x\uFFFF", "x\U0001F600"}},
      {{"été", "étage", "eta"}, "ét", 10, {"étage", "été"}},
      {{""}, "", 10, {}},  // an empty word adds nothing
  };
  for (const auto& c : cases) {
    TrieNode root;
    for (const auto& w : c.stored) trie_insert(root, w);
    EXPECT_EQ(trie_complete(root, c.prefix, c.max_num), c.expected) << c.prefix;
  }
}

TEST(TrieComplete, VeryLongWordNeedsNoDeepStack) {
  std::string word(2'000'000, 'a');
  TrieNode root;  // destroyed at the end, two million levels deep
  trie_insert(root, word);
  trie_insert(root, word + "b");
  auto found = trie_complete(root, "aaa", 5);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[1].size(), word.size() + 1);
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
