#include "items.h"
#include "sarn/innertube/parse.h"

namespace sarn::innertube {

using namespace detail;

namespace {

void sort_item(Element item, SearchPage& page) {
    if (auto video = video_item(item)) page.videos.push_back(std::move(*video));
    else if (auto channel = channel_item(item)) page.channels.push_back(std::move(*channel));
    else if (auto playlist = playlist_item(item)) page.playlists.push_back(std::move(*playlist));
}

void read_sections(const Node& sections, SearchPage& page) {
    for_each(sections, [&](Element section) {
        for_each(section["itemSectionRenderer"]["contents"], [&](Element item) { sort_item(item, page); });
    });
}

}  // namespace

ParseResult<SearchPage> parse_search(std::string_view body) {
    auto root = parse_document(body);
    if (!root) return std::unexpected(root.error());
    Element doc = *root;
    if (auto message = error_of(doc); !message.empty() && !present(doc["contents"])) {
        return std::unexpected(message);
    }

    SearchPage page;
    auto first_page = doc["contents"]["twoColumnSearchResultsRenderer"]["primaryContents"]["sectionListRenderer"];
    bool layout_found = present(first_page);
    read_sections(first_page["contents"], page);
    // A continuation page appends its sections through commands.
    for_each(doc["onResponseReceivedCommands"], [&](Element command) {
        auto action = command["appendContinuationItemsAction"];
        if (!present(action)) action = command["reloadContinuationItemsCommand"];
        if (!present(action)) return;
        layout_found = true;
        read_sections(action["continuationItems"], page);
    });
    if (!layout_found) return std::unexpected(std::string("no search results in the answer"));
    return page;
}

}  // namespace sarn::innertube
