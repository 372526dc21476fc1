#include "sarn/model/route_json.h"

#include "json_reader/text.h"
#include "vocabulary_codec.h"

namespace sarn {

const std::array<std::string_view, kRouteKindCount> kRouteVariantNames = {
    "Home", "Trending", "Subscriptions", "Queue", "Watch", "Channel", "Playlist", "Search", "History", "Settings",
};

std::string_view variant_name(const Route& route) { return kRouteVariantNames[static_cast<std::size_t>(route.kind)]; }

void append_json(std::string& out, const Route& route) {
    if (!Route::carries_text(route.kind)) {
        codec::append_name(out, variant_name(route));
        return;
    }
    out += "{\"";
    out += variant_name(route);
    out += "\":";
    json_reader::append_json_string(out, route.text);
    out.push_back('}');
}

std::string encode_json(const Route& route) {
    std::string out;
    append_json(out, route);
    return out;
}

nlohmann::ordered_json json_value(const Route& route) {
    if (!Route::carries_text(route.kind)) return std::string(variant_name(route));
    nlohmann::ordered_json tree = nlohmann::ordered_json::object();
    tree[std::string(variant_name(route))] = json_reader::lossy_utf8(route.text);
    return tree;
}

json_reader::Result<Route> read_route(json_reader::Reader& reader) {
    return reader.read_enum<Route>(kRouteVariantNames, [](std::size_t index, json_reader::VariantAccess& access) -> json_reader::Result<Route> {
        const auto kind = static_cast<Route::Kind>(index);
        if (Route::carries_text(kind)) {
            auto text = access.newtype([](json_reader::Reader& r) { return r.read_string(); });
            if (!text) return std::unexpected(std::move(text.error()));
            return Route{kind, std::move(*text)};
        }
        if (auto unit = access.unit(); !unit) return std::unexpected(std::move(unit.error()));
        return Route{kind, {}};
    });
}

std::expected<Route, std::string> decode_route(std::string_view json) {
    auto route = json_reader::Reader::decode(json, [](json_reader::Reader& reader) { return read_route(reader); });
    if (!route) return std::unexpected(route.error().text());
    return std::move(*route);
}

void append_debug_text(std::string& out, const Route& route) {
    out += variant_name(route);
    if (Route::carries_text(route.kind)) {
        out.push_back('(');
        json_reader::append_debug_quoted(out, route.text);
        out.push_back(')');
    }
}

std::string debug_text(const Route& route) {
    std::string out;
    append_debug_text(out, route);
    return out;
}

namespace codec {

const std::array<std::string_view, kSettingCount>& setting_names() {
    static const auto names = [] {
        std::array<std::string_view, kSettingCount> out{};
        for (std::size_t i = 0; i < kSettingCount; ++i) out[i] = setting_variant_name(kAllSettings[i]);
        return out;
    }();
    return names;
}

const std::array<std::string_view, kSponsorCategoryCount>& category_names() {
    static const auto names = [] {
        std::array<std::string_view, kSponsorCategoryCount> out{};
        for (std::size_t i = 0; i < kSponsorCategoryCount; ++i) out[i] = category_variant_name(kAllSponsorCategories[i]);
        return out;
    }();
    return names;
}

const std::array<std::string_view, 3>& mode_names() {
    static const std::array<std::string_view, 3> names = {
        mode_variant_name(SponsorMode::Skip), mode_variant_name(SponsorMode::Show), mode_variant_name(SponsorMode::Disabled)};
    return names;
}

}  // namespace codec
}  // namespace sarn
