#pragma once
// The shared document's store: one Automerge file per application under the
// user's local data directory (<data>/vorn/<application id>/shared.automerge,
// mode 0600 in a 0700 folder).
//
// open loads the file at start. A missing file gives an empty document that
// is written on the first save. A file that cannot be read or does not load
// is left untouched and reported (load_error, a logged warning); the store
// then runs on an empty in-memory document and never writes, so that the
// user's data is not overwritten. save_if_changed writes the whole document
// atomically when its heads moved since the last save; the host calls it
// after every dispatch.
//
// Several running instances may share one file. Each save holds a lock file
// beside it (<file>.lock), loads what is on disk and merges it into the
// store's document before replacing the file, so no instance drops another's
// changes; the other instances' changes show in this document from then on.
// A file on disk that no longer reads or loads is never replaced: the save
// fails and our changes stay in memory for the next attempt.
//
// save_in_background does the same on the store's writer thread: the
// document's bytes are handed over and the caller goes on while the lock is
// taken, the file merged, written and flushed. What that merge brought in
// joins the document at the next take_background_results (or save). Saves reach the disk in the
// order they were made; a synchronous save first waits for the background
// ones; the destructor waits for every pending save.
//
// Interface thread only (the writer thread is the store's own).

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automerge/document.h"
#include "vorn_actions/action.h"
#include "vorn_actions/context.h"
#include "vorn_actions/registry.h"
#include "vorn_ui/bound_dispatch.h"

namespace vorn_ui::persist {

// Largest shared document file that is read.
inline constexpr std::size_t kMaxDocumentBytes = 64u << 20;

struct PersistError {
  std::string message;
};

class DocumentStore {
 public:
  // A store that never writes (tests, developer modes).
  static DocumentStore in_memory();
  // Opens the document at an explicit path.
  static DocumentStore open_at(std::filesystem::path path);
  DocumentStore(DocumentStore&&) noexcept;
  DocumentStore& operator=(DocumentStore&&) noexcept;
  ~DocumentStore();

  automerge::Document& document() { return m_document; }
  const std::optional<std::filesystem::path>& path() const { return m_path; }
  // Why the existing file was not loaded; none when it was (or was absent).
  const std::optional<std::string>& load_error() const { return m_load_error; }

  // Writes when the heads moved since the last save, after merging the file
  // on disk. A store without a path succeeds without writing; a store whose
  // file failed to load refuses.
  std::expected<void, PersistError> save_if_changed();
  // As save_if_changed, with the merge and the write on the writer thread.
  // Answers the failures of background saves that ended since the last
  // call (their changes go into the next save) and merges in what other
  // instances had saved by then. The refusals that need no disk are
  // answered at once.
  std::expected<void, PersistError> save_in_background();
  // Waits for every background save and answers as save_in_background.
  std::expected<void, PersistError> finish_saves();
  // Takes in what the background saves that ended merged from other
  // instances, so that their changes show before our next change; answers
  // their failures as save_in_background does. The host calls it before
  // every frame.
  std::expected<void, PersistError> take_background_results();
  // Called on the writer thread whenever a background save brought in
  // changes of other instances (the host wakes its loop to take them).
  void set_merge_listener(std::function<void()> listener);

  // Typed dispatch on the document through the action host (a failure is
  // logged there), then save_if_changed (a failure is logged as "could not
  // save the shared document"). Answers whether the action was applied.
  bool dispatch(bound_dispatch::DispatchState& state, std::string_view kind, const vorn_actions::TypedAction& action,
                const vorn_actions::ActionContext* context);
  // The same for an encoded action, decoded through the registry.
  bool dispatch_encoded(const vorn_actions::ActionRegistry& registry, bound_dispatch::DispatchState& state,
                        const vorn_actions::EncodedAction& encoded, const vorn_actions::ActionContext* context);

 private:
  struct BackgroundSaves;
  DocumentStore();
  // Takes what the finished background saves left: the other instances'
  // changes join the document, a failure is answered and makes the next
  // save write again.
  std::expected<void, PersistError> absorb_background();
  automerge::Document m_document;
  std::unique_ptr<BackgroundSaves> m_background;
  std::optional<std::filesystem::path> m_path;
  std::optional<std::string> m_load_error;
  std::vector<automerge::ChangeHash> m_saved_heads;
  std::function<void()> m_merge_listener;
};

// The store opener of the launch description: the store of the application
// under the local data directory; in memory when there is none. Fails only
// for an application identifier that cannot name a folder.
std::expected<DocumentStore, PersistError> open(std::string_view application_id);

}  // namespace vorn_ui::persist
