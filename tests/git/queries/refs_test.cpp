#include "git/queries/refs.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

TEST(RefFromName, FieldsFollowTheComponentsOfTheName) {
  struct Case {
    std::string name, id, short_name;
    std::optional<std::string> remote;
    RefLocation location;
    RefType type;
  };
  using L = RefLocation;
  using T = RefType;
  std::vector<Case> cases = {
      {"refs/heads/feature/x", "refs/heads/feature/x", "feature/x", {}, L::Local, T::Branch},
      {"refs/remotes/origin/main", "refs/remotes/origin/main", "main", "origin", L::Remote,
       T::Branch},
      {"refs/remotes/up/a/b", "refs/remotes/up/a/b", "a/b", "up", L::Remote, T::Branch},
      {"refs/remotes/origin", "refs/remotes/origin", "", {}, L::Remote, T::Branch},
      {"refs/tags/v1.0^{}", "refs/tags/v1.0", "v1.0", {}, L::Remote, T::Tag},
      {"refs/stash", "refs/stash", "", {}, L::Local, T::Stash},
      {"HEAD", "HEAD", "HEAD", {}, L::Local, T::Branch},
      {"grafted", "grafted", "grafted", {}, L::Local, T::Branch},
      {"refs//x", "refs//x", "x", {}, L::Remote, T::Branch},
      {"refs/heads/fix(x),y", "refs/heads/fix(x),y", "fix(x),y", {}, L::Local, T::Branch},
  };
  for (const Case& c : cases) {
    RefInfo ref = ref_from_name(c.name);
    EXPECT_EQ(ref.id, c.id) << c.name;
    EXPECT_EQ(ref.full_name, c.id) << c.name;
    EXPECT_EQ(ref.short_name, c.short_name) << c.name;
    EXPECT_EQ(ref.remote_name, c.remote) << c.name;
    EXPECT_EQ(ref.location, c.location) << c.name;
    EXPECT_EQ(ref.ref_type, c.type) << c.name;
    EXPECT_FALSE(ref.sibling_id) << c.name;
    EXPECT_FALSE(ref.head) << c.name;
  }
}

TEST(ParseRefId, NamesTheSideOfAConflictMarker) {
  EXPECT_EQ(parse_ref_id("<<<<<<< HEAD"), "HEAD");
  EXPECT_EQ(parse_ref_id(">>>>>>> feature"), "Local/feature");
  EXPECT_EQ(parse_ref_id(">>>>>>> refs/remotes/origin/main"), "Remote/main");
  EXPECT_EQ(parse_ref_id(">>>>>>> fix(x) (some commit)"), "Local/fix(x)");
  EXPECT_EQ(parse_ref_id("<<<<<<<"), "");
  EXPECT_EQ(parse_ref_id("<<<<<<<  two-blanks"), "");
  EXPECT_EQ(parse_ref_id(">>>>>>> a\tb"), "a\tb");
}

}  // namespace
}  // namespace brackwen
