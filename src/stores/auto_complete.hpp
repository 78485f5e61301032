// Word suggestions while the user writes a commit message or names a new branch, from a
// prefix tree of the words in the repository's loaded history.
#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/commit.hpp"
#include "model/patch.hpp"

namespace brackwen {

// One node of the word tree. Trees are built once and then shared read-only.
struct TrieNode {
  TrieNode() = default;
  explicit TrieNode(char32_t c) : ch(c) {}
  TrieNode(const TrieNode&) = delete;
  TrieNode& operator=(const TrieNode&) = delete;
  TrieNode(TrieNode&&) = default;
  TrieNode& operator=(TrieNode&&) = default;
  ~TrieNode();  // iterative: a very long word must not exhaust the stack

  // Ordered by `ch`; code-point order is the byte order of UTF-8, so a walk in this order
  // yields words already sorted.
  std::vector<std::unique_ptr<TrieNode>> children;
  char32_t ch = 0;  // leads here from the parent; unused at the root
  bool is_word = false;
};

// Adds a word (case-sensitive, compared code point by code point); an empty word adds nothing.
void trie_insert(TrieNode& root, std::string_view word);

// The stored words that extend `prefix` by at least one code point, sorted by their UTF-8
// bytes, at most `max_num` of them.
std::vector<std::string> trie_complete(const TrieNode& root, std::string_view prefix,
                                       size_t max_num);

// The words of a commit message: each commit's author and e-mail whole, the words of seven
// or more code points of its message, every ref's short name and every changed file's paths.
std::shared_ptr<const TrieNode> build_message_trie(const CommitsAndRefs& history,
                                                   const PatchMap& patches);

// The commit-message word tree kept for `repo_path`; null when the tree kept is another
// repository's, or none was built yet.
std::shared_ptr<const TrieNode> stored_message_trie(const std::string& repo_path);

// Keeps `tree` as the commit-message word tree of `repo_path`, in place of any other.
void store_message_trie(const std::string& repo_path, std::shared_ptr<const TrieNode> tree);

// Suggestions for a new branch name from the short names of the loaded refs. Absent when the
// repository's history was never loaded.
std::optional<std::vector<std::string>> complete_branch_name(const std::string& repo_path,
                                                             std::string_view current_word,
                                                             size_t max_num);

}  // namespace brackwen
