#include "git/queries/config.hpp"

#include <gtest/gtest.h>

#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::TempRepo;

struct GrammarCase {
  const char* name;
  std::string text;
  std::optional<TextMap> entries;  // absent: the whole output is refused
  TextMap remotes;
};

TEST(ConfigGrammar, ReadsGitConfigList) {
  const GrammarCase cases[] = {
      {"plain",
       "user.name=A B\ncore.bare=false\n",
       TextMap{{"user.name", "A B"}, {"core.bare", "false"}},
       {}},
      {"value keeps later equals",
       "alias.x=log --format=%h\n",
       TextMap{{"alias.x", "log --format=%h"}},
       {}},
      {"repeated key keeps the last",
       "remote.origin.url=u1\nremote.origin.url=u2\n",
       TextMap{{"remote.origin.url", "u2"}},
       {{"origin", "u2"}}},
      {"remotes from url keys only",
       "remote.origin.url=u\nremote.origin.fetch=f\nremote.up.url=v\nremote.up.pushurl=w\n",
       TextMap{{"remote.origin.url", "u"},
               {"remote.origin.fetch", "f"},
               {"remote.up.url", "v"},
               {"remote.up.pushurl", "w"}},
       {{"origin", "u"}, {"up", "v"}}},
      {"a dotted remote name is never found",
       "remote.a.b.url=x\n",
       TextMap{{"remote.a.b.url", "x"}},
       {}},
      {"key without value joins the next line",
       "a.flag\nb.c=1\n",
       TextMap{{"a.flag\nb.c", "1"}},
       {}},
      {"key without value at the end refuses everything", "b.c=1\na.flag\n", std::nullopt, {}},
      {"crlf ends a value, a lone cr stays",
       "a.b=x\r\nc.d=y\r",
       TextMap{{"a.b", "x"}, {"c.d", "y\r"}},
       {}},
      {"last line without line end", "a.b=x", TextMap{{"a.b", "x"}}, {}},
      {"empty value and non-ascii",
       "user.name=\nuser.email=zoë@exämple.org\n",
       TextMap{{"user.name", ""}, {"user.email", "zoë@exämple.org"}},
       {}},
  };
  for (const GrammarCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<RepoConfig> read = read_full_config(c.text);
    ASSERT_EQ(read.has_value(), c.entries.has_value());
    if (!read) continue;
    EXPECT_EQ(read->entries, *c.entries);
    EXPECT_EQ(read->remotes, c.remotes);
  }
}

class LoadFullConfig : public testing::Test {
 protected:
  TempRepo repo;
};

TEST_F(LoadFullConfig, RepeatedKeysRemotesAndAKeyWithoutValue) {
  git(repo.path, {"remote", "add", "origin", "https://example.com/o.git"});
  git(repo.path, {"remote", "add", "fork", "/srv/git/for k.git"});
  git(repo.path, {"config", "--add", "test.multi", "first"});
  git(repo.path, {"config", "--add", "test.multi", "second"});
  // git prints a key set without "=" as the bare key; here it is followed by more lines.
  test::sh(repo.path, "printf '[flags]\\n\\tbare\\n[zz]\\n\\tlast = 1\\n' >> .git/config");

  std::optional<RepoConfig> config = load_full_config(repo.str());
  ASSERT_TRUE(config);
  EXPECT_EQ(config->entries.at("test.multi"), "second");
  EXPECT_EQ(config->entries.at("flags.bare\nzz.last"), "1");
  EXPECT_EQ(config->remotes.at("origin"), "https://example.com/o.git");
  EXPECT_EQ(config->remotes.at("fork"), "/srv/git/for k.git");
  EXPECT_EQ(get_cached_config(repo.str())->entries, config->entries);

  // Ending on a key without value makes the whole output unreadable: the cache keeps the
  // earlier entry.
  test::sh(repo.path, "printf '[yy]\\n\\tbare\\n' >> .git/config");
  EXPECT_FALSE(load_full_config(repo.str()));
  EXPECT_EQ(get_cached_config(repo.str())->entries, config->entries);
}

TEST_F(LoadFullConfig, ASecondLoadReplacesTheEntry) {
  git(repo.path, {"config", "remote.origin.url", "one"});
  ASSERT_TRUE(load_full_config(repo.str()));
  git(repo.path, {"config", "remote.origin.url", "two"});
  ASSERT_TRUE(load_full_config(repo.str()));
  EXPECT_EQ(get_cached_config(repo.str())->remotes.at("origin"), "two");
}

}  // namespace
}  // namespace brackwen
