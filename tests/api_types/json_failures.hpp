// What a JSON read failed with, for tests that check readers reject a body the right way.
#pragma once
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "api_types/json.hpp"

namespace brackwen::test {

// The kind of failure, or nothing when the body read (or was null).
template <class T>
std::optional<JsonFailureKind> failure_kind(std::string_view body) {
  auto read = parse_json<T>(body);
  if (read.failure) {
    EXPECT_FALSE(read.value) << "no partial value on failure";
  }
  return read.failure ? std::optional<JsonFailureKind>(read.failure->kind) : std::nullopt;
}

// The failure's message; empty when the body read.
template <class T>
std::string failure_message(std::string_view body) {
  auto read = parse_json<T>(body);
  return read.failure ? read.failure->message : "";
}

}  // namespace brackwen::test
