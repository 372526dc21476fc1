#include "vorn_actions/resource.h"

#include <fmt/format.h>

namespace vorn_actions::resource {

namespace {

std::size_t code_points(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

// A non-negative integer member of a schema.
std::optional<std::uint64_t> schema_bound(const nlohmann::json& schema, const char* member) {
  auto it = schema.find(member);
  if (it == schema.end()) return std::nullopt;
  if (it->is_number_unsigned()) return it->get<std::uint64_t>();
  if (it->is_number_integer() && it->get<std::int64_t>() >= 0) return static_cast<std::uint64_t>(it->get<std::int64_t>());
  return std::nullopt;
}

}  // namespace

ActionParam ActionParam::text(std::string name, std::string label) {
  ActionParam p;
  p.name = std::move(name);
  p.label = std::move(label);
  return p;
}

ActionParam ActionParam::with_description(std::string text) && {
  description = std::move(text);
  return std::move(*this);
}

ActionParam ActionParam::with_placeholder(std::string text) && {
  placeholder = std::move(text);
  return std::move(*this);
}

ActionParam ActionParam::with_schema(nlohmann::json value) && {
  schema = std::move(value);
  return std::move(*this);
}

std::optional<std::string> ActionParam::check(const nlohmann::json* value) const {
  std::string_view text;
  if (value != nullptr) {
    if (!value->is_string()) return fmt::format("argument {} must be text", name);
    text = value->get_ref<const std::string&>();
  }
  if (schema && schema->is_object()) {
    const std::size_t length = code_points(text);
    if (auto min = schema_bound(*schema, "minLength"); min && length < *min) {
      return fmt::format("argument {} is shorter than {} characters", name, *min);
    }
    if (auto max = schema_bound(*schema, "maxLength"); max && length > *max) {
      return fmt::format("argument {} is longer than {} characters", name, *max);
    }
  }
  return std::nullopt;
}

std::string ActionArgs::text(std::string_view name) const {
  if (!m_object.is_object()) return {};
  auto it = m_object.find(name);
  if (it == m_object.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

ActionSpec::ActionSpec(std::string name, std::string label, ActionHandler handler)
    : m_name(std::move(name)), m_label(std::move(label)), m_handler(std::move(handler)) {}

ActionSpec ActionSpec::fixed(std::string name, std::string label, EncodedAction encoded) {
  return ActionSpec(std::move(name), std::move(label),
                    [encoded = std::move(encoded)](const ActionArgs&) -> std::expected<EncodedAction, ActionError> {
                      return encoded;
                    });
}

ActionSpec ActionSpec::with_description(std::string text) && {
  m_description = std::move(text);
  return std::move(*this);
}

ActionSpec ActionSpec::with_contract(ActionContract contract) && {
  m_contract = std::move(contract);
  return std::move(*this);
}

ActionSpec ActionSpec::with_param(ActionParam param) && {
  m_params.push_back(std::move(param));
  return std::move(*this);
}

ActionSpec ActionSpec::unavailable(std::string code, std::string text) && {
  m_unavailable = Unavailability{std::move(code), std::move(text)};
  return std::move(*this);
}

ActionSpec ActionSpec::privileged() && {
  m_privileged = true;
  return std::move(*this);
}

ActionSpec ActionSpec::destructive() && {
  m_destructive = true;
  return std::move(*this);
}

ActionSpec ActionSpec::collaborative(bool value) && {
  m_collaborative = value;
  return std::move(*this);
}

ActionSpec ActionSpec::typed_document_action() && {
  m_typed = true;
  return std::move(*this);
}

std::expected<std::string, ActionError> ActionSpec::build_json(const nlohmann::json& args) const {
  const nlohmann::json object = args.is_null() ? nlohmann::json::object() : args;
  if (!object.is_object()) return std::unexpected(ActionError::invalid_arguments("arguments must be an object"));
  for (const auto& [key, value] : object.items()) {
    bool declared = false;
    for (const auto& p : m_params) declared = declared || p.name == key;
    if (!declared) {
      return std::unexpected(ActionError::invalid_arguments(fmt::format("{} takes no argument {}", m_name, key)));
    }
  }
  for (const auto& p : m_params) {
    auto it = object.find(p.name);
    if (auto problem = p.check(it == object.end() ? nullptr : &*it)) {
      return std::unexpected(ActionError::invalid_arguments(*problem));
    }
  }
  // Arguments come from the program or the host; dumping never throws for
  // values that nlohmann parsed, but invalid UTF-8 from a caller would.
  try {
    return object.dump();
  } catch (const nlohmann::json::exception& e) {
    return std::unexpected(ActionError::invalid_arguments(e.what()));
  }
}

std::expected<EncodedAction, ActionError> ActionSpec::run(const nlohmann::json& args) const {
  if (m_unavailable) return std::unexpected(ActionError::message(m_unavailable->text));
  auto checked = build_json(args);
  if (!checked) return std::unexpected(checked.error());
  if (!m_handler) return std::unexpected(ActionError::message(fmt::format("{} has no handler", m_name)));
  return m_handler(ActionArgs(args.is_null() ? nlohmann::json::object() : args));
}

Resource Resource::with_child(Resource child) && {
  children.push_back(std::move(child));
  return std::move(*this);
}

Resource Resource::with_action(ActionSpec action) && {
  actions.push_back(std::move(action));
  return std::move(*this);
}

const ActionSpec* Resource::find_action(std::string_view name) const {
  for (const auto& a : actions) {
    if (a.name() == name) return &a;
  }
  return nullptr;
}

const Resource* find_resource_deep(std::span<const Resource> roots, std::string_view id) {
  for (const auto& r : roots) {
    if (r.id == id) return &r;
    if (const Resource* found = find_resource_deep(r.children, id)) return found;
  }
  return nullptr;
}

std::uint32_t operation_type_of(std::span<const Resource> roots, const ActionAddress& address) {
  if (const Resource* resource = find_resource_deep(roots, address.resource)) {
    if (const ActionSpec* spec = resource->find_action(address.action); spec != nullptr && spec->contract()) {
      return static_cast<std::uint32_t>(spec->contract()->effect);
    }
  }
  return static_cast<std::uint32_t>(EffectClass::BeyondView);
}

std::optional<ActionBinding> ActionBinding::unit_for(const Resource& resource, std::string_view action) {
  return static_json(resource, action, nlohmann::json::object());
}

std::optional<ActionBinding> ActionBinding::static_json(const Resource& resource, std::string_view action,
                                                        nlohmann::json args) {
  const ActionSpec* spec = resource.find_action(action);
  if (spec == nullptr) return std::nullopt;
  return ActionBinding(ActionAddress{resource.id, std::string(action)}, std::make_shared<const ActionSpec>(*spec),
                       [args = std::move(args)] { return args; });
}

std::expected<ControlInvocation, ActionError> ActionBinding::invocation() const {
  nlohmann::json args = m_arguments ? m_arguments() : nlohmann::json::object();
  auto json = m_spec->build_json(args);
  if (!json) return std::unexpected(json.error());
  return ControlInvocation{m_address, std::move(args), std::move(*json)};
}

std::expected<EncodedAction, ActionError> run_invocation(std::span<const Resource> roots,
                                                         const ControlInvocation& invocation) {
  const Resource* resource = find_resource_deep(roots, invocation.address.resource);
  const ActionSpec* spec = resource == nullptr ? nullptr : resource->find_action(invocation.address.action);
  if (spec == nullptr) {
    return std::unexpected(ActionError::message(
        fmt::format("no action {} on {}", invocation.address.action, invocation.address.resource)));
  }
  return spec->run(invocation.args);
}

ActionHandler derive_input(std::string kind,
                           std::function<std::expected<std::string, std::string>(const ActionArgs&)> build) {
  return [kind = std::move(kind), build = std::move(build)](
             const ActionArgs& args) -> std::expected<EncodedAction, ActionError> {
    auto payload = build(args);
    if (!payload) return std::unexpected(ActionError::encode(payload.error()));
    return EncodedAction{kind, std::move(*payload)};
  };
}

ActionHandler enforce_operation_type(std::string declared_kind, ActionHandler inner) {
  return [declared = std::move(declared_kind), inner = std::move(inner)](
             const ActionArgs& args) -> std::expected<EncodedAction, ActionError> {
    auto encoded = inner(args);
    if (!encoded) return encoded;
    if (encoded->kind != declared) return std::unexpected(ActionError::kind_mismatch(declared, encoded->kind));
    return encoded;
  };
}

}  // namespace vorn_actions::resource
