// Eight clients at once replaying the endpoint table over loopback: the server must stay up,
// give every row the reply it gives alone, and give back the memory the load took.
// `make test` runs 8 x 200 requests; the full size is run by hand:
//   BRACKWEN_LOAD_REQUESTS=2000 build/bin/test_robustness --gtest_filter='Load.*'
#include <gtest/gtest.h>

#include "robustness/reply_checks.hpp"
#include "server/handlers/endpoint_table.hpp"

namespace brackwen::test {
namespace {

struct Replay {
  const ServerProcess& server;
  std::vector<std::string> bodies, replies;
  std::vector<Row> table = rows();
  std::atomic<int> wrong = 0;

  explicit Replay(const ServerProcess& s) : server(s) {
    const Fixture& fixture = Fixture::get();
    for (const Row& row : table) {
      bodies.push_back(fixture.body(row));
      replies.push_back(fixture.fill(row.reply));
    }
  }

  // One action in the mix: started, polled to its end, its output checked.
  void action(httplib::Client& client) {
    std::string start = body({{"repoPath", test::quoted(Fixture::get().fill("{main}"))},
                              {"args", R"(["rev-parse","HEAD"])"}});
    std::string id = post_with(client, "/f/command", start).body;
    auto end = follow_action(client, std::stoul(id),
                             std::chrono::steady_clock::now() + std::chrono::seconds(60));
    bool right = end.stdout_json == "[" + test::quoted(Fixture::get().fill("{c3}")) + "]";
    if ((!right || end.failed) && ++wrong <= 10)
      ADD_FAILURE() << "action " << id << " ended with " << end.stdout_json;
  }

  void ask(httplib::Client& client, size_t at) {
    HttpReply reply = post_with(client, "/f/" + table[at].endpoint, bodies[at]);
    std::string got = reply.status == 500 && reply.body.empty() ? kDropped : reply.body;
    if (!matches(got, replies[at]) && ++wrong <= 10) {
      ADD_FAILURE() << table[at].endpoint << " " << bodies[at] << ": " << got.substr(0, 300)
                    << "\nexpected " << replies[at].substr(0, 300);
    }
  }

  void round(int count) {
    std::vector<std::thread> clients;
    for (int c = 0; c < 8; ++c) {
      clients.emplace_back([&, c] {
        auto client = server.client();
        for (int i = 0; i < count; ++i) {
          size_t at = (static_cast<size_t>(c) * 5 + i) % (table.size() + 1);
          at == table.size() ? action(*client) : ask(*client, at);
        }
      });
    }
    for (auto& client : clients) client.join();
  }
};

TEST(Load, EightClientsReplayTheEndpointTable) {
  const char* size = std::getenv("BRACKWEN_LOAD_REQUESTS");
  const int per_client = size ? std::max(1, std::atoi(size)) : 200;
  ServerProcess server(Environment{{"TMPDIR", Fixture::get().fill("{root}/tmp \"y\"/")}});
  Replay replay(server);
  {
    auto client = server.client();  // alone first: the history loaded, every cache filled
    for (size_t at = 0; at < replay.table.size(); ++at) replay.ask(*client, at);
  }
  ASSERT_EQ(replay.wrong, 0) << server.stderr_so_far();
  replay.round(static_cast<int>(replay.table.size()) + 1);
  [[maybe_unused]] size_t warm = server.status_kib("VmRSS:");
  replay.round(per_client);
  [[maybe_unused]] size_t after = server.status_kib("VmRSS:");

  EXPECT_EQ(replay.wrong, 0) << server.stderr_so_far();
  EXPECT_EQ(server.post("/pi", "").body, "brackwen");
  // Caches are full after the warm-up; the load itself must not keep what it used. Slack for
  // the allocator's arenas of the connection threads. AddressSanitizer holds freed memory in
  // quarantine: resident size then says nothing.
#ifndef __SANITIZE_ADDRESS__
  EXPECT_LE(after, warm + warm / 2 + 16 * 1024);
#endif
}

}  // namespace
}  // namespace brackwen::test
