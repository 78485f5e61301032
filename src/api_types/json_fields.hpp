// The tables that say how a type looks in JSON: a record's fields, a unit enum's names, a tagged
// variant's forms. The writer and the reader both walk these tables, so the two never disagree.
#pragma once
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>

namespace brackwen {

template <class Record, class Member>
struct JsonField {
  std::string_view key;
  Member Record::*member;
  bool may_be_absent = false;  // object form only: the array form always needs every element
};

template <class Record, class Member>
constexpr JsonField<Record, Member> json_field(std::string_view key, Member Record::*member) {
  return {key, member, false};
}

template <class Record, class Member>
constexpr JsonField<Record, Member> json_field_may_be_absent(std::string_view key,
                                                             Member Record::*member) {
  return {key, member, true};
}

// Specialise with `static constexpr std::string_view name` (as failure texts show it) and
// `static constexpr auto fields`, a std::tuple of JsonField in declaration order.
template <class Record>
struct JsonRecord;

template <class T>
concept JsonRecordType = requires {
  JsonRecord<T>::fields;
};

// Specialise with `static constexpr std::array<std::string_view, N> names`, indexed by the
// enumerator's value: the enum's declaration order is its JSON order.
template <class Enum>
struct JsonEnum;

template <class T>
concept JsonEnumType = std::is_enum_v<T> && requires {
  JsonEnum<T>::names;
};

// Tagged variants are plain structs with a `kind` member and the data of every variant beside it.
// A variant is written "tag" (no data), {"tag":value} (one value) or {"tag":{fields}}.
template <class Kind>
struct JsonUnitVariant {
  std::string_view tag;
  Kind kind;
};

template <class Record, class Kind, class Member>
struct JsonValueVariant {
  std::string_view tag;
  Kind kind;
  Member Record::*member;
};

template <class Kind, class Fields>
struct JsonStructVariant {
  std::string_view tag;
  std::string_view name;  // the variant's own name, for "struct variant Enum::Name"
  Kind kind;
  Fields fields;
};

template <class Kind>
constexpr JsonUnitVariant<Kind> json_unit_variant(std::string_view tag, Kind kind) {
  return {tag, kind};
}

template <class Record, class Kind, class Member>
constexpr JsonValueVariant<Record, Kind, Member> json_value_variant(std::string_view tag, Kind kind,
                                                                    Member Record::*member) {
  return {tag, kind, member};
}

template <class Kind, class... Fields>
constexpr auto json_struct_variant(std::string_view tag, std::string_view name, Kind kind,
                                   Fields... fields) {
  return JsonStructVariant<Kind, std::tuple<Fields...>>{tag, name, kind, std::tuple{fields...}};
}

// Specialise with `static constexpr std::string_view name` and `static constexpr auto variants`,
// a std::tuple of the variants above in declaration order.
template <class T>
struct JsonVariants;

template <class T>
concept JsonVariantType = requires {
  JsonVariants<T>::variants;
};

template <class T>
struct IsJsonUnitVariant : std::false_type {};
template <class Kind>
struct IsJsonUnitVariant<JsonUnitVariant<Kind>> : std::true_type {};

template <class T>
struct IsJsonValueVariant : std::false_type {};
template <class Record, class Kind, class Member>
struct IsJsonValueVariant<JsonValueVariant<Record, Kind, Member>> : std::true_type {};

}  // namespace brackwen
