// The front end's files, served from the installation root below the executable.
#include "server/static_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "parser/diagnostics.hpp"
#include "parser/text.hpp"
#include "server/media_types.hpp"
#include "stores/user_dirs.hpp"

namespace brackwen {
namespace {

constexpr std::string_view STATIC_PREFIX = "/r/";
constexpr int ROOT_DEPTH = 3;

std::string_view without_trailing_slashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

std::optional<std::string> parent(std::string_view path) {
  path = without_trailing_slashes(path);
  if (path.empty() || path == "/") return std::nullopt;
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string();
  std::string_view head = path.substr(0, slash);
  if (head.empty()) return std::string("/");
  return std::string(without_trailing_slashes(head));
}

// Outside the root (absolute, or through a ".." component), or cut short by a NUL byte.
bool is_refused(std::string_view relative) {
  if (relative.starts_with('/') || relative.find('\0') != std::string_view::npos) return true;
  auto parts = path_components(relative);
  return std::find(parts.begin(), parts.end(), "..") != parts.end();
}

// The part of the last component after its last "."; none for "name", ".hidden" and "..".
std::optional<std::string_view> extension_of(std::string_view path) {
  path = without_trailing_slashes(path);
  std::string_view name = path.substr(path.rfind('/') + 1);
  size_t dot = name.rfind('.');
  if (name == ".." || dot == std::string_view::npos || dot == 0) return std::nullopt;
  return name.substr(dot + 1);
}

bool is_printable(UChar32 c) {
  if (c == ' ') return true;
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
    case U_SPACE_SEPARATOR:
      return false;
    default:
      return true;
  }
}

void append_escaped(std::string& out, UChar32 c, std::string_view bytes) {
  char buffer[16];
  switch (c) {
    case '\\':
    case '"':
    case '\'':
      out += '\\';
      out += static_cast<char>(c);
      return;
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
  }
  if (is_printable(c)) {
    out += bytes;
    return;
  }
  std::snprintf(buffer, sizeof buffer, "\\u{%x}", static_cast<unsigned>(c));
  out += buffer;
}

std::shared_ptr<const OpenFile> open_regular_file(const std::string& path) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer and stall every request.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  auto file = std::make_shared<OpenFile>(fd, 0);
  struct stat info {};
  // A directory opens like a file here but cannot be read; answer it like a missing file.
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  file->size = static_cast<uint64_t>(info.st_size);
  return file;
}

}  // namespace

std::optional<std::string> installation_root(std::string_view executable) {
  std::optional<std::string> path(executable);
  for (int i = 0; i < ROOT_DEPTH && path; ++i) path = parent(*path);
  return path;
}

std::string quote_path(std::string_view path) {
  std::string out = "\"";
  int32_t i = 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(path.data());
  const auto length = static_cast<int32_t>(path.size());
  while (i < length) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c >= 0) {
      append_escaped(out, c, path.substr(start, i - start));
      continue;
    }
    char buffer[8];
    for (int32_t k = start; k < i; ++k) {
      std::snprintf(buffer, sizeof buffer, "\\x%02X", bytes[k]);
      out += buffer;
    }
  }
  return out + "\"";
}

StaticLookup look_up_static_file(std::string_view executable, std::string_view target) {
  std::optional<std::string> root = installation_root(executable);
  if (!root) return {};
  std::string_view relative = target.substr(0, target.find('?'));
  relative.remove_prefix(std::min(relative.size(), STATIC_PREFIX.size()));
  std::string path = relative.starts_with('/') ? std::string(relative)
                     : root->ends_with('/')    ? *root + std::string(relative)
                                               : *root + "/" + std::string(relative);
  bool refused = is_refused(relative);
  struct stat info {};
  bool exists = !refused && ::stat(path.c_str(), &info) == 0;
  StaticLookup lookup;
  lookup.check_line =
      "file_path " + quote_path(path) + ", exists: " + (exists ? "true" : "false") + "\n";
  if (refused) return lookup;
  std::shared_ptr<const OpenFile> file = open_regular_file(path);
  if (!file) return lookup;
  std::optional<std::string_view> extension = extension_of(path);
  if (!extension) return lookup;
  std::optional<std::string_view> type = media_type_for(*extension);
  if (!type) return lookup;
  lookup.reply = Reply{std::string(*type), std::move(file)};
  return lookup;
}

std::optional<Reply> serve_static_file(std::string_view target) {
  std::optional<std::filesystem::path> executable = executable_path();
  if (!executable) return std::nullopt;
  StaticLookup lookup = look_up_static_file(executable->native(), target);
  if (lookup.check_line) write_stdout(std::move(*lookup.check_line));
  return std::move(lookup.reply);
}

}  // namespace brackwen
