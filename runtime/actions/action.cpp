#include "vorn_actions/action.h"

#include <fmt/format.h>

namespace vorn_actions::action {

ActionError ActionError::message(std::string text) { return ActionError(ActionErrorKind::Message, std::move(text)); }

ActionError ActionError::document(automerge::Error error) {
  ActionError out(ActionErrorKind::Document, error.message);
  out.m_document = std::move(error);
  return out;
}

ActionError ActionError::decode(std::string action_namespace, std::string error) {
  return ActionError(ActionErrorKind::Decode, std::move(error), std::move(action_namespace));
}

ActionError ActionError::encode(std::string error) { return ActionError(ActionErrorKind::Encode, std::move(error)); }

ActionError ActionError::unknown_namespace(std::string kind) {
  return ActionError(ActionErrorKind::UnknownNamespace, {}, std::move(kind));
}

ActionError ActionError::invalid_arguments(std::string error) {
  return ActionError(ActionErrorKind::InvalidArguments, std::move(error));
}

ActionError ActionError::kind_mismatch(std::string expected, std::string actual) {
  return ActionError(ActionErrorKind::KindMismatch, std::move(expected), std::move(actual));
}

std::string ActionError::to_string() const {
  switch (m_kind) {
    case ActionErrorKind::Message:
    case ActionErrorKind::Document: return m_text;
    case ActionErrorKind::Decode: return fmt::format("could not decode {} action: {}", m_subject, m_text);
    case ActionErrorKind::Encode: return fmt::format("could not encode action: {}", m_text);
    case ActionErrorKind::UnknownNamespace: return fmt::format("no action namespace is registered for {}", m_subject);
    case ActionErrorKind::InvalidArguments: return fmt::format("invalid action arguments: {}", m_text);
    case ActionErrorKind::KindMismatch:
      return fmt::format("action kind {} does not match the declared kind {}", m_subject, m_text);
  }
  return m_text;
}

}  // namespace vorn_actions::action
