#include "server/data_store.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "support/file_size_limit.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

// Points the application-support directory into a fresh directory for one test.
struct DataStoreTest : testing::Test {
  test::TempDir home;
  fs::path dir = home.path / "data" / "brackwen";
  fs::path file = dir / "data_store.json";
  std::optional<std::string> saved_home, saved_data;

  static std::optional<std::string> get(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  }
  static void put(const char* name, const std::optional<std::string>& v) {
    v ? setenv(name, v->c_str(), 1) : unsetenv(name);
  }
  void SetUp() override {
    saved_home = get("HOME");
    saved_data = get("XDG_DATA_HOME");
    setenv("XDG_DATA_HOME", (home.path / "data").c_str(), 1);
  }
  void TearDown() override {
    put("HOME", saved_home);
    put("XDG_DATA_HOME", saved_data);
  }
  void write(const std::string& text) {
    fs::create_directories(dir);
    std::ofstream(file, std::ios::binary) << text;
  }
  std::string load_error() {
    auto r = load_data_store();
    return r.kind == DataStoreReply::Kind::Error ? r.error : "(no error)";
  }
  DataStore load_config() {
    auto r = load_data_store();
    EXPECT_EQ(r.kind, DataStoreReply::Kind::Config) << r.error;
    return r.config;
  }
  std::vector<std::string> dir_entries() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    return names;
  }
};

TEST_F(DataStoreTest, DirectoryFollowsTheEnvironmentOnEveryCall) {
  EXPECT_EQ(data_store_dir(), dir);
  setenv("HOME", "/home/someone", 1);
  setenv("XDG_DATA_HOME", "relative/path", 1);
  EXPECT_EQ(data_store_dir(), fs::path("/home/someone/.local/share/brackwen"));
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", "/elsewhere", 1);
  EXPECT_EQ(data_store_dir(), fs::path("/elsewhere/.local/share/brackwen"));
  setenv("HOME", "", 1);
  auto from_passwd = data_store_dir();
  ASSERT_TRUE(from_passwd);
  EXPECT_NE(from_passwd->string().find("/.local/share/brackwen"), std::string::npos);
  EXPECT_NE(from_passwd->string().front(), '.');
}

TEST_F(DataStoreTest, NoUsableDirectory) {
  std::ofstream(home.path / "plain");
  setenv("XDG_DATA_HOME", (home.path / "plain").c_str(), 1);
  EXPECT_EQ(load_error(), "Failed to get config file path");
  auto r = save_data_store({{"a", "b"}});
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.message, "Failed to get config file path");
}

TEST_F(DataStoreTest, CorruptFilesAreReported) {
  write("{\"a\":\"1\"}x");
  EXPECT_EQ(load_error(), "Failed to parse config file: trailing characters at line 1 column 10");
  write("");
  EXPECT_EQ(load_error(),
            "Failed to parse config file: EOF while parsing a value at line 1 column 0");
  write("{\n  \"a\": 1\n}");
  EXPECT_TRUE(load_error().starts_with("Failed to parse config file: invalid type: integer `1`"))
      << load_error();
  write("{\"a\":\"\xff\"}");
  EXPECT_EQ(load_error(), "Failed to read config file: stream did not contain valid UTF-8");
  fs::remove(file);
  fs::create_directory(file);
  EXPECT_EQ(load_error(), "Failed to read config file: Is a directory (os error 21)");
}

TEST_F(DataStoreTest, UnwritableDirectoryIsAnOpenError) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  ASSERT_TRUE(save_data_store({{"keep", "me"}}).success);
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
  auto r = save_data_store({{"new", "value"}});
  fs::permissions(dir, fs::perms::owner_all);
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.message, "Failed to open config file: Permission denied (os error 13)");
  EXPECT_EQ(load_config(), (DataStore{{"keep", "me"}}));
}

TEST_F(DataStoreTest, WhatCannotBeOpenedForWritingIsNotReplaced) {
  fs::create_directories(file);
  auto r = save_data_store({{"k", "v"}});
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.message, "Failed to open config file: Is a directory (os error 21)");
  EXPECT_TRUE(fs::is_directory(file));
  fs::remove(file);
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
  EXPECT_FALSE(save_data_store({{"k", "v"}}).success);  // returns: a pipe is never waited on
  EXPECT_EQ(fs::status(file).type(), fs::file_type::fifo);
  EXPECT_EQ(dir_entries(), std::vector<std::string>{"data_store.json"});
  if (geteuid() == 0) return;  // permissions do not bind root
  fs::remove(file);
  write("{}");
  fs::permissions(file, fs::perms::owner_read);
  r = save_data_store({{"k", "v"}});
  EXPECT_EQ(r.message, "Failed to open config file: Permission denied (os error 13)");
  EXPECT_EQ(test::read_file(file), "{}");
}

TEST_F(DataStoreTest, SaveKeepsModeAndSymbolicLink) {
  fs::create_directories(dir);
  auto real = home.path / "dotfiles.json";
  std::ofstream(real) << "{}";
  fs::create_symlink(real, file);
  chmod(real.c_str(), 0600);
  ASSERT_TRUE(save_data_store({{"k", "v"}}).success);
  EXPECT_TRUE(fs::is_symlink(file));
  EXPECT_EQ(test::read_file(real), "{\n  \"k\": \"v\"\n}");
  struct stat st;
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace brackwen
