#include "json_read.h"

#include <fmt/format.h>

namespace sarn::innertube::detail {

std::expected<Element, std::string> parse_document(std::string_view body) {
    thread_local simdjson::dom::parser parser;
    if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        return std::unexpected(std::string("empty answer"));
    }
    Element root;
    auto error = parser.parse(body.data(), body.size(), true).get(root);
    if (error != simdjson::SUCCESS) {
        return std::unexpected(fmt::format("malformed JSON answer ({})", simdjson::error_message(error)));
    }
    if (!root.is_object()) return std::unexpected(std::string("answer is not a JSON object"));
    return root;
}

std::string text(const Node& node) {
    if (node.error() != simdjson::SUCCESS) return {};
    if (node.is_string()) return std::string(str(node));
    if (auto simple = node["simpleText"]; present(simple)) return std::string(str(simple));
    if (auto content = node["content"]; present(content)) return std::string(str(content));
    std::string out;
    for_each(node["runs"], [&](Element run) { out += str(run["text"]); });
    return out;
}

std::string best_thumbnail(const Node& list) {
    std::string_view best;
    std::uint64_t best_area = 0;
    bool found = false;
    for_each(list, [&](Element entry) {
        std::string_view url = str(entry["url"]);
        auto width = integer(entry["width"]).value_or(0);
        auto height = integer(entry["height"]).value_or(0);
        std::uint64_t area = static_cast<std::uint64_t>(width < 0 ? 0 : width) *
                             static_cast<std::uint64_t>(height < 0 ? 0 : height);
        if (!found || area >= best_area) {
            best = url;
            best_area = area;
            found = true;
        }
    });
    if (best.starts_with("//")) return fmt::format("https:{}", best);
    return std::string(best);
}

std::string best_image(const Node& node) {
    if (auto list = node["thumbnails"]; present(list)) return best_thumbnail(list);
    return best_thumbnail(node["sources"]);
}

std::string_view browse_id(const Node& holder) {
    if (auto id = str(holder["navigationEndpoint"]["browseEndpoint"]["browseId"]); !id.empty()) return id;
    if (auto id = str(holder["onTap"]["innertubeCommand"]["browseEndpoint"]["browseId"]); !id.empty()) return id;
    if (auto id = str(holder["innertubeCommand"]["browseEndpoint"]["browseId"]); !id.empty()) return id;
    return str(holder["browseEndpoint"]["browseId"]);
}

Byline byline(const Node& runs_text) {
    Byline out;
    bool first = true;
    bool done = false;
    for_each(runs_text["runs"], [&](Element run) {
        if (done) return;
        std::string_view id = browse_id(wrap(run));
        if (!id.empty()) {
            out.name = std::string(str(run["text"]));
            out.id = std::string(id);
            done = true;
        } else if (first) {
            out.name = std::string(str(run["text"]));
        }
        first = false;
    });
    if (out.name.empty() && out.id.empty()) out.name = std::string(str(runs_text["simpleText"]));
    return out;
}

}  // namespace sarn::innertube::detail
