#include "sarn/app/action_emitter.h"

#include "vorn_log/log.h"

namespace sarn {

std::expected<void, vorn_actions::ActionError> ActionEmitter::emit() {
    if (!m_enabled) return {};
    auto invocation = m_binding.invocation();
    if (!invocation) return std::unexpected(invocation.error());
    if (m_backlog.size() >= kEmitterCapacity) {
        m_backlog.pop_front();
        const auto& address = m_binding.address();
        vorn_log::warn("sarn::app", kEmitterEvictionWarning,
                       {vorn_log::field("action",
                                        fmt::format("ActionAddress {{ resource: \"{}\", action: \"{}\" }}",
                                                    address.resource, address.action)),
                        vorn_log::field("capacity", kEmitterCapacity)});
    }
    m_backlog.push_back(std::move(*invocation));
    return {};
}

void ActionEmitter::refresh_availability(const vorn_ui::AvailableActions& available) {
    m_enabled = available.contains(m_binding.address());
    if (!m_enabled) m_backlog.clear();
}

std::optional<vorn_ui::ControlInvocation> ActionEmitter::take() {
    if (m_backlog.empty()) return std::nullopt;
    auto front = std::move(m_backlog.front());
    m_backlog.pop_front();
    return front;
}

}  // namespace sarn
