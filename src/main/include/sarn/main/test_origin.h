#pragma once
// The one test-only setting of the program: VORN_SARN_TEST_ORIGIN, an origin
// such as "http://127.0.0.1:8080" that takes the place of the crowd-sourced
// services', the innertube client's, the Invidious instances' and the image
// host's origins, so that tests of the whole program talk to a server on the
// machine. Unset or empty, the program uses the services' own addresses. It is
// read here and nowhere else.
//
// Main thread.

#include <optional>
#include <string>
#include <string_view>

#include "sarn/app/sarn_app.h"
#include "sarn/backend/fetch_worker.h"

namespace sarn::entry {

inline constexpr std::string_view kTestOriginVariable = "VORN_SARN_TEST_ORIGIN";

// The variable's value without a trailing "/"; none when unset or empty.
std::optional<std::string> test_origin_from_environment();

// The fetch worker's live configuration with every outside origin of the
// innertube client, the crowd-sourced services and the Invidious probe
// replaced by `origin`.
FetchWorkerConfig fetch_config_for_origin(const std::string& origin);

// The root's options for the program: the defaults, with the fetch worker and
// the image store's fetches of the platform's image host pointed at the test
// origin when one is set.
SarnAppOptions app_options_from_environment();

}  // namespace sarn::entry
