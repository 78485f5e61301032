// Static files: the root below the executable, the check line, types and refused paths.
#include "server/static_files.hpp"

#include <gtest/gtest.h>

#include "support/server_harness.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

TEST(StaticFiles, RootIsThreeComponentsUpAndPathsAreQuotedPrintable) {
  const std::pair<const char*, std::optional<std::string>> roots[] = {
      {"/a/b/core", "/"}, {"/x//a/b/core", "/x"}, {"/opt/core", std::nullopt}, {"a/b/core", ""}};
  for (const auto& [executable, root] : roots) EXPECT_EQ(installation_root(executable), root);
  const std::pair<std::string, std::string> quoted[] = {
      {"a\"b'c\\d\t\n", R"("a\"b\'c\\d\t\n")"},
      {"nul\0\x7f"s, R"("nul\u{0}\u{7f}")"},
      {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
      {"soft\xc2\xad", R"("soft\u{ad}")"},
      {"bad\xff\xe2\x82", R"("bad\xFF\xE2\x82")"}};
  for (const auto& [path, text] : quoted) EXPECT_EQ(quote_path(path), text) << path;
}

// The HTTP layer refuses a NUL in a target before it reaches the lookup, which must not let
// one cut a path short either: "x.css\0.png" is no name for x.css.
TEST(StaticFiles, NulInATargetIsRefused) {
  test::TempDir root;
  std::ofstream(root.path / "x.css") << "p{}";
  std::string executable = (root.path / "a/b/core").string();
  EXPECT_TRUE(look_up_static_file(executable, "/r/x.css").reply);
  EXPECT_FALSE(look_up_static_file(executable, "/r/x.css\0.png"s).reply);
}

TEST(StaticFiles, StreamedByteExactWithTheirTypes) {
  test::ServerProcess server;
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
  server.write_static("assets/big.wasm", big);
  server.write_static("index.html", "<!doctype html>");
  server.write_static("a%20b.pdf", "%PDF");
  server.write_static("js/App.JS", "let a;");
  for (const char* name : {"LICENSE", "name.", "data.nosuchtype"}) server.write_static(name, "x");
  fs::create_symlink(server.root / "gone.css", server.root / "dangling.css");
  test::HttpReply reply = server.get("/r/assets/big.wasm");
  EXPECT_EQ(reply.content_type, "application/wasm");
  EXPECT_TRUE(reply.body == big) << "size " << reply.body.size();
  reply = server.send("POST", "/r/index.html?v=2", "ignored body");
  EXPECT_EQ(reply.content_type + " " + reply.body, "text/html <!doctype html>");
  // Taken as written up to the query: no percent decoding, "//" and "." left to the system.
  // Only existing files of a known type below the root are served.
  EXPECT_EQ(server.get("/r/a%20b.pdf").content_type, "application/pdf");
  EXPECT_EQ(server.get("/r/js//./App.JS?v=1").content_type, "application/javascript");
  // The first type the mime_guess 2.0.4 table lists, its entries over several lines included.
  for (auto [file, type] :
       {std::pair{"data.xml", "text/xml"},
        {"lib.rs", "text/x-rust"},
        {"Cargo.TOML", "text/x-toml"},
        {"ci.yml", "text/x-yaml"},
        {"font.ttf", "font/ttf"},
        {"a.docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"zip.zmm", "application/vnd.handheld-entertainment+xml"},
        {"lotus.123", "application/vnd.lotus-1-2-3"}}) {
    server.write_static(file, "x");
    EXPECT_EQ(server.get(std::string("/r/") + file).content_type, type) << file;
  }
  fs::path outside = server.root.parent_path() / ("outside-" + std::to_string(getpid()) + ".css");
  std::ofstream(outside) << "secret";
  std::string name = outside.filename().string();
  for (std::string target : {"/r/missing.css"s, "/r/LICENSE"s, "/r/name."s, "/r/data.nosuchtype"s,
                             "/r/dangling.css"s, "/r/"s, "/r/../" + name, "/r/a/../../" + name,
                             "/r/%2e%2e/" + name, "/r/" + outside.string()}) {
    EXPECT_TRUE(server
                    .raw("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                         std::to_string(server.port) + "\r\nConnection: close\r\n\r\n")
                    .starts_with("HTTP/1.1 500"))
        << target;
  }
  fs::remove(outside);
  for (auto [file, exists] : {std::pair{"missing.css", "false"},
                              {"dangling.css", "false"},
                              {"LICENSE", "true"},
                              {"", "true"}}) {
    EXPECT_TRUE(server.wait_for_stdout("file_path " +
                                       quote_path(server.root.string() + "/" + file) +
                                       ", exists: " + exists + "\n"))
        << file;
  }
}

}  // namespace
}  // namespace brackwen
