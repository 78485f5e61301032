// Routing by the raw request target, with a table of test endpoints.
#include "server/router.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

constexpr uint16_t PORT = 40000;

std::optional<std::string> echo(std::string_view body) {
  if (body.empty()) return std::nullopt;
  return "echo:" + std::string(body);
}
std::optional<std::string> command(std::string_view) {
  return "command";
}
std::optional<std::string> commands(std::string_view) {
  return "commands";
}

constexpr Endpoint TABLE[] = {
    {"echo", &echo},
    {"command", &command},
    {"commands", &commands},
};

IncomingRequest request(std::string target, std::string body = "{}") {
  return {std::move(target), std::move(body), {"127.0.0.1:40000"}, {}};
}

// The reply text, "DROP" for a dropped request, with "+exit" when the process would end.
std::string outcome(const IncomingRequest& in) {
  std::optional<Reply> reply = route(in, PORT, TABLE);
  if (!reply) return "DROP";
  EXPECT_EQ(reply->content_type, "text/plain; charset=UTF-8") << in.target;
  std::string text = std::get<std::string>(reply->body);
  return reply->exit_after_sending ? text + "+exit" : text;
}

TEST(Route, ChoosesByTheFirstThreeBytesAndEndpointsByTheWholeTarget) {
  const std::pair<const char*, const char*> cases[] = {
      {"/pi", "brackwen"},
      {"/ping", "brackwen"},
      {"/pi?x=1", "brackwen"},
      {"/ex", "Brackwen core exiting...+exit"},
      {"/exit", "Brackwen core exiting...+exit"},
      {"/f/echo", "echo:{}"},
      {"/f/command", "command"},
      {"/f/commands", "commands"},
      {"/f/echo?x=1", "DROP"},
      {"/f/echo?", "DROP"},
      {"/f/echo/", "DROP"},
      {"/f/ech", "DROP"},
      {"/f/echoo", "DROP"},
      {"/F/echo", "DROP"},
      {"/f/ECHO", "DROP"},
      {"/f/", "DROP"},
      {"/f", "DROP"},
      {"/f/%65cho", "DROP"},  // never decoded
      {"/", "DROP"},
      {"", "DROP"},
      {"/P", "DROP"},
      {"/PI", "DROP"},
      {"/p\xc3\xa9", "DROP"},  // the third byte is inside a character
      {"//pi", "DROP"},
      {"*", "DROP"},
      {"http://127.0.0.1:40000/pi", "DROP"},
  };
  for (const auto& [target, expected] : cases) {
    EXPECT_EQ(outcome(request(target)), expected) << target;
  }
}

TEST(Route, HandsTheBodyOverWholeAndDropsWhenTheHandlerGivesNothing) {
  std::string with_nul("{\"repoPath\":\"/a\0b\"}", 19);
  EXPECT_EQ(outcome(request("/f/echo", with_nul)), "echo:" + with_nul);
  EXPECT_EQ(outcome(request("/f/echo", "")), "DROP");
}

TEST(Route, DropsEveryRouteForAForeignOriginOrHost) {
  for (const char* target : {"/pi", "/ex", "/f/echo", "/r/index.html"}) {
    IncomingRequest foreign_origin = request(target);
    foreign_origin.origins = {"http://evil.example"};
    EXPECT_EQ(outcome(foreign_origin), "DROP") << target;
    IncomingRequest foreign_host = request(target);
    foreign_host.hosts = {"evil.example:40000"};
    EXPECT_EQ(outcome(foreign_host), "DROP") << target;
  }
  IncomingRequest own = request("/pi");
  own.origins = {"http://localhost:40000"};
  EXPECT_EQ(outcome(own), "brackwen");
}

}  // namespace
}  // namespace brackwen
