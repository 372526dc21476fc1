#pragma once
// ActionEmitter: the bounded queue through which a control bound to one of
// the runtime's actions hands its activations to the runtime. Activating the
// control queues one invocation; the runtime collects them through the
// owning widget's take_control_invocation.
//
// State: enabled (new emitters) or disabled, set by every availability
// refresh. Disabling drops the backlog; while disabled an activation succeeds
// and queues nothing. The backlog holds at most 64 invocations: the 65th
// activation evicts the oldest with a warning.
//
// Interface thread only.

#include <cstddef>
#include <deque>
#include <expected>
#include <optional>

#include "vorn_actions/resource.h"
#include "vorn_ui/control.h"

namespace sarn {

inline constexpr std::size_t kEmitterCapacity = 64;
inline constexpr std::string_view kEmitterEvictionWarning = "control invocation backlog full; evicting oldest intent";

class ActionEmitter {
public:
    explicit ActionEmitter(vorn_actions::resource::ActionBinding binding) : m_binding(std::move(binding)) {}

    // Queues one invocation of the binding (see the state notes above); the
    // action's refusal of the binding's arguments is answered unchanged.
    std::expected<void, vorn_actions::ActionError> emit();
    // Enabled exactly when `available` holds the binding's address.
    void refresh_availability(const vorn_ui::AvailableActions& available);
    // The oldest queued invocation.
    std::optional<vorn_ui::ControlInvocation> take();

    const vorn_ui::ActionAddress& address() const { return m_binding.address(); }
    const vorn_actions::resource::ActionBinding& binding() const { return m_binding; }
    bool enabled() const { return m_enabled; }
    std::size_t backlog_size() const { return m_backlog.size(); }

private:
    vorn_actions::resource::ActionBinding m_binding;
    std::deque<vorn_ui::ControlInvocation> m_backlog;
    bool m_enabled = true;
};

}  // namespace sarn
