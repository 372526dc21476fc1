// A stand-in for the desktop's secret portal (org.freedesktop.portal.Secret)
// on a session bus: it answers RetrieveSecret by writing its secret into the
// caller's file descriptor and signalling the request's response, as the
// desktop's portal does. Its own connection and thread, for its lifetime.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vorn_test {

class FakePortal {
public:
    // `response` 0 hands out the secret; anything else refuses. An empty bus
    // address means the session bus that DBUS_SESSION_BUS_ADDRESS names.
    FakePortal(std::string secret, std::uint32_t response, std::string bus_address = {});
    ~FakePortal();
    FakePortal(const FakePortal&) = delete;
    FakePortal& operator=(const FakePortal&) = delete;
    // Whether it holds the portal's name on the bus.
    bool ok() const;

    struct State;

private:
    std::unique_ptr<State> m_state;
};

}  // namespace vorn_test
