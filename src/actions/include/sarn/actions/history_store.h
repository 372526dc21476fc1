#pragma once
// OwnerHistoryStore: the owner-local watch-history document and its file.
//
// File: <local data>/vorn/sarn/history/<blake3 hex of the owner>.automerge,
// at most 4194304 bytes, mode 0600 in a 0700 folder. A lock file beside it
// (same name + ".lock", held with flock for the store's lifetime) keeps two
// running instances from overwriting each other: the second one loads the
// history but never writes, and says so in the log and in every persist
// error.
//
// States, fixed when the store is made:
//   memory-only        no path, not in recovery: persist writes nothing
//   file-backed        path, not in recovery
//   recovery-required  no path, in recovery: the existing file could not be
//                      inspected or trusted; it is never touched, the store
//                      runs on an empty document and every persist fails
//
// Log events go to the target "sarn::history_store" with a `message` field.
//
// Interface thread only; the file is read at open and written after each
// dispatch: synchronously, or, once use_writer_thread was called, on the
// store's writer thread. There the bytes are handed over and the write
// (temporary file, flush, rename, flush of the folder) happens while the
// interface goes on; writes land in the order they were made, a failure is
// answered by take_write_failure, and the destructor waits for every
// pending write before it lets go of the lock.

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "automerge/document.h"
#include "ordered_writer/ordered_writer.h"
#include "sarn/actions/owner_history.h"
#include "vorn_ui/bound_dispatch.h"

namespace sarn {

inline constexpr std::uint64_t kHistoryFileLimit = 4194304;
inline constexpr std::uint64_t kHistoryCompactionThreshold = 524289;
inline constexpr std::size_t kHistoryCompactedEntries = 50;
inline constexpr std::string_view kHistoryStoreTarget = "sarn::history_store";
inline constexpr std::string_view kHistorySourceLabel = "Sarn owner-local history";

// An I/O failure of the store: the system's error, or one of the store's own
// texts (kind Other, or PermissionDenied where noted).
struct HistoryIoError {
  enum class Kind { System, Other, PermissionDenied };
  Kind kind = Kind::Other;
  std::error_code code;  // for System
  std::string message;   // for Other and PermissionDenied

  static HistoryIoError system(std::error_code code) { return {Kind::System, code, {}}; }
  static HistoryIoError other(std::string text) { return {Kind::Other, {}, std::move(text)}; }
  static HistoryIoError permission_denied(std::string text) {
    return {Kind::PermissionDenied, std::make_error_code(std::errc::permission_denied), std::move(text)};
  }
  std::string to_string() const;
};

class OwnerHistoryStore {
 public:
  OwnerHistoryStore(OwnerHistoryStore&&) noexcept;
  OwnerHistoryStore& operator=(OwnerHistoryStore&&) noexcept;
  ~OwnerHistoryStore();

  static OwnerHistoryStore in_memory();
  // The store of the owner under the platform's local data directory.
  static OwnerHistoryStore open(std::string_view owner);
  // The same under an explicit local data directory (none: memory-only).
  static OwnerHistoryStore open_in(const std::optional<std::filesystem::path>& local_data_dir,
                                   std::string_view owner);

  // <data>/vorn/sarn/history/<blake3 hex of owner>.automerge
  static std::filesystem::path history_path(const std::filesystem::path& local_data_dir, std::string_view owner);

  std::expected<void, HistoryIoError> persist();
  // From now on dispatch hands its writes to the writer thread.
  void use_writer_thread();
  // The first failure of the writer thread's writes since the last call;
  // none while they succeed. A later successful dispatch writes the whole
  // document again.
  std::optional<HistoryIoError> take_write_failure();
  // Waits for every pending write.
  void finish_writes();
  // Puts the document back to the snapshot (save bytes) when they load.
  void restore(std::span<const std::uint8_t> snapshot);
  // Snapshot, typed dispatch, compaction, persist; restores the snapshot on
  // any failure after the apply. True only when applied and persisted.
  bool dispatch(vorn_ui::bound_dispatch::DispatchState& state, const OwnerHistoryAction& action);
  bool legacy_migration_done() const;

  // Rebuilds the document from its live content (the newest 50 entries, the
  // latest clear, the marker). Public for the dispatch's size rule and tests.
  std::expected<void, vorn_actions::ActionError> compact();

  automerge::Document& document() { return m_document; }
  const automerge::Document& document() const { return m_document; }
  const std::optional<std::filesystem::path>& path() const { return m_path; }
  bool recovery_required() const { return m_recovery_required; }
  // Another running instance holds the file: this store never writes.
  bool held_by_other_instance() const { return m_held_elsewhere; }

 private:
  OwnerHistoryStore();
  // The checks and the bytes of a save, then the write: here or on the
  // writer thread.
  std::expected<void, HistoryIoError> write_document(std::vector<std::uint8_t> bytes);
  automerge::Document m_document;
  // Reset before the lock is let go: a pending write still holds it.
  std::unique_ptr<ordered_writer::OrderedWriter> m_writer;
  std::optional<std::filesystem::path> m_path;
  bool m_recovery_required = false;
  bool m_held_elsewhere = false;
  int m_lock_fd = -1;
};

}  // namespace sarn
