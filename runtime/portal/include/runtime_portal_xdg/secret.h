#pragma once
// The desktop secret broker: the application's own secret from the XDG desktop
// portal's Secret interface on the session bus. Blocking (bounded by a
// time-out); call it from any thread except one running a GLib main loop of
// the default context.

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

namespace runtime_portal_xdg {

class Secret {
public:
    // The same bytes for the same user on every call, or a display text of why
    // the broker could not answer.
    static std::expected<std::vector<std::uint8_t>, std::string> retrieve();
};

}  // namespace runtime_portal_xdg
