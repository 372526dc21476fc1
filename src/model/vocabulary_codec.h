// Shared machinery of the two action vocabularies: each variant struct lists
// its fields once (name and member), and encoding, the value tree, decoding
// and the debug text walk that list. Private to the model library.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>

#include <nlohmann/json.hpp>

#include "json_reader/reader.h"
#include "json_reader/text.h"
#include "sarn/model/route.h"
#include "sarn/model/route_json.h"
#include "sarn/model/settings.h"

namespace sarn::codec {

// One field: its JSON name and its member. `kUsize` marks the machine-word
// integers, which the reference decoder names "usize" in its errors.
template <class S, class M, bool kUsize = false>
struct Field {
    using Struct = S;
    using Member = M;
    static constexpr bool usize = kUsize;
    std::string_view name;
    M S::*member;
};

template <class S, class M>
constexpr Field<S, M> field(std::string_view name, M S::*member) {
    return {name, member};
}

template <class S>
constexpr Field<S, std::uint64_t, true> usize_field(std::string_view name, std::uint64_t S::*member) {
    return {name, member};
}

// fields_of<S>() answers a tuple of Field; specialised next to each vocabulary.
template <class S>
constexpr auto fields_of();

template <class S>
constexpr std::size_t field_count() {
    return std::tuple_size_v<decltype(fields_of<S>())>;
}

template <class S>
constexpr auto field_names() {
    constexpr auto fields = fields_of<S>();
    return std::apply([](const auto&... f) { return std::array<std::string_view, sizeof...(f)>{f.name...}; }, fields);
}

// --- Enumeration names ---

const std::array<std::string_view, kSettingCount>& setting_names();
const std::array<std::string_view, kSponsorCategoryCount>& category_names();
const std::array<std::string_view, 3>& mode_names();

template <class E, std::size_t N>
json_reader::Result<E> read_unit_enum(json_reader::Reader& reader, const std::array<std::string_view, N>& names) {
    return reader.read_enum<E>(names, [](std::size_t index, json_reader::VariantAccess& access) -> json_reader::Result<E> {
        if (auto unit = access.unit(); !unit) return std::unexpected(std::move(unit.error()));
        return static_cast<E>(index);
    });
}

// --- Field values ---

inline json_reader::Result<void> read_value(json_reader::Reader& reader, std::string& out, bool) {
    auto value = reader.read_string();
    if (!value) return std::unexpected(std::move(value.error()));
    out = std::move(*value);
    return {};
}
inline json_reader::Result<void> read_value(json_reader::Reader& reader, bool& out, bool) {
    auto value = reader.read_bool();
    if (!value) return std::unexpected(std::move(value.error()));
    out = *value;
    return {};
}
inline json_reader::Result<void> read_value(json_reader::Reader& reader, std::uint64_t& out, bool usize) {
    auto value = usize ? reader.read_usize() : reader.read_u64();
    if (!value) return std::unexpected(std::move(value.error()));
    out = *value;
    return {};
}
template <class E, std::size_t N>
json_reader::Result<void> read_enum_value(json_reader::Reader& reader, E& out, const std::array<std::string_view, N>& names) {
    auto value = read_unit_enum<E>(reader, names);
    if (!value) return std::unexpected(std::move(value.error()));
    out = *value;
    return {};
}
inline json_reader::Result<void> read_value(json_reader::Reader& reader, Setting& out, bool) {
    return read_enum_value(reader, out, setting_names());
}
inline json_reader::Result<void> read_value(json_reader::Reader& reader, SponsorCategory& out, bool) {
    return read_enum_value(reader, out, category_names());
}
inline json_reader::Result<void> read_value(json_reader::Reader& reader, SponsorMode& out, bool) {
    return read_enum_value(reader, out, mode_names());
}
inline json_reader::Result<void> read_value(json_reader::Reader& reader, Route& out, bool) {
    auto value = read_route(reader);
    if (!value) return std::unexpected(std::move(value.error()));
    out = std::move(*value);
    return {};
}

inline void append_decimal(std::string& out, std::uint64_t value) {
    char buf[24];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, result.ptr);
}

inline void append_value(std::string& out, const std::string& value) { json_reader::append_json_string(out, value); }
inline void append_value(std::string& out, bool value) { out += value ? "true" : "false"; }
inline void append_value(std::string& out, std::uint64_t value) { append_decimal(out, value); }
inline void append_name(std::string& out, std::string_view name) {
    out.push_back('"');
    out += name;
    out.push_back('"');
}
inline void append_value(std::string& out, Setting value) { append_name(out, setting_variant_name(value)); }
inline void append_value(std::string& out, SponsorCategory value) { append_name(out, category_variant_name(value)); }
inline void append_value(std::string& out, SponsorMode value) { append_name(out, mode_variant_name(value)); }
inline void append_value(std::string& out, const Route& value) { append_json(out, value); }

inline nlohmann::ordered_json tree_value(const std::string& value) { return json_reader::lossy_utf8(value); }
inline nlohmann::ordered_json tree_value(bool value) { return value; }
inline nlohmann::ordered_json tree_value(std::uint64_t value) { return value; }
inline nlohmann::ordered_json tree_value(Setting value) { return std::string(setting_variant_name(value)); }
inline nlohmann::ordered_json tree_value(SponsorCategory value) { return std::string(category_variant_name(value)); }
inline nlohmann::ordered_json tree_value(SponsorMode value) { return std::string(mode_variant_name(value)); }
inline nlohmann::ordered_json tree_value(const Route& value) { return json_value(value); }

