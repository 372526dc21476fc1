// The fetch worker as the program runs it: the backend layer's defaults
// with our LiveBackend in the worker's live-backend seam (the fallback
// primary backend and the enrichment client).
//
// Threads: any; the worker itself runs on "sarn-fetch".
#pragma once

#include "sarn/backend/fetch_worker.h"
#include "sarn/innertube/client.h"

namespace sarn {

// `client` points the live backends at another origin (tests); by default
// they talk to the platform.
FetchWorkerConfig live_fetch_worker_config(innertube::ClientConfig client = {});

}  // namespace sarn
