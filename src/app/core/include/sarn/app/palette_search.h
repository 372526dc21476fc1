#pragma once
// Two offline searches over the user's Library: the entries of the action
// palette (matching videos, then matching channels, at most 50) and the
// library search catalog the runtime's surfaces query (videos, creators,
// playlists and watch history, at most 100 of each).
//
// The palette search runs on the interface thread while the palette is
// built. The catalog is built afresh on every request; its contents sit
// behind the catalog's own read-write lock and any thread may query it.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sarn/backend/catalog_backend.h"
#include "sarn/model/library.h"
#include "vorn_ui/search.h"

namespace sarn {

inline constexpr std::size_t kPaletteEntryLimit = 50;
inline constexpr std::size_t kCatalogGroupLimit = 100;
inline constexpr std::string_view kPaletteVideoKind = "sarn.video";
inline constexpr std::string_view kPaletteChannelKind = "sarn.channel";

struct PaletteEntry {
    std::string title;
    std::string secondary;  // the channel name of a video, the handle of a channel
    std::string seed;
    std::string link;  // "sarn://watch/{id}" or "sarn://channel/{id}"
    std::string kind;  // "sarn.video" or "sarn.channel"
    std::uint32_t duration = 0;
    friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

// Where the palette's videos come from: a catalogue backend over the
// Library, and whether crowd-sourced titles are shown.
struct PaletteSource {
    std::unique_ptr<CatalogBackend> backend;
    bool crowd_titles = false;
};

// The source the palette uses for a Library, crowd-sourced titles when both
// DeArrow switches are on. It reads the Library in place (a copy of ten
// thousand videos per keystroke would cost more than the search) and answers
// only the first 50 matches: use it while the Library lives unchanged, as
// the overlay does while it is built.
PaletteSource palette_source_for(const Library& library);

// The video entries of the query (trimmed; the backend is not asked for a blank one).
std::vector<PaletteEntry> palette_video_entries(PaletteSource& source, std::string_view query);
// Videos first, then the channels among the first 50 − (video entries)
// records whose lower-cased name, else handle, contains the query.
std::vector<PaletteEntry> palette_channel_matches(PaletteSource& source, const Library& library,
                                                  std::string_view query);

// A catalog named "Sarn" of the Library's records; keys are the result
// addresses' resources ("sarn.video:{id}", "sarn.channel:{id}",
// "sarn.playlist:{id}", "sarn.history:{id}"), each result opens with "open".
std::shared_ptr<vorn_ui::search::SearchCatalog> register_library_catalog(const Library& library);

// Stores the result under the key when its action address names that key.
void catalog_upsert(vorn_ui::search::SearchCatalog& catalog, const std::string& key, std::string_view search_text,
                    vorn_ui::search::SearchResult result);

// The catalog as the runtime's search provider "Sarn".
class SarnSearchProvider final : public vorn_ui::search::SearchProvider {
public:
    explicit SarnSearchProvider(std::shared_ptr<vorn_ui::search::SearchCatalog> catalog)
        : m_catalog(std::move(catalog)) {}

    std::string name() const override { return "Sarn"; }
    std::vector<vorn_ui::search::SearchResult> search(std::string_view query) const override;
    std::vector<vorn_ui::search::SearchResult> search_limited(std::string_view query,
                                                              std::size_t limit) const override;
    vorn_ui::search::SearchPage query_page(std::string_view query,
                                           const std::optional<vorn_ui::search::SearchCursor>& cursor,
                                           std::size_t page_size) const override;
    bool cursor_is_current(const vorn_ui::search::SearchCursor& cursor) const override;
    std::optional<std::uint64_t> stats() const override;

    const vorn_ui::search::SearchCatalog& catalog() const { return *m_catalog; }

private:
    std::shared_ptr<vorn_ui::search::SearchCatalog> m_catalog;
};

}  // namespace sarn
