// One client connection. A request's headers are read and judged before its body: a request
// from another site is dropped and an oversized body refused without reading it. Complete
// requests go to the request loop; its replies come back through `Job::deliver` and are
// written on this connection, in order, while the loop goes on with the next request.
#include "server/connection.hpp"

#include <unistd.h>

#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "server/cross_site.hpp"

namespace brackwen {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

// How long a connection that stopped reading may keep the reply it was given.
constexpr std::chrono::minutes WRITE_DEADLINE{10};
// After a final reply whose request was not read whole, what the client still sends is read
// and thrown away for a moment, so that closing does not reset the connection before the
// client has read the reply.
constexpr std::chrono::seconds LINGER_TIME{1};
constexpr size_t LINGER_BYTES = 1 << 20;
constexpr const char* FETCH_SITE_HEADER = "Sec-Fetch-Site";

// A body of text pieces written one after the other, never joined.
struct PiecesBody {
  using value_type = TextPieces;

  static std::uint64_t size(const value_type& pieces) {
    std::uint64_t total = 0;
    for (const std::string& piece : pieces) total += piece.size();
    return total;
  }

  class writer {
   public:
    using const_buffers_type = net::const_buffer;

    template <bool IS_REQUEST, class Fields>
    writer(const http::header<IS_REQUEST, Fields>&, const value_type& pieces) : pieces_(pieces) {}

    void init(beast::error_code& ec) { ec = {}; }

    boost::optional<std::pair<const_buffers_type, bool>> get(beast::error_code& ec) {
      ec = {};
      while (next_ < pieces_.size() && pieces_[next_].empty()) ++next_;
      if (next_ == pieces_.size()) return boost::none;
      const std::string& piece = pieces_[next_++];
      return std::make_pair(net::const_buffer(piece.data(), piece.size()), next_ < pieces_.size());
    }

   private:
    const value_type& pieces_;
    size_t next_ = 0;
  };
};

// A body made while it is written, from a PieceSource; its length is not known up front.
struct SourceBody {
  using value_type = PieceSource;

  class writer {
   public:
    using const_buffers_type = net::const_buffer;

    template <bool IS_REQUEST, class Fields>
    writer(const http::header<IS_REQUEST, Fields>&, const value_type& source) : source_(source) {}

    void init(beast::error_code& ec) { ec = {}; }

    boost::optional<std::pair<const_buffers_type, bool>> get(beast::error_code& ec) {
      ec = {};
      while (next_ == pieces_.size() || pieces_[next_].empty()) {
        if (next_ < pieces_.size()) {
          ++next_;
          continue;
        }
        if (!refill(ec)) {
          pieces_.clear();
          return boost::none;
        }
      }
      const std::string& piece = pieces_[next_++];
      return std::make_pair(net::const_buffer(piece.data(), piece.size()), true);
    }

   private:
    // The source's next pieces; false at its end, or when making them failed (`ec` set).
    bool refill(beast::error_code& ec) {
      next_ = 0;
      try {
        return source_.next(pieces_);
      } catch (const std::exception&) {
        ec = make_error_code(boost::system::errc::not_enough_memory);
        return false;
      }
    }