inline void debug_value(std::string& out, const std::string& value) { json_reader::append_debug_quoted(out, value); }
inline void debug_value(std::string& out, bool value) { out += value ? "true" : "false"; }
inline void debug_value(std::string& out, std::uint64_t value) { append_decimal(out, value); }
inline void debug_value(std::string& out, Setting value) { out += setting_variant_name(value); }
inline void debug_value(std::string& out, SponsorCategory value) { out += category_variant_name(value); }
inline void debug_value(std::string& out, SponsorMode value) { out += mode_variant_name(value); }
inline void debug_value(std::string& out, const Route& value) { append_debug_text(out, value); }

// --- Whole variants ---

template <class S>
void append_variant(std::string& out, const S& value) {
    if constexpr (field_count<S>() == 0) {
        append_name(out, S::kName);
    } else {
        out += "{\"";
        out += S::kName;
        out += "\":{";
        bool first = true;
        std::apply(
            [&](const auto&... f) {
                ((out += first ? "\"" : ",\"", first = false, out += f.name, out += "\":", append_value(out, value.*(f.member))),
                 ...);
            },
            fields_of<S>());
        out += "}}";
    }
}

template <class S>
nlohmann::ordered_json variant_tree(const S& value) {
    if constexpr (field_count<S>() == 0) {
        return std::string(S::kName);
    } else {
        nlohmann::ordered_json fields = nlohmann::ordered_json::object();
        std::apply([&](const auto&... f) { ((fields[std::string(f.name)] = tree_value(value.*(f.member))), ...); },
                   fields_of<S>());
        nlohmann::ordered_json tree = nlohmann::ordered_json::object();
        tree[std::string(S::kName)] = std::move(fields);
        return tree;
    }
}

template <class S>
void append_variant_debug(std::string& out, const S& value) {
    out += S::kName;
    if constexpr (field_count<S>() != 0) {
        out += " { ";
        bool first = true;
        std::apply(
            [&](const auto&... f) {
                ((out += first ? "" : ", ", first = false, out += f.name, out += ": ", debug_value(out, value.*(f.member))),
                 ...);
            },
            fields_of<S>());
        out += " }";
    }
}

// "struct variant Vocabulary::Name", built once per variant.
template <class S>
const std::string& expecting_text(std::string_view vocabulary) {
    static const std::string text = "struct variant " + std::string(vocabulary) + "::" + std::string(S::kName);
    return text;
}

template <class S>
json_reader::Result<S> read_variant(json_reader::VariantAccess& access, std::string_view vocabulary) {
    S value{};
    if constexpr (field_count<S>() == 0) {
        if (auto unit = access.unit(); !unit) return std::unexpected(std::move(unit.error()));
    } else {
        static constexpr auto names = field_names<S>();
        const json_reader::StructShape shape{expecting_text<S>(vocabulary), names};
        auto done = access.struct_fields(shape, [&](std::size_t index, json_reader::Reader& reader) {
            json_reader::Result<void> result;
            std::size_t k = 0;
            std::apply(
                [&](const auto&... f) {
                    ((k++ == index ? (result = read_value(reader, value.*(f.member), f.usize), 0) : 0), ...);
                },
                fields_of<S>());
            return result;
        });
        if (!done) return std::unexpected(std::move(done.error()));
    }
    return value;
}

template <class V, std::size_t... I>
constexpr std::array<std::string_view, sizeof...(I)> variant_names_of(std::index_sequence<I...>) {
    return {std::variant_alternative_t<I, V>::kName...};
}

template <class V>
constexpr auto variant_names() {
    return variant_names_of<V>(std::make_index_sequence<std::variant_size_v<V>>{});
}

template <class V, std::size_t... I>
json_reader::Result<V> read_alternative(std::size_t index, json_reader::VariantAccess& access, std::string_view vocabulary,
                                        std::index_sequence<I...>) {
    json_reader::Result<V> out = std::unexpected(json_reader::Error::custom("variant index out of range"));
    (void)((index == I ? (out = [&]() -> json_reader::Result<V> {
                              auto value = read_variant<std::variant_alternative_t<I, V>>(access, vocabulary);
                              if (!value) return std::unexpected(std::move(value.error()));
                              return V(std::in_place_index<I>, std::move(*value));
                          }(),
                          true)
                       : false) ||
           ...);
    return out;
}

template <class V>
json_reader::Result<V> read_vocabulary(json_reader::Reader& reader, std::string_view vocabulary) {
    static constexpr auto names = variant_names<V>();
    return reader.read_enum<V>(names, [&](std::size_t index, json_reader::VariantAccess& access) {
        return read_alternative<V>(index, access, vocabulary, std::make_index_sequence<std::variant_size_v<V>>{});
    });
}

template <class V>
std::expected<V, std::string> decode_vocabulary(std::string_view json, std::string_view vocabulary) {
    auto value = json_reader::Reader::decode(json, [&](json_reader::Reader& reader) { return read_vocabulary<V>(reader, vocabulary); });
    if (!value) return std::unexpected(value.error().text());
    return std::move(*value);
}

template <class V>
std::string encode_vocabulary(const V& value) {
    std::string out;
    out.reserve(64);
    std::visit([&](const auto& alternative) { append_variant(out, alternative); }, value);
    return out;
}

template <class V>
std::string debug_vocabulary(const V& value) {
    std::string out;
    std::visit([&](const auto& alternative) { append_variant_debug(out, alternative); }, value);
    return out;
}

}  // namespace sarn::codec
