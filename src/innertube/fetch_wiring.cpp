#include "sarn/innertube/fetch_wiring.h"

#include "sarn/innertube/live_backend.h"

namespace sarn {

FetchWorkerConfig live_fetch_worker_config(innertube::ClientConfig client) {
    FetchWorkerConfig config;
    config.live_backend = live_backend_factory(std::move(client));
    return config;
}

}  // namespace sarn
