#pragma once
// Action resources: the tree of things a program offers to the host's action
// surfaces (palettes, menus, assistive tools), each with its actions.
//
// A Resource has an address, a kind, a label, actions and child resources.
// An ActionSpec names one action, describes it, declares its parameters and
// carries the handler that produces the encoded action when it runs. An
// ActionBinding ties a control of the program to one action of the tree; its
// invocations carry arguments already checked against its ActionSpec.
//
// Plain values built by chained setters; interface thread only (handlers are
// not required to be thread-safe).

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "vorn_actions/action.h"

namespace vorn_actions::resource {

struct ActionAddress {
  std::string resource;
  std::string action;

  friend bool operator==(const ActionAddress&, const ActionAddress&) = default;
  friend auto operator<=>(const ActionAddress&, const ActionAddress&) = default;
};

// Shown instead of running the action.
struct Unavailability {
  std::string code;
  std::string text;

  friend bool operator==(const Unavailability&, const Unavailability&) = default;
};

// The operation class of an action that the host hands back to the program
// instead of applying it to a document.
enum class EffectClass : std::uint8_t {
  None = 0,
  BeyondView = 1,  // acts beyond the view (clipboard, files, devices, history)
  ViewOnly = 2,    // changes only what is shown
};

struct ActionContract {
  std::vector<std::string> required_capabilities;
  EffectClass effect = EffectClass::None;

  friend bool operator==(const ActionContract&, const ActionContract&) = default;
};

// A text parameter of an action.
struct ActionParam {
  std::string name;
  std::string label;
  std::optional<std::string> description;
  std::optional<std::string> placeholder;
  // JSON-schema constraints on the text; minLength and maxLength (counted in
  // code points) are enforced, other members are passed to the host.
  std::optional<nlohmann::json> schema;

  static ActionParam text(std::string name, std::string label);
  ActionParam with_description(std::string text) &&;
  ActionParam with_placeholder(std::string text) &&;
  ActionParam with_schema(nlohmann::json schema) &&;

  // Checks one value against the parameter; none when it is acceptable.
  std::optional<std::string> check(const nlohmann::json* value) const;
};

// The arguments of one run of an action: a JSON object.
class ActionArgs {
 public:
  ActionArgs() = default;
  explicit ActionArgs(nlohmann::json object) : m_object(std::move(object)) {}

  // The text argument; an absent (or non-text) argument is the empty text.
  std::string text(std::string_view name) const;
  const nlohmann::json& json() const { return m_object; }

 private:
  nlohmann::json m_object = nlohmann::json::object();
};

using ActionHandler = std::function<std::expected<EncodedAction, ActionError>(const ActionArgs&)>;

class ActionSpec {
 public:
  ActionSpec(std::string name, std::string label, ActionHandler handler);
  // An action that always produces the same encoded action.
  static ActionSpec fixed(std::string name, std::string label, EncodedAction encoded);

  ActionSpec with_description(std::string text) &&;
  ActionSpec with_contract(ActionContract contract) &&;
  ActionSpec with_param(ActionParam param) &&;
  ActionSpec unavailable(std::string code, std::string text) &&;
  ActionSpec privileged() &&;
  ActionSpec destructive() &&;
  // Marks an action whose effect is shared with collaborators.
  ActionSpec collaborative(bool value) &&;
  // Marks an action that produces a typed document action (the host may
  // preview or undo it).
  ActionSpec typed_document_action() &&;

  const std::string& name() const { return m_name; }
  const std::string& label() const { return m_label; }
  const std::optional<std::string>& description() const { return m_description; }
  const std::optional<ActionContract>& contract() const { return m_contract; }
  const std::vector<ActionParam>& params() const { return m_params; }
  const std::optional<Unavailability>& unavailability() const { return m_unavailable; }
  bool is_privileged() const { return m_privileged; }
  bool is_destructive() const { return m_destructive; }
  bool is_collaborative() const { return m_collaborative; }
  bool is_typed_document_action() const { return m_typed; }

  // Checks the arguments against the parameters (an object with no members
  // other than the declared ones, each a text meeting its schema) and answers
  // their JSON text.
  std::expected<std::string, ActionError> build_json(const nlohmann::json& args) const;

  // Runs the handler on checked arguments. An unavailable action refuses.
  std::expected<EncodedAction, ActionError> run(const nlohmann::json& args) const;

 private:
  std::string m_name;
  std::string m_label;
  std::optional<std::string> m_description;
  std::optional<Unavailability> m_unavailable;
  bool m_privileged = false;
  bool m_destructive = false;
  bool m_collaborative = false;
  bool m_typed = false;
  std::vector<ActionParam> m_params;
  std::optional<ActionContract> m_contract;
  ActionHandler m_handler;
};

struct Resource {
  std::string id;
  std::string kind;
  std::string label;
  std::vector<ActionSpec> actions;
  std::vector<Resource> children;

  Resource(std::string id, std::string kind, std::string label)
      : id(std::move(id)), kind(std::move(kind)), label(std::move(label)) {}
  Resource with_child(Resource child) &&;
  Resource with_action(ActionSpec action) &&;

  const ActionSpec* find_action(std::string_view name) const;
};

// The resource with this address anywhere in the trees, depth first in order.
const Resource* find_resource_deep(std::span<const Resource> roots, std::string_view id);

// The operation type an invoked action of the trees is performed with: the
// effect class its contract declares, or BeyondView (1) when it declares
// none or is not in the trees.
std::uint32_t operation_type_of(std::span<const Resource> roots, const ActionAddress& address);

// One activation of a bound control, arguments already checked.
struct ControlInvocation {
  ActionAddress address;
  nlohmann::json args;
  std::string args_json;
};

class ActionBinding {
 public:
  using Arguments = std::function<nlohmann::json()>;

  // The action of the resource, with no arguments; none when the resource
  // has no action of that name.
  static std::optional<ActionBinding> unit_for(const Resource& resource, std::string_view action);
  // The action of the resource with fixed arguments.
  static std::optional<ActionBinding> static_json(const Resource& resource, std::string_view action,
                                                  nlohmann::json args);

  const ActionAddress& address() const { return m_address; }
  const ActionSpec& spec() const { return *m_spec; }

  // Builds an invocation from the argument function (ActionSpec::build_json).
  std::expected<ControlInvocation, ActionError> invocation() const;

 private:
  ActionBinding(ActionAddress address, std::shared_ptr<const ActionSpec> spec, Arguments arguments)
      : m_address(std::move(address)), m_spec(std::move(spec)), m_arguments(std::move(arguments)) {}
  ActionAddress m_address;
  std::shared_ptr<const ActionSpec> m_spec;
  Arguments m_arguments;
};

// Runs an invocation against the resource trees: finds the action by its
// address and runs it with the invocation's arguments.
std::expected<EncodedAction, ActionError> run_invocation(std::span<const Resource> roots,
                                                         const ControlInvocation& invocation);

// An input handler: builds the payload from the arguments and encodes it
// under the kind. `build` answers the payload JSON text or an error text.
ActionHandler derive_input(std::string kind,
                           std::function<std::expected<std::string, std::string>(const ActionArgs&)> build);

// Wraps a handler so that an encoded action of any other kind than the
// declared one is refused.
ActionHandler enforce_operation_type(std::string declared_kind, ActionHandler inner);

}  // namespace vorn_actions::resource
