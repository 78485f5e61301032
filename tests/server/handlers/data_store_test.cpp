#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "support/server_harness.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using test::ServerProcess;

fs::path store_dir(const ServerProcess& server) {
  return server.home / ".local" / "share" / "brackwen";
}

TEST(DataStoreEndpoints, FreshSystemRoundTripAndLayout) {
  ServerProcess server;
  auto dir = store_dir(server);
  auto get = server.post("/f/get_data_store", R"({"repoPath":""})");
  EXPECT_EQ(get.status, 200);
  EXPECT_EQ(get.body,
            R"j({"error":"Failed to open config file: No such file or directory (os error 2)"})j");
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_EQ(server.stdout_text().find("config_"), std::string::npos);  // a get prints nothing
  EXPECT_EQ(server.post("/f/get_data_store", "{}").status, 500);
  EXPECT_EQ(server.post("/f/get_data_store", "null").status, 500);

  auto set = server.post("/f/set_data_store", R"({"data":{}})");
  EXPECT_EQ(set.body, R"({"success":true,"message":"Data store updated"})");
  EXPECT_EQ(test::read_file(dir / "data_store.json"), "{}");
  EXPECT_EQ(server.post("/f/get_data_store", R"([""])").body, R"({"config":{}})");

  set = server.post("/f/set_data_store", R"([{"k":"first","k":"line\nbreak"}])");
  EXPECT_EQ(set.body, R"({"success":true,"message":"Data store updated"})");
  std::string text = "{\n  \"k\": \"line\\nbreak\"\n}";
  EXPECT_EQ(test::read_file(dir / "data_store.json"), text);
  EXPECT_EQ(server.post("/f/get_data_store", R"({"repoPath":"x"})").body,
            R"({"config":{"k":"line\nbreak"}})");
  std::string path = (dir / "data_store.json").string();
  EXPECT_TRUE(
      server.wait_for_stdout("config_file_path: \"" + path + "\"\nconfig_text: " + text + "\n"))
      << server.stdout_text();
  server.post("/f/set_data_store", R"({"data":{"a":"1","b":"2"}})");
  std::string two = server.post("/f/get_data_store", R"({"repoPath":""})").body;
  EXPECT_TRUE(two == R"({"config":{"a":"1","b":"2"}})" || two == R"({"config":{"b":"2","a":"1"}})")
      << two;
}

TEST(DataStoreEndpoints, RejectedBodiesLeaveTheFile) {
  ServerProcess server;
  ASSERT_EQ(server.post("/f/set_data_store", R"({"data":{"a":"1"}})").status, 200);
  auto file = store_dir(server) / "data_store.json";
  std::string before = test::read_file(file);
  for (const char* body :
       {R"({"data":{"a":1}})", R"({"data":{"a":null}})", "{}", "null", R"({"data":{"a":"1"}} x)"}) {
    EXPECT_EQ(server.post("/f/set_data_store", body).status, 500) << body;
  }
  EXPECT_EQ(test::read_file(file), before);
}

// A save the file system refuses halfway must not cost the user the settings they had.
TEST(DataStoreEndpoints, FailedSaveKeepsTheOldStore) {
  signal(SIGXFSZ, SIG_IGN);  // inherited by the server
  ServerProcess server;
  // Limited once started: the harness itself may have to copy the binary.
  rlimit low{64 * 1024, RLIM_INFINITY};
  ASSERT_EQ(prlimit(server.pid, RLIMIT_FSIZE, &low, nullptr), 0);

  ASSERT_EQ(server.post("/f/set_data_store", R"({"data":{"keep":"me"}})").body,
            R"({"success":true,"message":"Data store updated"})");
  std::string big(200 * 1024, 'x');
  auto r = server.post("/f/set_data_store", R"({"data":{"big":")" + big + "\"}}");
  EXPECT_EQ(
      r.body,
      R"j({"success":false,"message":"Failed to write to config file: File too large (os error 27)"})j");
  auto dir = store_dir(server);
  EXPECT_EQ(test::read_file(dir / "data_store.json"), "{\n  \"keep\": \"me\"\n}");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  EXPECT_EQ(server.post("/f/get_data_store", R"({"repoPath":""})").body,
            R"({"config":{"keep":"me"}})");
}

}  // namespace
}  // namespace brackwen
