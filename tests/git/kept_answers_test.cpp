// What a status keeps between reads, seen from inside: a kept answer goes as soon as any file it
// rests on changes, however the change hides its size and time, and the stores stay bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "stores/read_cache.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

std::shared_ptr<const ConfigListing> listing_of(size_t bytes) {
  auto listing = std::make_shared<ConfigListing>();
  listing->text.assign(bytes, 'x');
  return listing;
}

timespec now_plus(time_t seconds) {
  timespec time{};
  ::clock_gettime(CLOCK_REALTIME, &time);
  time.tv_sec += seconds;
  return time;
}

// Each change leaves what a listing would be kept by different, even where size and
// modification time are put back as they were.
TEST(KeptAnswers, EveryChangeOfAFileItRestsOnIsSeen) {
  struct Case {
    std::string name;
    bool there_first;
    std::function<void(const fs::path&)> change;
  };
  const Case cases[] = {
      {"rewritten, same size, times put back", true,
       [](const fs::path& file) {
         struct stat st {};
         ASSERT_EQ(::stat(file.c_str(), &st), 0);
         std::ofstream(file) << "[b]\n";
         timespec times[2] = {st.st_atim, st.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
       }},
      {"replaced by another file", true,
       [](const fs::path& file) {
         std::ofstream(file.string() + ".new") << "[a]\n";
         fs::rename(file.string() + ".new", file);
       }},
      {"removed", true, [](const fs::path& file) { fs::remove(file); }},
      {"appears", false, [](const fs::path& file) { std::ofstream(file) << "[a]\n"; }},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    fs::path file = dir.path / "config";
    if (c.there_first) std::ofstream(file) << "[a]\n";
    std::string key = "key " + c.name;
    keep_listing(key, {{file_stamp(file.string())}, listing_of(10)});
    ASSERT_NE(kept_listing(key), nullptr) << c.name;
    c.change(file);
    EXPECT_EQ(kept_listing(key), nullptr) << c.name;
  }
}

// A file changed just before it was read may change again within the same tick of the
// kernel's clock and keep its stamp: only files older than that are kept by.
TEST(KeptAnswers, AFileJustChangedIsNotSettled) {
  test::TempDir dir;
  fs::path file = dir.path / "config";
  std::ofstream(file) << "[a]\n";
  std::vector<FileStamp> stamps{file_stamp(file.string()),
                                file_stamp((dir.path / "none").string())};
  EXPECT_FALSE(settled_before(stamps, now_plus(0)));
  EXPECT_TRUE(settled_before(stamps, now_plus(4)));
}

// A hostile repository with many submodules, or a large listing, cannot make the stores grow
// without bound: past their limits the oldest answers go, and a listing over a megabyte is
// read afresh each time.
TEST(KeptAnswers, StoresStayBounded) {
  test::TempDir dir;
  std::vector<FileStamp> stamps{file_stamp((dir.path / "none").string())};
  keep_listing("large", {stamps, listing_of(size_t{2} << 20)});
  EXPECT_EQ(kept_listing("large"), nullptr);
  for (int i = 0; i < 100; ++i)
    keep_listing("bounded " + std::to_string(i), {stamps, listing_of(size_t{512} << 10)});
  EXPECT_EQ(kept_listing("bounded 0"), nullptr);
  EXPECT_NE(kept_listing("bounded 99"), nullptr);
}

}  // namespace
}  // namespace brackwen
