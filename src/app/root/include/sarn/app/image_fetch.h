#pragma once
// Pictures of thumbnails and avatars for the runtime's image store, fetched
// over HTTP with a client of the program's own. The fetch function runs on
// the store's loading threads; each call borrows one client from a small
// pool, so that two loads never share a connection handle.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vorn_ui/image_store.h"

namespace sarn {

inline constexpr std::string_view kImageUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0";

// The fetch function: an address starting with "//" is fetched over https;
// any failure (transport, a status outside 2xx, a body over the store's
// limit) gives nothing.
vorn_ui::image_store::FetchFunction build_http_client();
// One fetch with a fresh client (the fetch function's body).
std::optional<std::vector<std::uint8_t>> fetch_image_bytes(const std::string& address);
// An image store over build_http_client.
vorn_ui::image_store::ImageStore new_image_store();

}  // namespace sarn
