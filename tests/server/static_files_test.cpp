// Static files: the root below the executable, the check line, types and refused paths.
#include "server/static_files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/server_harness.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::TempDir;

TEST(InstallationRoot, RemovesThreeComponents) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"/Applications/X.app/Contents/MacOS/core", "/Applications/X.app"},
      {"/a/b/core", "/"},
      {"/x/a/b/core", "/x"},
      {"/x//a/b/core", "/x"},
      {"/opt/core", std::nullopt},
      {"/core", std::nullopt},
      {"a/b/core", ""},
      {"", std::nullopt},
  };
  for (const auto& [executable, root] : cases) {
    EXPECT_EQ(installation_root(executable), root) << executable;
  }
}

TEST(QuotePath, EscapesQuotesControlsUnprintablesAndBadBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"/Applications/X.app/index.html", "\"/Applications/X.app/index.html\""},
      {"a\"b'c\\d", "\"a\\\"b\\'c\\\\d\""},
      {"t\tn\nr\r", "\"t\\tn\\nr\\r\""},
      {std::string("nul\0x", 5), "\"nul\\u{0}x\""},
      {"\x7f\x1b", "\"\\u{7f}\\u{1b}\""},
      {"caf\xc3\xa9 \xe2\x82\xac.css", "\"caf\xc3\xa9 \xe2\x82\xac.css\""},
      {"soft\xc2\xadhyphen", "\"soft\\u{ad}hyphen\""},
      {"bad\xff\xfe", "\"bad\\xFF\\xFE\""},
      {"cut\xe2\x82", "\"cut\\xE2\\x82\""},
  };
  for (const auto& [path, quoted] : cases) EXPECT_EQ(quote_path(path), quoted) << path;
}

struct Tree {
  TempDir dir;
  std::string executable = (dir.path / "a" / "b" / "core").string();
  void write(const std::string& relative, const std::string& content) {
    auto file = dir.path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
  }
  std::string check(const std::string& relative, bool exists) {
    return "file_path " + quote_path(dir.str() + "/" + relative) +
           ", exists: " + (exists ? "true" : "false") + "\n";
  }
};

TEST(LookUpStaticFile, DropsMissingUntypedAndNonRegularFiles) {
  Tree tree;
  tree.write("LICENSE", "MIT");
  tree.write(".gitignore", "build");
  tree.write("name.", "x");
  tree.write("data.nosuchtype", "x");
  tree.write("assets.js/inner.js", "x");
  std::filesystem::create_symlink(tree.dir.path / "gone.css", tree.dir.path / "dangling.css");
  ASSERT_EQ(::mkfifo((tree.dir.path / "pipe.js").c_str(), 0600), 0);
  const std::pair<const char*, bool> cases[] = {
      {"LICENSE", true},         {".gitignore", true},   {"name.", true},
      {"data.nosuchtype", true}, {"assets.js", true},    {"", true},
      {"pipe.js", true},         {"missing.css", false}, {"dangling.css", false},
  };
  for (const auto& [relative, exists] : cases) {
    StaticLookup lookup = look_up_static_file(tree.executable, std::string("/r/") + relative);
    EXPECT_EQ(lookup.check_line, tree.check(relative, exists)) << relative;
    EXPECT_FALSE(lookup.reply) << relative;
  }
}

// Through the running server: the tree of the harness is the root.
TEST(StaticFilesServed, StreamsFilesByteExactWithTheirTypes) {
  test::ServerProcess server;
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
  server.write_static("assets/big.wasm", big);
  server.write_static("index.html", "<!doctype html>");
  server.write_static("LICENSE", "MIT");

  test::HttpReply reply = server.get("/r/assets/big.wasm");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.content_type, "application/wasm");
  EXPECT_TRUE(reply.body == big) << "size " << reply.body.size();

  reply = server.send("POST", "/r/index.html?v=2", "ignored body", {});
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.content_type, "text/html");
  EXPECT_EQ(reply.body, "<!doctype html>");
  // Taken as written up to the query: no percent decoding, "//" and "." left to the system.
  server.write_static("a%20b.css", "p{}");
  server.write_static("js/App.JS", "let a;");
  EXPECT_EQ(server.get("/r/a%20b.css").content_type, "text/css");
  EXPECT_EQ(server.get("/r/js//./App.JS?v=1").body, "let a;");

  for (const char* target : {"/r/LICENSE", "/r/missing.css", "/r/assets"}) {
    EXPECT_EQ(server.get(target).status, 500) << target;
    EXPECT_TRUE(server.get(target).body.empty()) << target;
  }
  EXPECT_TRUE(server.wait_for_stdout("file_path " + quote_path(server.root.string() + "/LICENSE") +
                                     ", exists: true\n"));
  EXPECT_TRUE(server.wait_for_stdout(
      "file_path " + quote_path(server.root.string() + "/missing.css") + ", exists: false\n"));
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

TEST(StaticFilesServed, AFrontEndThatStopsReadingStandardOutputBlocksNothing) {
  test::ServerProcess server({}, {.out = false});
  // Each request prints a 3 KB check line: the pipe is full after a few dozen of them, and
  // the server's own backlog of lines after a few hundred.
  std::string name;
  for (int i = 0; i < 15; ++i) name += std::string(200, static_cast<char>('a' + i)) + "/";
  server.write_static(name + "x.css", "p{}");
  auto client = server.client();
  client->set_read_timeout(std::chrono::seconds(10));
  for (int i = 0; i < 500; ++i) {
    auto reply = client->Get("/r/" + name + "x.css");
    ASSERT_TRUE(reply) << i;
    ASSERT_EQ(reply->body, "p{}");
  }
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

TEST(StaticFilesServed, TraversalIsRefused) {
  test::ServerProcess server;
  std::filesystem::path outside =
      server.root.parent_path() / ("outside-" + std::to_string(getpid()) + ".txt");
  std::ofstream(outside) << "secret";
  std::string name = outside.filename().string();
  for (std::string target :
       {"/r/../" + name, "/r/a/../../" + name, "/r/%2e%2e/" + name, "/r/" + outside.string()}) {
    std::string reply =
        server.raw("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port) +
                   "\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 500")) << target << "\n" << reply;
    EXPECT_EQ(reply.find("secret"), std::string::npos) << target;
  }
  std::filesystem::remove(outside);
}

}  // namespace
}  // namespace brackwen
