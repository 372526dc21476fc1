// The application object the launcher creates before the root widget: the action
// registry the program registers its namespaces in, and the application identity.
// Interface thread only.
#pragma once

#include <string>
#include <string_view>

#include "vorn_actions/registry.h"

namespace vorn_ui::app {

class App {
public:
    explicit App(std::string application_id) : m_application_id(std::move(application_id)) {}

    vorn_actions::ActionRegistry& action_registry_mut() { return m_registry; }
    const vorn_actions::ActionRegistry& action_registry() const { return m_registry; }
    const std::string& application_id() const { return m_application_id; }

private:
    std::string m_application_id;
    vorn_actions::ActionRegistry m_registry;
};

}  // namespace vorn_ui::app
