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

#include "vorn_actions/resource.h"

namespace vorn_ui {

// Names one action of one resource (the action host's type).
using ActionAddress = vorn_actions::resource::ActionAddress;

// Text form of an address: the resource and the action, each with "%" and
// "#" escaped as %25 and %23, joined by "#".
std::string encode_address(const ActionAddress& address);
// Parses the text form; nothing for text without exactly one "#", with a
// malformed escape, or with an empty resource.
std::optional<ActionAddress> decode_address(std::string_view text);

struct ActionAddressHash {
  std::size_t operator()(const ActionAddress& a) const noexcept {
    return std::hash<std::string>{}(a.resource) * 31u ^ std::hash<std::string>{}(a.action);
  }
};

// The actions the runtime currently offers, by address.
using AvailableActions = std::unordered_set<ActionAddress, ActionAddressHash>;

// One activation of a control bound to an action: the address, the argument
// record and its JSON text, already checked against the action's parameters
// (the action host's type).
using ControlInvocation = vorn_actions::resource::ControlInvocation;

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
