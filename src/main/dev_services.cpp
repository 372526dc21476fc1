#include "sarn/main/dev_services.h"

#include <utility>

#include "sarn/app/image_fetch.h"
#include "sarn/backend/platform.h"
#include "sarn/backend/ytdlp_backend.h"
#include "sarn/innertube/live_backend.h"
#include "sarn/main/test_origin.h"

namespace sarn::entry {

namespace {

void write_whole(std::FILE* stream, std::string_view text) {
    if (stream == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

void ModeOutput::say(std::string_view text) const { write_whole(out, text); }
void ModeOutput::warn(std::string_view text) const { write_whole(err, text); }

vorn_ui::image_store::FetchFunction fetch_images_from_origin(vorn_ui::image_store::FetchFunction fetch,
                                                             std::string origin) {
    const std::string host(kPlatformImageHost);  // "https://i.ytimg.com"
    const std::string relative = host.substr(host.find("//"));  // "//i.ytimg.com"
    return [fetch = std::move(fetch), origin = std::move(origin), host, relative](const std::string& address) {
        for (const std::string& prefix : {host, relative}) {
            if (address.starts_with(prefix + "/")) return fetch(origin + address.substr(prefix.size()));
        }
        return fetch(address);
    };
}

DevServices dev_services_for(std::optional<std::string> test_origin) {
    DevServices services;
    services.start_ytdlp = []() -> CatalogResult<std::unique_ptr<CatalogBackend>> {
        auto backend = YtDlpBackend::probe();
        if (!backend) return std::unexpected(std::move(backend.error()));
        return std::make_unique<YtDlpBackend>(std::move(*backend));
    };
    services.new_media_engine = [] { return media::engine::MediaEngine::create(); };
    if (!test_origin) {
        services.start_live = [] { return start_live_backend(); };
        services.probe_invidious = [](std::string_view id) { return sarn::probe_invidious(id); };
        services.build_http_client = [] { return build_http_client(); };
        services.new_image_store = [] { return new_image_store(); };
        services.app_options = [] {
            SarnAppOptions options;
            options.history_data_dir.emplace(std::nullopt);
            return options;
        };
        return services;
    }
    const std::string origin = *test_origin;
    innertube::ClientConfig client;
    client.origin = origin;
    services.start_live = live_backend_factory(client);
    services.probe_invidious = [origin](std::string_view id) {
        InvidiousProbeOptions options;
        options.instances = {origin};
        return sarn::probe_invidious(id, options);
    };
    services.build_http_client = [origin] { return fetch_images_from_origin(build_http_client(), origin); };
    services.new_image_store = [origin] {
        return vorn_ui::image_store::ImageStore::create(fetch_images_from_origin(build_http_client(), origin));
    };
    services.app_options = [origin] {
        SarnAppOptions options;
        options.history_data_dir.emplace(std::nullopt);
        options.fetch_config = [origin] { return fetch_config_for_origin(origin); };
        return options;
    };
    return services;
}

DevServices dev_services_from_environment() { return dev_services_for(test_origin_from_environment()); }

}  // namespace sarn::entry
