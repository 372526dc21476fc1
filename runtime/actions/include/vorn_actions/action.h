#pragma once
// Typed actions: the one way a program changes a document.
//
// A program's action type implements TypedAction; the runtime encodes it
// (EncodedAction: kind plus JSON payload), runs its apply inside a
// transaction of the document, and commits or rolls back. Plain values and
// interfaces; any thread may hold them, a document belongs to one thread.

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "automerge/document.h"
#include "automerge/error.h"

namespace vorn_actions::action {

// An action kind (a dotted name such as "sarn.action") and its JSON payload.
struct EncodedAction {
  std::string kind;
  std::string payload;

  friend bool operator==(const EncodedAction&, const EncodedAction&) = default;
};

enum class ActionErrorKind {
  Message,           // the action refused itself with a text
  Document,          // the document library failed
  Decode,            // payload bytes that do not decode under a namespace
  Encode,            // the action could not be written as JSON
  UnknownNamespace,  // no decoder is registered for the kind
  InvalidArguments,  // arguments refused by an action specification
  KindMismatch,      // an encoded kind other than the declared one
};

class ActionError {
 public:
  static ActionError message(std::string text);
  static ActionError document(automerge::Error error);
  static ActionError decode(std::string action_namespace, std::string error);
  static ActionError encode(std::string error);
  static ActionError unknown_namespace(std::string kind);
  static ActionError invalid_arguments(std::string error);
  static ActionError kind_mismatch(std::string expected, std::string actual);

  ActionErrorKind kind() const { return m_kind; }
  // The refusal text, or the detail of the other kinds.
  const std::string& text() const { return m_text; }
  // The namespace (decode) or the kind (unknown namespace, kind mismatch).
  const std::string& subject() const { return m_subject; }
  // The document library's error, for ActionErrorKind::Document.
  const std::optional<automerge::Error>& document_error() const { return m_document; }

  // Display form: the refusal text itself for Message and Document, a
  // labelled sentence for the others.
  std::string to_string() const;

  friend bool operator==(const ActionError& a, const ActionError& b) {
    return a.m_kind == b.m_kind && a.m_text == b.m_text && a.m_subject == b.m_subject;
  }

 private:
  ActionError(ActionErrorKind kind, std::string text, std::string subject = {})
      : m_kind(kind), m_text(std::move(text)), m_subject(std::move(subject)) {}

  ActionErrorKind m_kind;
  std::string m_text;
  std::string m_subject;
  std::optional<automerge::Error> m_document;
};

// The interface every typed action implements, operations in order: its
// debug text, its apply to a document, whether it is collaborative. Its JSON
// form (encode_json) is what the runtime records, replicates and hands back
// to the registered decoder; it must round-trip through that decoder.
class TypedAction {
 public:
  virtual ~TypedAction() = default;

  virtual std::string debug_text() const = 0;
  // Runs inside the runtime's open transaction; does not commit.
  virtual std::expected<void, ActionError> apply(automerge::Document& document) const = 0;
  virtual bool is_collaborative() const = 0;

  // The JSON payload, or the encoder's error text.
  virtual std::expected<std::string, std::string> encode_json() const = 0;
};

}  // namespace vorn_actions::action

namespace vorn_actions {
using action::ActionError;
using action::ActionErrorKind;
using action::EncodedAction;
using action::TypedAction;
}  // namespace vorn_actions
