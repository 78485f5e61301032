// What the request loop hands back to the HTTP layer for one request.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace brackwen {

inline constexpr const char* TEXT_CONTENT_TYPE = "text/plain; charset=UTF-8";

// A file opened for a reply; closed when the last holder lets go, which is when the library
// has finished sending it.
struct OpenFile {
  explicit OpenFile(int descriptor, uint64_t byte_count) : fd(descriptor), size(byte_count) {}
  ~OpenFile();
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd;
  uint64_t size;
};

// A reply's text, sent piece after piece: a long reply is written in parts that are never
// joined.
using TextPieces = std::vector<std::string>;

// A reply made while it is sent, so that its whole text is never held at once: `next` fills
// its argument with the following pieces (the strings it holds are the ones of the turn
// before, which may be reused) and says whether there were any. Its length is not known up
// front, so it goes out in chunks.
struct PieceSource {
  std::function<bool(TextPieces& pieces)> next;
};

// A status-200 reply. An absent Reply is a dropped request: status 500, empty body.
struct Reply {
  std::string content_type = TEXT_CONTENT_TYPE;
  std::variant<TextPieces, PieceSource, std::shared_ptr<const OpenFile>> body;
  bool exit_after_sending = false;
};

inline Reply text_reply(TextPieces pieces) {
  return Reply{TEXT_CONTENT_TYPE, std::move(pieces)};
}

inline Reply text_reply(std::string text) {
  return text_reply(TextPieces{std::move(text)});
}

}  // namespace brackwen
