// A minimal HTTP/1.1 client for timing the server: one kept-alive connection, replies read
// with large reads straight into one buffer kept across requests, so that what is timed is
// the server and the transfer rather than the client's own copying and small reads.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace brackwen::bench {

struct HttpClient {
  explicit HttpClient(uint16_t port);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // POSTs `body` to `path`; returns the status (0 when no reply came). The reply's body is
  // in `body()` until the next request.
  int post(std::string_view path, std::string_view body);
  std::string_view body() const { return {buffer.data() + body_offset, body_size}; }

 private:
  int post_once(std::string_view path, std::string_view body);
  bool connect_once();
  bool send_all(std::string_view bytes);
  void close_connection();

  uint16_t port;
  int fd = -1;
  std::string buffer;
  size_t body_offset = 0;
  size_t body_size = 0;
};

}  // namespace brackwen::bench
