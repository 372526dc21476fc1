#include "sarn/backend/catalog_backend.h"

#include <utility>

#include <fmt/format.h>

namespace sarn {

std::string debug_quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += fmt::format("\\u{{{:x}}}", c);
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
    return out;
}

std::string CatalogQuery::debug_text() const {
    struct Visitor {
        std::string operator()(const Search& q) const { return fmt::format("Search({})", debug_quoted(q.text)); }
        std::string operator()(const Video& q) const { return fmt::format("Video({})", debug_quoted(q.id)); }
        std::string operator()(const Channel& q) const { return fmt::format("Channel({})", debug_quoted(q.id)); }
        std::string operator()(const Related& q) const {
            return fmt::format("Related({})", debug_quoted(q.video_id));
        }
        std::string operator()(const Trending&) const { return "Trending"; }
        std::string operator()(const SubscriptionFeed& q) const {
            std::string items;
            for (const std::string& id : q.channel_ids) {
                if (!items.empty()) items += ", ";
                items += debug_quoted(id);
            }
            return fmt::format("SubscriptionFeed([{}])", items);
        }
    };
    return std::visit(Visitor{}, value);
}

CatalogResult<PlaylistAnswer> CatalogBackend::playlist(std::string_view) {
    return std::unexpected(std::string(kNoPlaylistsText));
}

CatalogResult<std::vector<Comment>> CatalogBackend::comments(std::string_view) {
    return std::vector<Comment>{};
}

CatalogResult<CatalogPage> CatalogBackend::popular_search(std::string_view topic) {
    return search(topic);
}

CatalogResult<PlaybackSource> CatalogBackend::playback_source(std::string_view) {
    return std::unexpected(std::string(kNoPlaybackSourceText));
}

CatalogResult<CatalogPage> CatalogBackend::subscription_feed(std::span<const std::string> channel_ids) {
    if (channel_ids.empty()) return CatalogPage::of_videos({});
    std::vector<std::vector<sarn::Video>> lists;
    for (const std::string& id : channel_ids) {
        auto answer = channel(id);
        if (!answer) continue;  // a failing channel contributes nothing
        if (auto* page = answer->as_channel(); page != nullptr && !page->videos.empty()) {
            lists.push_back(std::move(page->videos));
        }
    }
    if (lists.empty()) return std::unexpected(std::string(kNoSubscriptionUploadsText));
    return CatalogPage::of_videos(interleave_video_lists(std::move(lists)));
}

CatalogResult<CatalogPage> CatalogBackend::run_query(CatalogQuery query) {
    struct Visitor {
        CatalogBackend& backend;
        CatalogResult<CatalogPage> operator()(CatalogQuery::Search& q) const { return backend.search(q.text); }
        CatalogResult<CatalogPage> operator()(CatalogQuery::Video& q) const { return backend.video(q.id); }
        CatalogResult<CatalogPage> operator()(CatalogQuery::Channel& q) const { return backend.channel(q.id); }
        CatalogResult<CatalogPage> operator()(CatalogQuery::Related& q) const {
            return backend.related(q.video_id);
        }
        CatalogResult<CatalogPage> operator()(CatalogQuery::Trending&) const { return backend.trending(); }
        CatalogResult<CatalogPage> operator()(CatalogQuery::SubscriptionFeed& q) const {
            return backend.subscription_feed(q.channel_ids);
        }
    };
    return std::visit(Visitor{*this}, query.value);
}

std::vector<Video> interleave_video_lists(std::vector<std::vector<Video>> lists) {
    std::size_t total = 0;
    for (const auto& list : lists) total += list.size();
    std::vector<Video> merged;
    merged.reserve(total);
    for (std::size_t pass = 0;; ++pass) {
        bool took = false;
        for (auto& list : lists) {
            if (pass < list.size()) {
                merged.push_back(std::move(list[pass]));
                took = true;
            }
        }
        if (!took) break;
    }
    return merged;
}

}  // namespace sarn
