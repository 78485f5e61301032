// Everything needed to read request bodies and write replies: the reader, the writer and the
// JSON form of every record.
#pragma once
#include "api_types/config_json.hpp"
#include "api_types/conflict_file_json.hpp"
#include "api_types/git_version_json.hpp"
#include "api_types/json_reader.hpp"
#include "api_types/json_writer.hpp"
#include "api_types/records_json.hpp"
#include "api_types/replies_json.hpp"
#include "api_types/requests_json.hpp"
#include "api_types/search_json.hpp"
