#include "stores/user_dirs.hpp"

#include <gtest/gtest.h>

#include "git/process.hpp"
#include "stores/environment.hpp"

namespace brackwen {
namespace {

struct SavedVariable {
  std::string name;
  std::optional<std::string> value = get_environment(name);
  ~SavedVariable() { set_environment(name, value.value_or("")); }
};

TEST(UserCachesDir, XdgWhenAbsoluteElseHomeLookedUpOnEveryCall) {
  SavedVariable xdg{"XDG_CACHE_HOME"};
  SavedVariable home{"HOME"};
  set_environment("XDG_CACHE_HOME", "/x/cache");
  set_environment("HOME", "/h/one");
  EXPECT_EQ(user_caches_dir(), std::filesystem::path("/x/cache/brackwen"));
  set_environment("XDG_CACHE_HOME", "relative/cache");
  EXPECT_EQ(user_caches_dir(), std::filesystem::path("/h/one/.cache/brackwen"));
  set_environment("XDG_CACHE_HOME", "");
  set_environment("HOME", "/h/two");
  EXPECT_EQ(user_caches_dir(), std::filesystem::path("/h/two/.cache/brackwen"));
  // An empty HOME falls back to the password database.
  set_environment("HOME", "");
  auto fallback = user_caches_dir();
  ASSERT_TRUE(fallback);
  EXPECT_TRUE(fallback->is_absolute());
  EXPECT_EQ(fallback->filename(), "brackwen");
}

}  // namespace
}  // namespace brackwen
