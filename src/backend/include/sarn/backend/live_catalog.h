// What the fetch worker needs of the innertube client beyond the catalogue
// interface: mixed search items and its own playlist query. The innertube
// backend implements this; the worker reaches it only through a factory so
// that it can run (and be tested) without it.
//
// Threads: like CatalogBackend, one calling thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "sarn/backend/catalog_backend.h"
#include "sarn/model/records.h"

namespace sarn {

// Mixed search items sorted by kind, each list in item order.
struct SearchItems {
    std::vector<Video> videos;
    std::vector<Playlist> playlists;
    std::vector<Channel> channels;
};

class LiveCatalogBackend : public CatalogBackend {
public:
    // Mixed search: videos, playlists and channels of one query.
    virtual CatalogResult<SearchItems> search_items(std::string_view text) = 0;
    // The playlist's first page (separate from CatalogBackend::playlist,
    // which keeps its default).
    virtual CatalogResult<PlaylistAnswer> fetch_playlist(std::string_view id) = 0;
};

// Starts a live backend (for the innertube client: start_live_backend) or
// answers the error text of the failed start.
using LiveBackendFactory = std::function<CatalogResult<std::unique_ptr<LiveCatalogBackend>>()>;

}  // namespace sarn
