// Whether a backend's failure text says that the network could not be
// reached at all (no connection could be made, or a name did not resolve),
// as opposed to an answer that was refused or could not be read. The texts
// are those of our HTTP client and of the yt-dlp program (its Python, urllib3
// and curl layers). Pure function; any thread.
#pragma once

#include <string_view>

namespace sarn {

bool network_unreachable(std::string_view error_text);

}  // namespace sarn
