#include "fake_phone.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "sarn/sync/base64.h"

namespace sarn::testing {

namespace {

std::string text_of(SyncByteView bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

FakeGrayjayPhone::FakeGrayjayPhone(std::string announced_name, std::vector<PhoneChannel> subscriptions,
                                   std::vector<PhoneWatch> history)
    : m_name(std::move(announced_name)),
      m_subscriptions(std::move(subscriptions)),
      m_history(std::move(history)),
      m_peer([this](SyncSession& session) { serve(session); }, FakePeer::EveryConnection{}) {}

std::string FakeGrayjayPhone::invite(const std::string& code) const {
    const std::string json = R"({"publicKey":")" + m_peer.public_key() + R"(","addresses":["127.0.0.1"],"port":)" +
                             std::to_string(m_peer.port()) + R"(,"pairingCode":")" + code + R"("})";
    std::string b64 = encode_base64(SyncBytes(json.begin(), json.end()));
    for (char& c : b64) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    while (b64.back() == '=') b64.pop_back();
    return "grayjay://sync/" + b64;
}

std::vector<PhoneChannel> FakeGrayjayPhone::subscriptions() const {
    std::lock_guard lock(m_mutex);
    return m_subscriptions;
}

void FakeGrayjayPhone::unsubscribe(const std::string& url, std::int64_t at_ms) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_subscriptions, [&](const PhoneChannel& c) { return c.url == url; });
    m_removals[url] = at_ms;
}

std::vector<std::string> FakeGrayjayPhone::pushed_packages() const {
    std::lock_guard lock(m_mutex);
    return m_pushed;
}

std::size_t FakeGrayjayPhone::pushes() const {
    std::lock_guard lock(m_mutex);
    return m_pushed.size();
}

void FakeGrayjayPhone::serve(SyncSession& session) {
    if (!await_client_authorized(session)) return;
    send_notify(session, NotifySubopcode::Authorized, m_name);
    // Until the desktop closes the connection: a state exchange is answered
    // with our subscriptions and history, a subscriptions package is taken.
    while (auto data = await_data(session)) {
        if (data->subopcode == static_cast<std::uint8_t>(DataSubopcode::SyncStateExchange)) {
            const std::string subscriptions = subscriptions_package();
            const std::string history = history_package();
            (void)session.send_data(DataSubopcode::SyncSubscriptions,
                                    SyncByteView(reinterpret_cast<const std::uint8_t*>(subscriptions.data()),
                                                 subscriptions.size()));
            (void)session.send_data(DataSubopcode::SyncHistory,
                                    SyncByteView(reinterpret_cast<const std::uint8_t*>(history.data()), history.size()));
        } else if (data->subopcode == static_cast<std::uint8_t>(DataSubopcode::SyncSubscriptions)) {
            take_push(text_of(data->payload));
        }
    }
}

std::string FakeGrayjayPhone::subscriptions_package() const {
    std::lock_guard lock(m_mutex);
    nlohmann::json out;
    out["subscriptions"] = nlohmann::json::array();
    for (const PhoneChannel& c : m_subscriptions) {
        nlohmann::json channel = {{"id", {{"platform", "YouTube"}, {"value", c.id}, {"pluginId", nullptr}}},
                                  {"name", c.name},
                                  {"thumbnail", c.thumbnail ? nlohmann::json(*c.thumbnail) : nlohmann::json()},
                                  {"banner", nullptr},
                                  {"subscribers", 0},
                                  {"description", nullptr},
                                  {"url", c.url},
                                  {"links", nlohmann::json::object()},
                                  {"urlAlternatives", c.alternatives}};
        out["subscriptions"].push_back({{"channel", channel}, {"creationTime", c.created_ms / 1000}});
    }
    out["subscriptionRemovals"] = nlohmann::json::object();
    for (const auto& [url, at] : m_removals) out["subscriptionRemovals"][url] = at;
    return out.dump();
}

std::string FakeGrayjayPhone::history_package() const {
    nlohmann::json out = nlohmann::json::array();
    for (const PhoneWatch& w : m_history) {
        nlohmann::json video = {
            {"id", {{"platform", "YouTube"}, {"value", w.url}}},
            {"name", w.title},
            {"thumbnails", {{"sources", {{{"url", w.thumbnail}, {"quality", 0}}}}}},
            {"author", {{"id", {{"platform", "YouTube"}, {"value", w.channel_id}}}, {"name", w.channel_name}}},
            {"url", w.url},
            {"duration", 600},
        };
        out.push_back({{"video", video}, {"position", 0}, {"date", w.watched_at_s}});
    }
    return out.dump();
}

void FakeGrayjayPhone::take_push(const std::string& json) {
    const auto package = nlohmann::json::parse(json, nullptr, false);
    std::lock_guard lock(m_mutex);
    m_pushed.push_back(json);
    if (!package.is_object()) return;
    if (auto removals = package.find("subscriptionRemovals"); removals != package.end() && removals->is_object()) {
        for (auto it = removals->begin(); it != removals->end(); ++it) {
            if (!it.value().is_number_integer()) continue;
            const std::int64_t at = it.value().get<std::int64_t>();
            std::erase_if(m_subscriptions, [&](const PhoneChannel& c) { return c.url == it.key() && c.created_ms < at; });
        }
    }
    auto stored = [&](const std::string& url) {
        return std::any_of(m_subscriptions.begin(), m_subscriptions.end(),
                           [&](const PhoneChannel& c) { return c.url == url; });
    };
    auto subscriptions = package.find("subscriptions");
    if (subscriptions == package.end() || !subscriptions->is_array()) return;
    for (const auto& entry : *subscriptions) {
        const auto& channel = entry.at("channel");
        PhoneChannel added;
        added.url = channel.at("url").get<std::string>();
        added.alternatives = channel.value("urlAlternatives", std::vector<std::string>{});
        added.id = channel.at("id").value("value", std::string());
        added.name = channel.at("name").get<std::string>();
        added.created_ms = entry.value("creationTime", std::int64_t{0}) * 1000;
        if (stored(added.url) || std::any_of(added.alternatives.begin(), added.alternatives.end(), stored)) continue;
        if (auto removed = m_removals.find(added.url); removed != m_removals.end() && removed->second > added.created_ms) {
            continue;
        }
        m_subscriptions.push_back(std::move(added));
    }
}

}  // namespace sarn::testing
