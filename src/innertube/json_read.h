// Readers over simdjson's DOM that never fail: a missing member or a member
// of the wrong type reads as the empty value. Private to this library.
#pragma once

#include <simdjson.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace sarn::innertube::detail {

using Element = simdjson::dom::element;
using Node = simdjson::simdjson_result<simdjson::dom::element>;

// Parses `body` with this thread's parser. The elements stay valid until
// the next call on the same thread.
std::expected<Element, std::string> parse_document(std::string_view body);

// A plain element as a node, for the readers below.
inline Node wrap(Element element) { return Node(std::move(element)); }

inline bool present(const Node& node) { return node.error() == simdjson::SUCCESS; }

inline std::string_view str(const Node& node) {
    std::string_view out;
    if (node.get_string().get(out) != simdjson::SUCCESS) return {};
    return out;
}

inline bool flag(const Node& node) {
    bool out = false;
    if (node.get_bool().get(out) != simdjson::SUCCESS) return false;
    return out;
}

inline std::optional<std::int64_t> integer(const Node& node) {
    std::int64_t out = 0;
    if (node.get_int64().get(out) != simdjson::SUCCESS) return std::nullopt;
    return out;
}

// Calls fn(element) for each entry of an array node; nothing otherwise.
template <class Fn>
void for_each(const Node& node, Fn&& fn) {
    simdjson::dom::array array;
    if (node.get_array().get(array) != simdjson::SUCCESS) return;
    for (Element entry : array) fn(entry);
}

// The plain text of a display text: a string, {"simpleText"}, {"runs":[{"text"}]}
// or {"content"} of the view models.
std::string text(const Node& node);

// Largest-area entry of a thumbnail list, "//" addresses made https.
std::string best_thumbnail(const Node& list);

// The "thumbnails" list of {"thumbnails":[...]} or the "sources" of an image
// view model, whichever the node has.
std::string best_image(const Node& node);

// The browse id of a run or command that navigates to a channel page:
// node["navigationEndpoint"|"onTap"...]["browseEndpoint"]["browseId"].
std::string_view browse_id(const Node& endpoint_holder);

// The first run of a "runs" text that carries a browse endpoint: its text and
// browse id. Falls back to the first run's text with an empty id.
struct Byline {
    std::string name;
    std::string id;
};
Byline byline(const Node& runs_text);

// The message of an API error object or of the first error alert, else "".
std::string error_of(Element doc);

}  // namespace sarn::innertube::detail
