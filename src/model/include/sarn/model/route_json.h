// JSON form of `Route`: a route without text is the bare string of its name
// ("Home"); Watch, Channel, Playlist and Search are one-member objects whose
// value is the text ({"Watch":"abc"}). The decoder also takes {"Home":null}.
//
// Plain values; any thread.
#pragma once

#include <array>
#include <expected>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "json_reader/reader.h"
#include "sarn/model/route.h"

namespace sarn {

inline constexpr std::size_t kRouteKindCount = 10;
// Variant names in declared order, indexed by Route::Kind.
extern const std::array<std::string_view, kRouteKindCount> kRouteVariantNames;

std::string_view variant_name(const Route& route);

// Appends the route's JSON to `out`.
void append_json(std::string& out, const Route& route);
std::string encode_json(const Route& route);
nlohmann::ordered_json json_value(const Route& route);
std::expected<Route, std::string> decode_route(std::string_view json);
json_reader::Result<Route> read_route(json_reader::Reader& reader);

// `Home`, `Watch("abc")`.
std::string debug_text(const Route& route);
void append_debug_text(std::string& out, const Route& route);

}  // namespace sarn
