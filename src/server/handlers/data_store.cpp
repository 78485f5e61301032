// The data-store endpoints: failures travel inside a normal reply, as a message.
#include "server/handlers/data_store.hpp"

#include "api_types/json.hpp"
#include "server/data_store.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {

std::optional<Reply> handle_get_data_store(std::string_view body) {
  return with_record<ReqOptions>(body, [](const ReqOptions&) { return load_data_store(); });
}

std::optional<Reply> handle_set_data_store(std::string_view body) {
  return with_record<DataStoreValues>(
      body, [](const DataStoreValues& values) { return save_data_store(values.data); });
}

}  // namespace brackwen
