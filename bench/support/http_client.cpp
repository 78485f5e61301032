// Request writing and reply reading for HttpClient: a status line, headers up to the blank
// line, then exactly Content-Length bytes, chunks up to the last one, or everything up to the
// close.
#include "bench/support/http_client.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace brackwen::bench {
namespace {

constexpr size_t READ_BYTES = 1 << 20;
constexpr std::string_view HEADER_END = "\r\n\r\n";

// The value of a header (name given in lower case with its colon), blanks kept.
std::optional<std::string> header(std::string_view headers, std::string_view name) {
  for (size_t at = 0; at < headers.size();) {
    size_t end = headers.find("\r\n", at);
    if (end == std::string_view::npos) end = headers.size();
    std::string_view line = headers.substr(at, end - at);
    if (line.size() > name.size() && strncasecmp(line.data(), name.data(), name.size()) == 0) {
      return std::string(line.substr(name.size()));
    }
    at = end + 2;
  }
  return std::nullopt;
}

// Chunked bodies are decoded in place as they arrive: the data of each whole chunk moves down
// to `decoded`, and `parsed` is where the next chunk's size line starts.
struct Chunks {
  size_t decoded = 0;
  size_t parsed = 0;
  bool done = false;
};

void decode_chunks(std::string& buffer, size_t filled, Chunks& chunks) {
  while (!chunks.done) {
    std::string_view rest(buffer.data() + chunks.parsed, filled - chunks.parsed);
    size_t line_end = rest.find("\r\n");
    if (line_end == std::string_view::npos) return;
    size_t size = std::strtoull(std::string(rest.substr(0, line_end)).c_str(), nullptr, 16);
    if (size == 0) {
      if (rest.size() < line_end + 4) return;  // the empty trailer's line end
      chunks.done = true;
      return;
    }
    if (rest.size() < line_end + 2 + size + 2) return;
    std::memmove(buffer.data() + chunks.decoded, rest.data() + line_end + 2, size);
    chunks.decoded += size;
    chunks.parsed += line_end + 2 + size + 2;
  }
}

}  // namespace

HttpClient::HttpClient(uint16_t port) : port(port) {}

HttpClient::~HttpClient() {
  close_connection();
}

void HttpClient::close_connection() {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool HttpClient::connect_once() {
  if (fd >= 0) return true;
  fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
  close_connection();
  return false;
}

bool HttpClient::send_all(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

int HttpClient::post(std::string_view path, std::string_view body) {
  // The server closes a kept-alive connection after a few requests; a request that finds it
  // closed before any reply byte is sent again on a new one.
  bool reused = fd >= 0;
  int status = post_once(path, body);
  if (status == 0 && reused) status = post_once(path, body);
  return status;
}

int HttpClient::post_once(std::string_view path, std::string_view body) {
  body_offset = 0;
  body_size = 0;
  if (!connect_once()) return 0;
  std::string request =
      "POST " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
      "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  request += body;
  if (!send_all(request)) {
    close_connection();
    return 0;
  }
  // Headers first; whatever body bytes came with them stay at the buffer's front.
  size_t filled = 0;
  size_t header_end = std::string::npos;
  std::optional<size_t> length;
  std::optional<Chunks> chunks;
  bool server_closes = false;
  for (;;) {
    if (header_end == std::string::npos) {
      size_t found = std::string_view(buffer.data(), filled).find(HEADER_END);
      if (found != std::string::npos) {
        header_end = found + HEADER_END.size();
        std::string_view headers(buffer.data(), header_end);
        if (auto value = header(headers, "content-length:")) {
          length = std::strtoull(value->c_str(), nullptr, 10);
        }
        auto connection = header(headers, "connection:");
        server_closes = connection && connection->find("close") != std::string::npos;
        auto encoding = header(headers, "transfer-encoding:");
        if (encoding && encoding->find("chunked") != std::string::npos) {
          chunks = Chunks{header_end, header_end};
        }
      }
    }
    if (chunks) {
      decode_chunks(buffer, filled, *chunks);
      if (chunks->done) break;
    }
    if (header_end != std::string::npos && length && filled - header_end >= *length) break;
    size_t want = length ? header_end + *length : filled + READ_BYTES;
    if (buffer.size() < std::max(want, filled + 1))
      buffer.resize(std::max(want, filled + READ_BYTES));
    ssize_t got = ::recv(fd, buffer.data() + filled, buffer.size() - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  if (header_end == std::string::npos) {
    close_connection();
    return 0;
  }
  std::string_view status_line(buffer.data(), buffer.find("\r\n"));
  int status =
      status_line.size() > 12 ? std::atoi(std::string(status_line.substr(9, 3)).c_str()) : 0;
  body_offset = header_end;
  if (chunks) {
    body_size = chunks->decoded - header_end;
    if (!chunks->done || server_closes) close_connection();
    return status;
  }
  size_t size = length ? *length : filled - header_end;
  body_size = std::min(size, filled - header_end);
  if (!length || body_size < size || server_closes) close_connection();
  return status;
}

}  // namespace brackwen::bench
