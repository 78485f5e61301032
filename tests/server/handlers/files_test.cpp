#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "support/server_harness.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using test::ServerProcess;

std::string quoted(const fs::path& p) {
  return "\"" + p.string() + "\"";
}

struct Case {
  std::string path;
  std::string body;
  int status;
  std::string reply;
};

void expect_replies(const ServerProcess& server, const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    auto r = server.post(c.path, c.body);
    EXPECT_EQ(r.status, c.status) << c.path << " " << c.body;
    EXPECT_EQ(r.body, c.reply) << c.path << " " << c.body;
  }
}

TEST(FileEndpoints, ExistsAndSize) {
  ServerProcess server;
  test::TempDir t;
  std::ofstream(t.path / "empty");
  std::ofstream(t.path / "ten") << "0123456789";
  fs::create_symlink(t.path / "ten", t.path / "link");
  fs::create_symlink(t.path / "gone", t.path / "dangling");
  expect_replies(server, {
                             {"/f/path_exists", "\"/tmp\"", 200, "true"},
                             {"/f/path_exists", " \"\" ", 200, "false"},
                             {"/f/path_exists", quoted(t.path / "dangling"), 200, "false"},
                             {"/f/path_exists", "\"/tmp\\u0000/x\"", 200, "false"},
                             {"/f/path_exists", "null", 500, ""},
                             {"/f/path_exists", "5", 500, ""},
                             {"/f/path_exists", "\"/tmp\" x", 500, ""},
                             {"/f/file_size", quoted(t.path / "empty"), 200, "0"},
                             {"/f/file_size", quoted(t.path / "link"), 200, "10"},
                             {"/f/file_size", quoted(t.path / "missing"), 200, "null"},
                             {"/f/file_size", "null", 500, ""},
                         });
}

TEST(FileEndpoints, TempDirWithTmpdirUnset) {
  unsetenv("TMPDIR");
  ServerProcess server;
  expect_replies(server, {
                             {"/f/temp_dir", "\"\"", 200, "\"/tmp\""},
                             {"/f/temp_dir", "\"ignored\"", 200, "\"/tmp\""},
                             {"/f/temp_dir", "null", 500, ""},
                             {"/f/temp_dir", "", 500, ""},
                         });
}

TEST(FileEndpoints, TempDirTakenAsSet) {
  ServerProcess empty(test::Environment{{"TMPDIR", ""}});
  expect_replies(empty, {{"/f/temp_dir", "\"\"", 200, "\"\""}});
  ServerProcess odd(test::Environment{{"TMPDIR", "/var/folders/x \"y\"/T/"}});
  expect_replies(odd, {{"/f/temp_dir", "\"\"", 200, R"("/var/folders/x \"y\"/T/")"}});
}

TEST(FileEndpoints, WriteFile) {
  ServerProcess server;
  test::TempDir t;
  auto file = t.path / "ünï \"cödé\".txt";
  std::ofstream(t.path / "long") << std::string(1000, 'z');
  auto body = [](const fs::path& p, const std::string& content) {
    std::string escaped;
    for (char c : p.string()) escaped += c == '"' ? std::string("\\\"") : std::string(1, c);
    return "{\"content\":" + content + ",\"filePath\":\"" + escaped + "\",\"other\":[1]}";
  };
  expect_replies(server, {
                             {"/f/write_file", body(file, "\"\""), 200, "true"},
                             {"/f/write_file", body(t.path / "long", "\"a\\nb\""), 200, "true"},
                             {"/f/write_file", body(t.path / "no/dir.txt", "\"x\""), 200, "null"},
                             {"/f/write_file", body(t.path / "cut\\u0000x", "\"x\""), 200, "null"},
                             {"/f/write_file", body(file, "5"), 500, ""},
                             {"/f/write_file", "{\"filePath\":\"/tmp/x\"}", 500, ""},
                             {"/f/write_file", "[\"/tmp/x\"]", 500, ""},
                             {"/f/write_file", "null", 500, ""},
                         });
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(fs::file_size(file), 0u);
  EXPECT_EQ(test::read_file(t.path / "long"), "a\nb");
  EXPECT_FALSE(fs::exists(t.path / "no"));
  EXPECT_FALSE(fs::exists(t.path / "cut"));
  auto array_form = "[" + quoted(t.path / "arr") + ",\"ü\"]";
  expect_replies(server, {{"/f/write_file", array_form, 200, "true"}});
  EXPECT_EQ(test::read_file(t.path / "arr"), "ü");
}

}  // namespace
}  // namespace brackwen
