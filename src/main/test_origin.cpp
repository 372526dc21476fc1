#include "sarn/main/test_origin.h"

#include <cstdlib>

#include "sarn/app/image_fetch.h"
#include "sarn/innertube/fetch_wiring.h"
#include "sarn/main/dev_services.h"

namespace sarn::entry {

std::optional<std::string> test_origin_from_environment() {
    const char* value = std::getenv(kTestOriginVariable.data());
    if (value == nullptr) return std::nullopt;
    std::string origin(value);
    while (!origin.empty() && origin.back() == '/') origin.pop_back();
    if (origin.empty()) return std::nullopt;
    return origin;
}

FetchWorkerConfig fetch_config_for_origin(const std::string& origin) {
    innertube::ClientConfig client;
    client.origin = origin;
    FetchWorkerConfig config = live_fetch_worker_config(std::move(client));
    config.extras = ExtrasEndpoints{origin, origin, origin};
    // A stream no instance here serves is not looked for elsewhere.
    InvidiousProbeOptions invidious;
    invidious.instances = {origin};
    config.invidious = std::move(invidious);
    return config;
}

SarnAppOptions app_options_from_environment() {
    SarnAppOptions options;
    if (auto origin = test_origin_from_environment()) {
        options.fetch_config = [origin = *origin] { return fetch_config_for_origin(origin); };
        // The platform's pictures (a watched video's own, for one) come from there too.
        options.image_store = [origin = std::move(*origin)] {
            return vorn_ui::image_store::ImageStore::create(fetch_images_from_origin(build_http_client(), origin));
        };
    }
    return options;
}

}  // namespace sarn::entry
