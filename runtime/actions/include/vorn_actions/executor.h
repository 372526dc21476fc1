#pragma once
// The executor: runs one typed action inside a transaction of a document.
//
// Pending operations that were written outside any action are committed as
// their own change first, so that a rollback only ever drops the action's
// own writes. The action's apply then runs; on success its writes become one
// change (message: the context's label, else the kind) which is handed to the
// transport; on failure every write of the apply is rolled back and the
// document is exactly as before. Interface thread (the document's thread).

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "automerge/document.h"
#include "vorn_actions/action.h"
#include "vorn_actions/context.h"

namespace vorn_actions::transport {

// One committed action as it leaves the document.
struct Delivery {
  EncodedAction action;
  std::vector<std::uint8_t> actor;
  std::optional<automerge::ChangeHash> change;  // none when the apply wrote nothing
  bool collaborative = false;
};

// The in-process transport of one dispatch: it keeps what was delivered.
// Replication to other replicas would read from here.
class LocalTransport {
 public:
  void deliver(Delivery delivery) { m_deliveries.push_back(std::move(delivery)); }
  const std::vector<Delivery>& deliveries() const { return m_deliveries; }

 private:
  std::vector<Delivery> m_deliveries;
};

}  // namespace vorn_actions::transport

namespace vorn_actions::executor {

struct Outcome {
  // The change made by the action; none when it wrote nothing.
  std::optional<automerge::ChangeHash> change;
};

std::expected<Outcome, ActionError> dispatch_by_with_context(const TypedAction& action,
                                                             const EncodedAction& encoded,
                                                             transport::LocalTransport& transport,
                                                             std::span<const std::uint8_t> actor,
                                                             const ActionContext& context,
                                                             automerge::Document& document);

std::expected<Outcome, ActionError> dispatch_by(const TypedAction& action, const EncodedAction& encoded,
                                                transport::LocalTransport& transport,
                                                std::span<const std::uint8_t> actor,
                                                automerge::Document& document);

}  // namespace vorn_actions::executor
