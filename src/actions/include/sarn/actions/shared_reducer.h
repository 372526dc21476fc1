#pragma once
// The reducer of the shared library document: every SarnAction the document
// accepts, written under the root map "sarn" as absolute values.
//
//   sarn/likes/<video id>                         bool
//   sarn/queue/<video id>                         bool
//   sarn/subscriptions/<channel id>               bool
//   sarn/comment_likes/<comment key>              bool
//   sarn/comment_replies/<comment key>/<reply id> string, or map {text, active}
//   sarn/settings/<setting key>                   bool
//   sarn/settings/preferred_quality               "1080p" | "720p" | "480p" | "auto"
//   sarn/settings/sponsor_categories/<key>        "skip" | "show" | "disabled"
//
// Child maps are created on first use (a non-map in their place is
// replaced); nothing is ever deleted. The toggles, the cycle and the legacy
// history actions are refused without touching the document.
//
// Pure functions over a document; the interface thread owns it.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "automerge/document.h"
#include "sarn/model/action.h"
#include "vorn_actions/action.h"

namespace sarn {

inline constexpr std::string_view kSharedActionKind = "sarn.action";
inline constexpr std::string_view kRefusedActionText = "this Sarn action is not accepted by the shared document";

// "reply-" + 16 hex digits of FNV-1a-64 over the comment key, one 0xFF byte
// and the reply text.
std::string reply_id_for(std::string_view comment_key, std::string_view text);

// The comment id when not empty, else "<video id>#<index>".
std::string comment_key_for(std::string_view comment_id, std::string_view video_id, std::uint64_t index);

// Runs inside the runtime's open transaction; does not commit.
std::expected<void, vorn_actions::ActionError> apply_shared_action(const SarnAction& action,
                                                                   automerge::Document& document);

// True for AddToQueue, SetQueueMembership, ReplyToComment, SetCommentReply.
bool is_collaborative(const SarnAction& action);

// SarnAction as a typed action of the runtime.
class TypedSarnAction final : public vorn_actions::TypedAction {
 public:
  explicit TypedSarnAction(SarnAction action) : m_action(std::move(action)) {}
  const SarnAction& action() const { return m_action; }

  std::string debug_text() const override { return sarn::debug_text(m_action); }
  std::expected<void, vorn_actions::ActionError> apply(automerge::Document& document) const override {
    return apply_shared_action(m_action, document);
  }
  bool is_collaborative() const override { return sarn::is_collaborative(m_action); }
  std::expected<std::string, std::string> encode_json() const override { return sarn::encode_json(m_action); }

 private:
  SarnAction m_action;
};

}  // namespace sarn
