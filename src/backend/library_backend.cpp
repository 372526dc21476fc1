#include "sarn/backend/library_backend.h"

#include <algorithm>

#include <fmt/format.h>

namespace sarn {

namespace {

std::vector<Video> copies(const std::vector<const Video*>& found) {
    std::vector<Video> out;
    out.reserve(found.size());
    for (const Video* video : found) out.push_back(*video);
    return out;
}

}  // namespace

LibraryBackend LibraryBackend::owning(Library library) {
    return LibraryBackend(std::make_unique<Library>(std::move(library)));
}

CatalogResult<CatalogPage> LibraryBackend::search(std::string_view query) {
    return CatalogPage::of_videos(copies(m_library->search_library(query, m_search_limit)));
}

CatalogResult<CatalogPage> LibraryBackend::video(std::string_view id) {
    const Video* found = m_library->find_video(id);
    if (found == nullptr) return std::unexpected(fmt::format("no sample video {}", id));
    return CatalogPage::of_video(*found);
}

CatalogResult<CatalogPage> LibraryBackend::channel(std::string_view id) {
    const Channel* found = m_library->find_channel(id);
    if (found == nullptr) return std::unexpected(fmt::format("no sample channel {}", id));
    return CatalogPage::of_channel(*found, copies(m_library->videos_of_channel(id)));
}

CatalogResult<CatalogPage> LibraryBackend::related(std::string_view id) {
    return CatalogPage::of_videos(copies(m_library->related_videos(id)));
}

CatalogResult<CatalogPage> LibraryBackend::trending() {
    std::vector<Video> videos = m_library->videos;
    std::stable_sort(videos.begin(), videos.end(), [](const Video& a, const Video& b) { return a.views > b.views; });
    return CatalogPage::of_videos(std::move(videos));
}

}  // namespace sarn
