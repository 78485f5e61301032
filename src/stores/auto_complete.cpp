// The auto-complete word tree, the words gathered from history, and the shared tree of the
// last repository asked for commit-message words.
#include "stores/auto_complete.hpp"

#include <unicode/utf8.h>

#include <algorithm>
#include <utility>

#include "parser/standard_parsers.hpp"
#include "stores/stores.hpp"

namespace brackwen {
namespace {

constexpr size_t MIN_MESSAGE_WORD = 7;  // code points; shorter message words are noise

// Calls `fn` with each code point of `text`; a byte sequence that is not UTF-8 gives U+FFFD.
template <class F>
void for_each_code_point(std::string_view text, F&& fn) {
  int32_t at = 0;
  auto length = static_cast<int32_t>(text.size());
  while (at < length) {
    UChar32 c;
    U8_NEXT(text.data(), at, length, c);
    fn(c < 0 ? char32_t{0xFFFD} : static_cast<char32_t>(c));
  }
}

void append_code_point(std::string& out, char32_t c) {
  char buffer[U8_MAX_LENGTH];
  int32_t length = 0;
  U8_APPEND_UNSAFE(buffer, length, static_cast<UChar32>(c));
  out.append(buffer, static_cast<size_t>(length));
}

const TrieNode* find_child(const TrieNode& node, char32_t c) {
  auto it = std::lower_bound(node.children.begin(), node.children.end(), c,
                             [](const auto& child, char32_t key) { return child->ch < key; });
  return it != node.children.end() && (*it)->ch == c ? it->get() : nullptr;
}

TrieNode& child_for(TrieNode& node, char32_t c) {
  auto it = std::lower_bound(node.children.begin(), node.children.end(), c,
                             [](const auto& child, char32_t key) { return child->ch < key; });
  if (it != node.children.end() && (*it)->ch == c) return **it;
  return **node.children.insert(it, std::make_unique<TrieNode>(c));
}

// Message words end at whitespace; punctuation stays part of them. A last word with no
// whitespace after it (stash messages) counts too.
void insert_message_words(TrieNode& root, std::string_view message) {
  std::string word;
  size_t length = 0;
  auto end_word = [&] {
    if (length >= MIN_MESSAGE_WORD) trie_insert(root, word);
    word.clear();
    length = 0;
  };
  for_each_code_point(message, [&](char32_t c) {
    if (is_whitespace(c)) {
      end_word();
      return;
    }
    append_code_point(word, c);
    ++length;
  });
  end_word();
}

}  // namespace

TrieNode::~TrieNode() {
  std::vector<std::unique_ptr<TrieNode>> pending = std::move(children);
  while (!pending.empty()) {
    std::unique_ptr<TrieNode> node = std::move(pending.back());
    pending.pop_back();
    for (auto& child : node->children) pending.push_back(std::move(child));
    node->children.clear();
  }
}

void trie_insert(TrieNode& root, std::string_view word) {
  if (word.empty()) return;
  TrieNode* node = &root;
  for_each_code_point(word, [&](char32_t c) { node = &child_for(*node, c); });
  node->is_word = true;
}

std::vector<std::string> trie_complete(const TrieNode& root, std::string_view prefix,
                                       size_t max_num) {
  std::vector<std::string> out;
  const TrieNode* start = &root;
  for_each_code_point(prefix, [&](char32_t c) {
    if (start) start = find_child(*start, c);
  });
  if (!start || max_num == 0) return out;

  // Depth first in child order, each word before its extensions: byte order, so the walk
  // can stop at `max_num`.
  struct Frame {
    const TrieNode* node;
    size_t next_child;
    size_t text_length;
  };
  std::string text(prefix);
  std::vector<Frame> stack{{start, 0, text.size()}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next_child == top.node->children.size()) {
      stack.pop_back();
      continue;
    }
    const TrieNode& child = *top.node->children[top.next_child++];
    text.resize(top.text_length);
    append_code_point(text, child.ch);
    if (child.is_word) {
      out.push_back(text);
      if (out.size() == max_num) break;
    }
    stack.push_back({&child, 0, text.size()});
  }
  return out;
}

std::shared_ptr<const TrieNode> build_message_trie(const CommitsAndRefs& history,
                                                   const PatchMap& patches) {
  auto root = std::make_shared<TrieNode>();
  for (const auto& commit : history.commits) {
    trie_insert(*root, commit.author);
    trie_insert(*root, commit.email);
    insert_message_words(*root, commit.message);
  }
  for (const auto& ref : history.refs) trie_insert(*root, ref.short_name);
  for (const auto& [id, files] : patches) {
    for (const auto& patch : files) {
      trie_insert(*root, patch.new_file);
      trie_insert(*root, patch.old_file);
    }
  }
  return root;
}

std::shared_ptr<const TrieNode> stored_message_trie(const std::string& repo_path) {
  auto stored = MESSAGE_TRIE().get();
  if (!stored || !stored->root || stored->repo_path != repo_path) return nullptr;
  return stored->root;
}

void store_message_trie(const std::string& repo_path, std::shared_ptr<const TrieNode> tree) {
  // The replaced tree is freed after the lock is released, not under it.
  MessageTrie replaced;
  MESSAGE_TRIE().update([&](MessageTrie& current) {
    replaced = std::exchange(current, MessageTrie{std::move(tree), repo_path});
  });
}

std::optional<std::vector<std::string>> complete_branch_name(const std::string& repo_path,
                                                             std::string_view current_word,
                                                             size_t max_num) {
  auto history = get_cached_commits(repo_path);
  if (!history) return std::nullopt;
  TrieNode root;
  for (const auto& ref : history->refs) trie_insert(root, ref.short_name);
  return trie_complete(root, current_word, max_num);
}

}  // namespace brackwen