    const value_type& source_;
    TextPieces pieces_;
    size_t next_ = 0;
  };
};

struct Connection {
  Connection(net::ip::tcp::socket socket, ServerContext& server)
      : stream(std::move(socket)), server(server) {}
  beast::tcp_stream stream;
  beast::flat_buffer buffer;
  std::optional<http::request_parser<http::string_body>> parser;
  ServerContext& server;
};
using ConnectionPtr = std::shared_ptr<Connection>;
using Written = std::shared_ptr<std::promise<void>>;

void read_request(const ConnectionPtr& c);

void linger(const ConnectionPtr& c, std::shared_ptr<std::string> scratch, size_t discarded) {
  if (discarded > LINGER_BYTES) return c->stream.close();
  c->stream.async_read_some(net::buffer(*scratch),
                            [c, scratch, discarded](beast::error_code ec, size_t n) {
                              if (ec) return c->stream.close();
                              linger(c, scratch, discarded + n);
                            });
}

void close_after_reply(const ConnectionPtr& c) {
  beast::error_code ignored;
  c->stream.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
  c->stream.expires_after(LINGER_TIME);
  linger(c, std::make_shared<std::string>(64 << 10, '\0'), 0);
}

// With `headers_only` (a HEAD request) the reply's headers leave as they would for a GET,
// framing included (a length, or chunked), and nothing after them: not even a last chunk.
template <class Response>
void write(const ConnectionPtr& c, std::shared_ptr<Response> response, Written written,
           bool headers_only = false) {
  using Serializer = http::response_serializer<typename Response::body_type>;
  auto serializer = std::make_shared<Serializer>(*response);
  auto done = [c, response, serializer, written](beast::error_code ec, size_t) {
    if (written) written->set_value();
    if (ec) return c->stream.close();
    if (!response->keep_alive()) return close_after_reply(c);
    read_request(c);
  };
  c->stream.expires_after(WRITE_DEADLINE);
  if (headers_only) return http::async_write_header(c->stream, *serializer, std::move(done));
  http::async_write(c->stream, *serializer, std::move(done));
}

const http::request<http::string_body>& request_of(const ConnectionPtr& c) {
  return c->parser->get();
}

// A status with an empty body: a dropped request (500) or one refused by the HTTP layer.
void write_status(const ConnectionPtr& c, http::status status, Written written = nullptr,
                  bool keep_alive = false) {
  auto response =
      std::make_shared<http::response<http::empty_body>>(status, request_of(c).version());
  response->keep_alive(keep_alive);
  response->content_length(0);
  write(c, std::move(response), std::move(written));
}

template <class Body>
void write_ok(const ConnectionPtr& c, const Reply& reply, typename Body::value_type body,
              Written written) {
  const auto& request = request_of(c);
  auto response = std::make_shared<http::response<Body>>(http::status::ok, request.version());
  response->set(http::field::content_type, reply.content_type);
  response->keep_alive(request.keep_alive());
  response->body() = std::move(body);
  if constexpr (requires { Body::size(response->body()); }) {
    response->prepare_payload();
  } else {
    // Its length is known only at its end: chunked, or to an HTTP/1.0 client ended where
    // the connection ends.
    response->chunked(request.version() >= 11);
    if (request.version() < 11) response->keep_alive(false);
  }
  write(c, std::move(response), written, request.method() == http::verb::head);
}

void write_reply(const ConnectionPtr& c, std::optional<Reply> reply, Written written) {
  if (!reply)
    return write_status(c, http::status::internal_server_error, written,
                        request_of(c).keep_alive());
  if (auto* pieces = std::get_if<TextPieces>(&reply->body)) {
    return write_ok<PiecesBody>(c, *reply, std::move(*pieces), written);
  }
  if (auto* source = std::get_if<PieceSource>(&reply->body)) {
    return write_ok<SourceBody>(c, *reply, std::move(*source), written);
  }
  const auto& file = std::get<std::shared_ptr<const OpenFile>>(reply->body);
  beast::error_code ec;
  beast::file shared;
  shared.native_handle(::dup(file->fd));
  http::file_body::value_type body;
  body.reset(std::move(shared), ec);
  if (ec) return write_status(c, http::status::internal_server_error, written);
  write_ok<http::file_body>(c, *reply, std::move(body), written);
}

void queue_request(const ConnectionPtr& c) {
  c->stream.expires_never();
  auto& request = c->parser->get();
  auto written = std::make_shared<std::promise<void>>();
  auto job = std::make_shared<Job>();
  job->request = {std::string(request.target()), std::move(request.body())};
  job->written = written->get_future().share();
  job->deliver = [c, written](std::optional<Reply> reply) {
    net::post(c->stream.get_executor(), [c, written, reply = std::move(reply)]() mutable {
      write_reply(c, std::move(reply), written);
    });
  };
  if (!c->server.queue.push(std::move(job))) write_status(c, http::status::internal_server_error);
}

// A connection that broke the protocol is told so when it can still understand an answer;
// one that went quiet or away is simply closed.
void refuse_broken(const ConnectionPtr& c, beast::error_code ec) {
  if (ec == http::error::header_limit) {
    return write_status(c, http::status::request_header_fields_too_large);
  }
  if (ec == http::error::body_limit) return write_status(c, http::status::payload_too_large);
  bool malformed = ec.category() == http::make_error_code(http::error::bad_target).category() &&
                   ec != http::error::end_of_stream && ec != http::error::partial_message;
  if (malformed) {
    return write_status(c, http::status::bad_request);
  }
  c->stream.close();
}

void read_body(const ConnectionPtr& c) {
  http::async_read(c->stream, c->buffer, *c->parser, [c](beast::error_code ec, size_t) {
    if (ec) return refuse_broken(c, ec);
    queue_request(c);
  });
}

bool expects_continue(const http::request<http::string_body>& request) {
  return beast::iequals(request[http::field::expect], "100-continue");
}

void send_continue(const ConnectionPtr& c) {
  auto response = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                     request_of(c).version());
  http::async_write(c->stream, *response, [c, response](beast::error_code ec, size_t) {
    if (ec) return c->stream.close();
    read_body(c);
  });
}

SiteHeaders site_headers(const http::request<http::string_body>& request) {
  SiteHeaders headers;
  for (const auto& field : request) {
    if (field.name() == http::field::host) headers.hosts.emplace_back(field.value());
    if (field.name() == http::field::origin) headers.origins.emplace_back(field.value());
    if (beast::iequals(field.name_string(), FETCH_SITE_HEADER)) {
      headers.fetch_sites.emplace_back(field.value());
    }
  }
  return headers;
}

void on_header(const ConnectionPtr& c, beast::error_code ec) {
  if (ec) return refuse_broken(c, ec);
  const auto& request = request_of(c);
  if (!is_own_site(site_headers(request), c->server.port)) {
    return write_status(c, http::status::internal_server_error);
  }
  auto length = c->parser->content_length();
  if (length && *length > MAX_BODY_BYTES) return write_status(c, http::status::payload_too_large);
  if (c->parser->is_done()) return queue_request(c);
  if (expects_continue(request)) return send_continue(c);
  read_body(c);
}

void read_request(const ConnectionPtr& c) {
  c->parser.emplace();
  c->parser->header_limit(MAX_HEADER_BYTES);
  c->parser->body_limit(MAX_BODY_BYTES);
  c->stream.expires_after(REQUEST_DEADLINE);
  http::async_read_header(c->stream, c->buffer, *c->parser,
                          [c](beast::error_code ec, size_t) { on_header(c, ec); });
}

}  // namespace

void serve_connection(net::ip::tcp::socket socket, ServerContext& server) {
  read_request(std::make_shared<Connection>(std::move(socket), server));
}

}  // namespace brackwen
