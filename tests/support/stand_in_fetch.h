// The live fetch worker's configuration for tests and benchmarks whose
// outside world is one server on 127.0.0.1: the innertube client, the
// crowd-sourced services and Invidious all at its origin, and no yt-dlp, so
// that the innertube client is the primary backend as well as the
// enrichment client. Built on the interface thread, like every fetch
// configuration.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "sarn/backend/fetch_worker.h"
#include "sarn/innertube/fetch_wiring.h"

namespace sarn::support {

// `answer_cache_capacity` 0 turns the sharing of answers off.
inline FetchWorkerConfig stand_in_fetch_config(const std::string& origin, std::size_t answer_cache_capacity) {
    using namespace std::chrono_literals;
    innertube::ClientConfig client;
    client.origin = origin;
    client.call_budget = 10s;
    client.answer_cache_capacity = answer_cache_capacity;
    FetchWorkerConfig config = live_fetch_worker_config(client);
    config.ytdlp_program = "/nonexistent/yt-dlp";
    config.extras = ExtrasEndpoints{origin, origin, origin};
    config.invidious = InvidiousProbeOptions{{origin}, 5000ms, 10000ms};
    return config;
}

}  // namespace sarn::support
