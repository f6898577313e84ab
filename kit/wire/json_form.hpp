// How commands, events and their values are written as JSON and read back:
// a value type is an object keyed by its field names; an enumeration with
// payloads is an object with exactly one key, the case name, whose value is
// the case's payload object; string-valued enumerations are their names.
// Internal to the wire library.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "kit/wire/json_error.hpp"

namespace glidemate::json_form {

// Floats are stored as single precision so that they print in their
// shortest form ("0.1", not "0.10000000149011612") and parse back exactly.
using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool,
                                  std::int64_t, std::uint64_t, float>;

template <class T, class M>
struct Field {
  const char* key;
  M T::*member;
};

template <class T, class M>
constexpr Field<T, M> field(const char* key, M T::*member) {
  return {key, member};
}

// Specialised for every value type and enumeration case:
//   static constexpr auto fields = std::make_tuple(field("key", &T::member), ...);
template <class T>
struct Fields;

// Specialised for every string-valued enumeration: names in raw-value order.
template <class E>
struct Names;

// Specialised for every number-valued enumeration: raw values run 0..<count.
template <class E>
struct RawCount;

// Shorthands for the specialisations above.
#define GLIDEMATE_NO_FIELDS(Type)                      \
  template <>                                          \
  struct Fields<Type> {                                \
    static constexpr auto fields = std::make_tuple(); \
  };
#define GLIDEMATE_FIELDS(Type, ...)                               \
  template <>                                                     \
  struct Fields<Type> {                                           \
    static constexpr auto fields = std::make_tuple(__VA_ARGS__); \
  };

[[noreturn]] inline void fail(const std::string& what) { throw JsonCodingError(what); }

template <class T>
concept HasFields = requires { Fields<T>::fields; };
template <class E>
concept HasNames = requires { Names<E>::names; };
template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};
template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <class T>
Json encodeValue(const T& value);
template <class T>
T decodeValue(const Json& json);

template <class T>
Json encodeObject(const T& value) {
  Json out = Json::object();
  std::apply(
      [&](const auto&... f) {
        [[maybe_unused]] auto one = [&](const auto& fd) {
          const auto& member = value.*(fd.member);
          using M = std::decay_t<decltype(member)>;
          if constexpr (IsOptional<M>::value) {
            if (member) out[fd.key] = encodeValue(*member);
          } else {
            out[fd.key] = encodeValue(member);
          }
        };
        (one(f), ...);
      },
      Fields<T>::fields);
  return out;
}

template <class T>
T decodeObject(const Json& json) {
  if (!json.is_object()) fail("expected an object");
  T value{};
  std::apply(
      [&](const auto&... f) {
        [[maybe_unused]] auto one = [&](const auto& fd) {
          auto& member = value.*(fd.member);
          using M = std::decay_t<decltype(member)>;
          const auto it = json.find(fd.key);
          const bool absent = it == json.end() || it->is_null();
          if constexpr (IsOptional<M>::value) {
            if (!absent) member = decodeValue<typename M::value_type>(*it);
          } else {
            if (absent) fail(std::string("no value for key \"") + fd.key + "\"");
            member = decodeValue<M>(*it);
          }
        };
        (one(f), ...);
      },
      Fields<T>::fields);
  return value;
}

template <class T>
Json encodeValue(const T& value) {
  if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::string> ||
                std::is_same_v<T, std::int64_t>) {
    return Json(value);
  } else if constexpr (std::is_same_v<T, float>) {
    if (!std::isfinite(value)) fail("a number that is not finite cannot be written as JSON");
    return Json(value);
  } else if constexpr (HasNames<T>) {
    return Json(std::string(Names<T>::names.at(static_cast<std::size_t>(value))));
  } else if constexpr (std::is_enum_v<T>) {
    return Json(static_cast<std::int64_t>(value));
  } else if constexpr (IsVector<T>::value) {
    Json out = Json::array();
    for (const auto& element : value) out.push_back(encodeValue(element));
    return out;
  } else {
    return encodeObject(value);
  }
}

template <class T>
T decodeValue(const Json& json) {
  if constexpr (std::is_same_v<T, bool>) {
    if (!json.is_boolean()) fail("expected a boolean");
    return json.get<bool>();
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (!json.is_string()) fail("expected a string");
    return json.get_ref<const std::string&>();
  } else if constexpr (std::is_same_v<T, float>) {
    if (!json.is_number()) fail("expected a number");
    const float value = json.get<float>();
    if (!std::isfinite(value)) fail("number does not fit in a float");
    return value;
  } else if constexpr (std::is_same_v<T, std::int64_t>) {
    if (json.is_number_unsigned()) {
      const auto u = json.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        fail("number does not fit in an integer");
      }
      return static_cast<std::int64_t>(u);
    }
    if (json.is_number_integer()) return json.get<std::int64_t>();
    fail("expected an integer");
  } else if constexpr (HasNames<T>) {
    if (!json.is_string()) fail("expected a string");
    const auto& text = json.get_ref<const std::string&>();
    const auto& names = Names<T>::names;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == text) return static_cast<T>(i);
    }
    fail("unknown value \"" + text + "\"");
  } else if constexpr (std::is_enum_v<T>) {
    const auto raw = decodeValue<std::int64_t>(json);
    if (raw < 0 || raw >= static_cast<std::int64_t>(RawCount<T>::value)) fail("unknown raw value");
    return static_cast<T>(raw);
  } else if constexpr (IsVector<T>::value) {
    if (!json.is_array()) fail("expected an array");
    T out;
    out.reserve(json.size());
    for (const auto& element : json) out.push_back(decodeValue<typename T::value_type>(element));
    return out;
  } else {
    return decodeObject<T>(json);
  }
}

// An enumeration with payloads: {"caseName": {payload}}.
template <class Variant, std::size_t N>
std::string encodeCases(const Variant& value, const std::array<std::string_view, N>& names) {
  static_assert(std::variant_size_v<Variant> == N);
  Json out = Json::object();
  std::visit(
      [&](const auto& c) { out[std::string(names[value.index()])] = encodeObject(c); }, value);
  return out.dump();
}

template <class Variant, std::size_t N>
Variant decodeCases(std::string_view text, const std::array<std::string_view, N>& names) {
  static_assert(std::variant_size_v<Variant> == N);
  Json json = Json::parse(text, nullptr, false);
  if (json.is_discarded()) fail("not valid JSON");
  if (!json.is_object()) fail("expected an object");
  if (json.size() != 1) fail("Invalid number of keys found, expected one.");
  const auto first = json.begin();
  const std::string& name = first.key();
  std::size_t index = N;
  for (std::size_t i = 0; i < N; ++i) {
    if (names[i] == name) index = i;
  }
  if (index == N) fail("unknown case \"" + name + "\"");
  using Decoder = Variant (*)(const Json&);
  static constexpr auto decoders = []<std::size_t... I>(std::index_sequence<I...>) {
    return std::array<Decoder, N>{+[](const Json& j) -> Variant {
      return Variant(std::in_place_index<I>, decodeObject<std::variant_alternative_t<I, Variant>>(j));
    }...};
  }(std::make_index_sequence<N>{});
  return decoders[index](first.value());
}

}  // namespace glidemate::json_form
