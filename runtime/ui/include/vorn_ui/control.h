// The values that cross between widgets and the action surfaces: action
// addresses, control invocations, control bindings and the set of available
// actions. Plain values; built on the interface thread.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include <nlohmann/json.hpp>

namespace vorn_ui {

// Names one action of one resource.
struct ActionAddress {
  std::string resource;
  std::string action;

  // Text form: the resource and the action, each with "%" and "#" escaped as
  // %25 and %23, joined by "#".
  std::string encode() const;
  // Parses the text form; nothing for text without exactly one "#" or with a
  // malformed escape or an empty resource.
  static std::optional<ActionAddress> decode(std::string_view text);

  friend bool operator==(const ActionAddress&, const ActionAddress&) = default;
};

struct ActionAddressHash {
  std::size_t operator()(const ActionAddress& a) const noexcept {
    return std::hash<std::string>{}(a.resource) * 31u ^ std::hash<std::string>{}(a.action);
  }
};

// The actions the runtime currently offers, by address.
using AvailableActions = std::unordered_set<ActionAddress, ActionAddressHash>;

// One activation of a control bound to an action: the address, the argument
// record and its JSON text (already validated against the action's parameters).
struct ControlInvocation {
  ActionAddress address;
  nlohmann::json arguments = nlohmann::json::object();
  std::string arguments_json = "{}";
};

// Tells the action surfaces which control is bound to which action.
struct ControlBindingMetadata {
  std::string control_id;
  ActionAddress address;
  friend bool operator==(const ControlBindingMetadata&, const ControlBindingMetadata&) = default;
};

// The answer of Widget::perform_operation.
struct OperationResult {
  enum class Status : std::uint8_t { NotHandled, Handled, Failed };
  Status status = Status::NotHandled;
  std::string error;

  static OperationResult not_handled() { return {}; }
  static OperationResult handled() { return {Status::Handled, {}}; }
  static OperationResult failed(std::string message) { return {Status::Failed, std::move(message)}; }
  bool is_handled() const { return status != Status::NotHandled; }
};

// An operation the action registry hands to the widget tree.
struct OperationRequest {
  std::uint32_t operation_type = 0;  // 0: not meant for the application
  std::string kind;                  // the encoded action's kind
  std::string payload;               // its JSON bytes
};

}  // namespace vorn_ui
