#include "sarn/app/palette_search.h"

#include "sarn/app/navigation.h"
#include "sarn/backend/library_backend.h"
#include "vorn_ui/control.h"

namespace sarn {

namespace {

constexpr std::uint16_t kVideoIcon = 74;
constexpr std::uint16_t kCreatorIcon = 4;
constexpr std::uint16_t kPlaylistIcon = 64;
constexpr std::uint16_t kHistoryIcon = 60;
constexpr std::size_t kProviderSearchLimit = 256;

std::string_view trim(std::string_view text) {
    constexpr std::string_view kSpace = " \t\n\r\f\v";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

bool crowd_titles(const Library& library) { return library.settings.dearrow && library.settings.dearrow_titles; }

std::string joined(std::string_view a, std::string_view b, std::string_view c) {
    std::string out;
    out.reserve(a.size() + b.size() + c.size() + 2);
    out.append(a).push_back('\0');
    out.append(b).push_back('\0');
    out.append(c);
    return out;
}

vorn_ui::search::SearchResult result(std::string title, std::string_view section, const std::string& resource,
                                     std::string subtitle, std::uint16_t icon) {
    vorn_ui::search::SearchResult r;
    r.title = std::move(title);
    r.section = std::string(section);
    r.action = vorn_ui::search::SearchResult::action_text(vorn_ui::ActionAddress{resource, "open"});
    r.subtitle = std::move(subtitle);
    r.icon = icon;
    return r;
}

}  // namespace

PaletteSource palette_source_for(const Library& library) {
    // The palette shows the first 50 matches: the backend stops there.
    return PaletteSource{
        std::make_unique<LibraryBackend>(LibraryBackend(library).with_search_limit(kPaletteEntryLimit)),
        crowd_titles(library)};
}

std::vector<PaletteEntry> palette_video_entries(PaletteSource& source, std::string_view query) {
    std::vector<PaletteEntry> out;
    const std::string_view q = trim(query);
    if (q.empty() || !source.backend) return out;
    auto answer = source.backend->search(q);
    if (!answer) return out;
    const auto* videos = std::get_if<CatalogPage::Videos>(&answer->value);
    if (videos == nullptr) return out;
    for (const Video& video : videos->videos) {
        if (out.size() == kPaletteEntryLimit) break;
        out.push_back(PaletteEntry{Library::display_title(video, source.crowd_titles), video.channel_name,
                                   video.seed, watch_link(video.id), std::string(kPaletteVideoKind), video.duration});
    }
    return out;
}

std::vector<PaletteEntry> palette_channel_matches(PaletteSource& source, const Library& library,
                                                  std::string_view query) {
    const std::string_view q = trim(query);
    if (q.empty()) return {};
    std::vector<PaletteEntry> out = palette_video_entries(source, q);
    const std::string needle = lowercase(q);
    // The limit counts the records looked at, not the matches.
    const std::size_t examined = std::min(library.channels.size(), kPaletteEntryLimit - out.size());
    for (std::size_t i = 0; i < examined; ++i) {
        const Channel& channel = library.channels[i];
        const bool matches = lowercase(channel.name).find(needle) != std::string::npos ||
                             lowercase(channel.handle).find(needle) != std::string::npos;
        if (!matches) continue;
        out.push_back(PaletteEntry{channel.name, channel.handle, channel.seed, channel_link(channel.id),
                                   std::string(kPaletteChannelKind), 0});
    }
    if (out.size() > kPaletteEntryLimit) out.resize(kPaletteEntryLimit);
    return out;
}

void catalog_upsert(vorn_ui::search::SearchCatalog& catalog, const std::string& key, std::string_view search_text,
                    vorn_ui::search::SearchResult result) {
    if (key.empty()) return;
    const auto address = result.action_address();
    if (!address || address->resource != key) return;
    const std::string normalized = vorn_ui::search::normalize_search_text(search_text);
    catalog.insert_indexed(key, std::move(result), vorn_ui::search::index_grams(normalized),
                           vorn_ui::search::index_tokens(normalized));
}

std::shared_ptr<vorn_ui::search::SearchCatalog> register_library_catalog(const Library& library) {
    auto catalog = vorn_ui::search::SearchCatalog::make("Sarn");
    const bool crowd = crowd_titles(library);
    for (std::size_t i = 0; i < std::min(library.videos.size(), kCatalogGroupLimit); ++i) {
        const Video& v = library.videos[i];
        const std::string key = "sarn.video:" + v.id;
        catalog_upsert(*catalog, key, joined(v.title, v.channel_name, v.id),
                       result(Library::display_title(v, crowd), "Videos", key, v.channel_name, kVideoIcon));
    }
    for (std::size_t i = 0; i < std::min(library.channels.size(), kCatalogGroupLimit); ++i) {
        const Channel& c = library.channels[i];
        const std::string key = "sarn.channel:" + c.id;
        catalog_upsert(*catalog, key, joined(c.name, c.handle, c.id),
                       result(c.name, "Creators", key, c.handle, kCreatorIcon));
    }
    for (std::size_t i = 0; i < std::min(library.playlists.size(), kCatalogGroupLimit); ++i) {
        const Playlist& p = library.playlists[i];
        const std::string key = "sarn.playlist:" + p.id;
        catalog_upsert(*catalog, key, joined(p.title, p.channel_name, p.id),
                       result(p.title, "Playlists", key, p.channel_name, kPlaylistIcon));
    }
    for (std::size_t i = 0; i < std::min(library.history.size(), kCatalogGroupLimit); ++i) {
        const std::string& id = library.history[i];
        const Video* v = library.find_video(id);
        if (v == nullptr) continue;  // still counts toward the hundred
        const std::string key = "sarn.history:" + id;
        catalog_upsert(*catalog, key, joined(v->title, v->channel_name, id),
                       result(Library::display_title(*v, crowd), "Watch history", key, v->channel_name,
                              kHistoryIcon));
    }
    return catalog;
}

std::vector<vorn_ui::search::SearchResult> SarnSearchProvider::search(std::string_view query) const {
    return m_catalog->search_limited(query, kProviderSearchLimit);
}

std::vector<vorn_ui::search::SearchResult> SarnSearchProvider::search_limited(std::string_view query,
                                                                              std::size_t limit) const {
    return m_catalog->search_limited(query, limit);
}

vorn_ui::search::SearchPage SarnSearchProvider::query_page(std::string_view query,
                                                           const std::optional<vorn_ui::search::SearchCursor>& cursor,
                                                           std::size_t page_size) const {
    return m_catalog->query_page(query, cursor, page_size);
}

bool SarnSearchProvider::cursor_is_current(const vorn_ui::search::SearchCursor& cursor) const {
    return m_catalog->cursor_is_current(cursor);
}

std::optional<std::uint64_t> SarnSearchProvider::stats() const { return m_catalog->stats().entries; }

}  // namespace sarn
