#pragma once
// A Grayjay phone on 127.0.0.1, as far as device sync sees one: it announces
// its name, answers a state exchange with its subscriptions (and the removals
// it made) and its watch history with the dates it was watched, and takes a
// pushed subscriptions package the way the phone does: a removal drops the
// subscription stored under exactly that address when the removal is newer,
// and a pushed channel whose url or one of whose urlAlternatives equals a
// stored url is already subscribed. Every connection runs the same script,
// until the phone is destroyed.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fake_peer.h"

namespace sarn::testing {

struct PhoneChannel {
    std::string url;
    std::vector<std::string> alternatives;
    std::string id;  // the PlatformID value
    std::string name;
    std::optional<std::string> thumbnail;
    std::int64_t created_ms = 0;
};

struct PhoneWatch {
    std::string url;
    std::string title;
    std::string thumbnail;
    std::string channel_id;
    std::string channel_name;
    std::int64_t watched_at_s = 0;  // the entry's "date"
};

class FakeGrayjayPhone {
public:
    FakeGrayjayPhone(std::string announced_name, std::vector<PhoneChannel> subscriptions,
                     std::vector<PhoneWatch> history);

    FakePeer& peer() { return m_peer; }
    // A pairing invite for this phone with the code.
    std::string invite(const std::string& code) const;

    std::vector<PhoneChannel> subscriptions() const;
    // The phone's user unsubscribes: the next state exchange lists the removal.
    void unsubscribe(const std::string& url, std::int64_t at_ms);
    // Every pushed package as it arrived, and how many arrived.
    std::vector<std::string> pushed_packages() const;
    std::size_t pushes() const;

private:
    void serve(SyncSession& session);
    std::string subscriptions_package() const;
    std::string history_package() const;
    void take_push(const std::string& json);

    const std::string m_name;
    mutable std::mutex m_mutex;
    std::vector<PhoneChannel> m_subscriptions;
    std::map<std::string, std::int64_t> m_removals;  // url → removal time in ms
    const std::vector<PhoneWatch> m_history;
    std::vector<std::string> m_pushed;
    FakePeer m_peer;  // last: its thread uses the members above
};

}  // namespace sarn::testing
