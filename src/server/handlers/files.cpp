// The file endpoints: thin frames around the file services.
#include "server/handlers/files.hpp"

#include "api_types/json.hpp"
#include "server/endpoint_shell.hpp"
#include "server/files.hpp"

namespace brackwen {

std::optional<Reply> handle_path_exists(std::string_view body) {
  return with_record<std::string>(body, [](const std::string& path) { return path_exists(path); });
}

std::optional<Reply> handle_temp_dir(std::string_view body) {
  return with_record<std::string>(body, [](const std::string&) { return temp_dir(); });
}

std::optional<Reply> handle_file_size(std::string_view body) {
  return with_record<std::string>(body, [](const std::string& path) { return file_size(path); });
}

std::optional<Reply> handle_write_file(std::string_view body) {
  return with_record<WriteFileOpts>(body, [](const WriteFileOpts& options) {
    return write_file(options.file_path, options.content) ? std::optional<bool>(true)
                                                          : std::nullopt;
  });
}

}  // namespace brackwen
