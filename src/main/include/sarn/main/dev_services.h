#pragma once
// What the developer modes (the probes and the live screenshots) build on:
// how they start their backends, image stores and media engine, and where
// they write. The program's services are the real ones; when the test
// origin is set (test_origin.h) the innertube client, the Invidious probe and
// the fetches of the platform's image host go to that origin instead, so
// that tests of the whole program stay on this machine. Tests of the modes
// themselves hand stubs.
//
// Main thread: the modes run there and call every member there.

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "media/engine.h"
#include "sarn/app/sarn_app.h"
#include "sarn/backend/catalog_backend.h"
#include "sarn/backend/invidious.h"
#include "sarn/backend/live_catalog.h"
#include "vorn_ui/image_store.h"

namespace sarn::entry {

// Progress and results to standard output, construction notices and
// failures to standard error; each text written whole and flushed.
struct ModeOutput {
    std::FILE* out = stdout;
    std::FILE* err = stderr;

    void say(std::string_view text) const;
    void warn(std::string_view text) const;
};

struct DevServices {
    // "yt-dlp" from the search path, probed with "--version".
    std::function<CatalogResult<std::unique_ptr<CatalogBackend>>()> start_ytdlp;
    // The innertube backend without bot-check.
    LiveBackendFactory start_live;
    // A directly playable stream from an Invidious instance, if one serves it.
    std::function<std::optional<InvidiousStream>(std::string_view video_id)> probe_invidious;
    // The image fetch function (build_http_client) and a store over it.
    std::function<vorn_ui::image_store::FetchFunction()> build_http_client;
    std::function<vorn_ui::image_store::ImageStore()> new_image_store;
    // The decoding media engine of the engine probe.
    std::function<media::engine::MediaEngine()> new_media_engine;
    // The options of the screenshot roots (memory-only history).
    std::function<SarnAppOptions()> app_options;
    // How long the engine probe watches the engine.
    std::chrono::milliseconds engine_watch{20'000};
    ModeOutput output;
};

// The real services, pointed at the test origin when one is set.
DevServices dev_services_from_environment();
// The same for a given test origin (none: the real services' own addresses).
DevServices dev_services_for(std::optional<std::string> test_origin);

// The fetch function with addresses on the platform's image host (also in
// the scheme-relative "//" form) sent to `origin` with the same path.
vorn_ui::image_store::FetchFunction fetch_images_from_origin(vorn_ui::image_store::FetchFunction fetch,
                                                             std::string origin);

}  // namespace sarn::entry
