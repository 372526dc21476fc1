#include "sarn/actions/history_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <fmt/format.h>

#include "atomic_file/atomic_file.h"
#include "history_file.h"
#include "blake3/hex.h"
#include "platform_dirs/dirs.h"
#include "sarn/actions/application.h"
#include "vorn_actions/context.h"
#include "vorn_log/log.h"
#include "unique_fd/unique_fd.h"

namespace sarn {

namespace {

using vorn_log::Field;

constexpr const char* kRecoveryText = "owner history persistence is disabled pending recovery";
constexpr const char* kHeldText =
    "owner history is in use by another running instance; changes are not saved until it ends";

void log(vorn_log::Level level, std::string_view message, std::vector<Field> fields) {
  fields.insert(fields.begin(), Field{"message", std::string(message)});
  vorn_log::emit(level, kHistoryStoreTarget, message, std::move(fields));
}

HistoryIoError last_error() { return HistoryIoError::system({errno, std::generic_category()}); }

using Fd = unique_fd::UniqueFd;

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

std::expected<std::string, HistoryIoError> read_history_file(const std::filesystem::path& path,
                                                             const std::function<void()>& after_inspect) {
  struct stat before {};
  if (::lstat(path.c_str(), &before) != 0) return std::unexpected(last_error());
  if (!S_ISREG(before.st_mode)) return std::unexpected(HistoryIoError::other("history target is not a regular file"));
  if (before.st_uid != ::geteuid()) {
    return std::unexpected(HistoryIoError::permission_denied("history file is not owned by the current user"));
  }
  if (static_cast<std::uint64_t>(before.st_size) > kHistoryFileLimit) {
    return std::unexpected(HistoryIoError::other("history file exceeds size limit"));
  }

  if (after_inspect) after_inspect();

  // Without following a link, and without blocking should the name now be a
  // FIFO; the descriptor is checked against what was inspected.
  int raw = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (raw < 0) return std::unexpected(last_error());
  Fd fd(raw);

  struct stat opened {};
  if (::fstat(fd.get(), &opened) != 0) return std::unexpected(last_error());
  if (!S_ISREG(opened.st_mode) || static_cast<std::uint64_t>(opened.st_size) > kHistoryFileLimit ||
      opened.st_uid != ::geteuid() || !same_file(before, opened)) {
    return std::unexpected(HistoryIoError::other("history target changed while opening"));
  }

  if ((opened.st_mode & 0777) != 0600) {
    if (::fchmod(fd.get(), 0600) != 0 || ::fstat(fd.get(), &opened) != 0 || (opened.st_mode & 0777) != 0600) {
      return std::unexpected(
          HistoryIoError::permission_denied("could not enforce owner-only history file permissions"));
    }
  }

  // Back to blocking reads on the regular file.
  int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);

  const std::size_t cap = kHistoryFileLimit + 1;
  std::string bytes(std::min<std::size_t>(static_cast<std::size_t>(opened.st_size) + 1, cap), '\0');
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() >= cap) break;
      bytes.resize(std::min(bytes.size() * 2, cap));
    }
    ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(last_error());
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  if (filled >= cap) return std::unexpected(HistoryIoError::other("history read exceeds size limit"));
  bytes.resize(filled);
  return bytes;
}

namespace {

// Takes the lock beside the history file. Answers the descriptor, -1 when
// another instance holds it, or an error when no lock could be made.
std::expected<int, HistoryIoError> take_lock(const std::filesystem::path& path) {
  std::error_code error;
  const auto dir = path.parent_path();
  std::filesystem::create_directories(dir, error);
  if (error) return std::unexpected(HistoryIoError::system(error));
  ::chmod(dir.c_str(), 0700);
  const auto lock_path = std::filesystem::path(path.string() + ".lock");
  int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) return std::unexpected(last_error());
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    ::close(fd);
    return std::unexpected(HistoryIoError::other("history lock is not a regular file of the current user"));
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int cause = errno;
    ::close(fd);
    if (cause == EWOULDBLOCK) return -1;
    return std::unexpected(HistoryIoError::system({cause, std::generic_category()}));
  }
  return fd;
}

std::string_view as_text(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::string HistoryIoError::to_string() const {
  if (kind == Kind::System) return code.message();
  return message;
}

OwnerHistoryStore::OwnerHistoryStore() = default;

OwnerHistoryStore::OwnerHistoryStore(OwnerHistoryStore&& other) noexcept
    : m_document(std::move(other.m_document)),
      m_writer(std::move(other.m_writer)),
      m_path(std::move(other.m_path)),
      m_recovery_required(other.m_recovery_required),
      m_held_elsewhere(other.m_held_elsewhere),
      m_lock_fd(other.m_lock_fd) {
  other.m_lock_fd = -1;
}

OwnerHistoryStore& OwnerHistoryStore::operator=(OwnerHistoryStore&& other) noexcept {
  if (this != &other) {
    m_writer.reset();
    if (m_lock_fd >= 0) ::close(m_lock_fd);
    m_writer = std::move(other.m_writer);
    m_document = std::move(other.m_document);
    m_path = std::move(other.m_path);
    m_recovery_required = other.m_recovery_required;
    m_held_elsewhere = other.m_held_elsewhere;
    m_lock_fd = other.m_lock_fd;
    other.m_lock_fd = -1;
  }
  return *this;
}

OwnerHistoryStore::~OwnerHistoryStore() {
  m_writer.reset();
  if (m_lock_fd >= 0) ::close(m_lock_fd);
}

OwnerHistoryStore OwnerHistoryStore::in_memory() { return OwnerHistoryStore(); }

std::filesystem::path OwnerHistoryStore::history_path(const std::filesystem::path& local_data_dir,
                                                      std::string_view owner) {
  return local_data_dir / "vorn" / "sarn" / "history" / (blake3::hex_digest(owner) + ".automerge");
}

OwnerHistoryStore OwnerHistoryStore::open(std::string_view owner) {
  return open_in(platform_dirs::local_data_dir(), owner);
}

OwnerHistoryStore OwnerHistoryStore::open_in(const std::optional<std::filesystem::path>& local_data_dir,
                                             std::string_view owner) {
  OwnerHistoryStore store;
  if (!local_data_dir) return store;
  const auto path = history_path(*local_data_dir, owner);

  // The lock is taken before the file is read: an instance that read first
  // could miss a change another instance saved between that read and its
  // lock, and would later overwrite that change with its older copy.
  int lock_fd = -1;
  bool held_elsewhere = false;
  auto lock = take_lock(path);
  if (!lock) {
    log(vorn_log::Level::Warn, "could not lock owner history store; another instance may overwrite it",
        {{"path", path.string()}, {"error", lock.error().to_string()}});
  } else if (*lock < 0) {
    held_elsewhere = true;
    log(vorn_log::Level::Warn, "owner history store is in use by another running instance; history will not be saved",
        {{"path", path.string()}});
  } else {
    lock_fd = *lock;
  }

  auto recovery = [&](std::string_view message, const HistoryIoError& error) {
    log(vorn_log::Level::Warn, message, {{"path", path.string()}, {"error", error.to_string()}});
    if (lock_fd >= 0) ::close(lock_fd);
    OwnerHistoryStore failed;
    failed.m_recovery_required = true;
    return failed;
  };

  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      return recovery("could not inspect owner history store; persistence disabled", last_error());
    }
  } else {
    auto bytes = read_history_file(path);
    if (!bytes) return recovery("owner history recovery required; refusing to overwrite existing store", bytes.error());
    auto document = automerge::Document::load(*bytes);
    if (!document) {
      return recovery("owner history recovery required; refusing to overwrite existing store",
                      HistoryIoError::other(document.error().message));
    }
    store.m_document = std::move(*document);
  }
  store.m_path = path;
  store.m_lock_fd = lock_fd;
  store.m_held_elsewhere = held_elsewhere;
  return store;
}

std::expected<void, HistoryIoError> OwnerHistoryStore::persist() { return write_document(m_document.save()); }

std::expected<void, HistoryIoError> OwnerHistoryStore::write_document(std::vector<std::uint8_t> bytes) {
  if (!m_path) {
    if (m_recovery_required) return std::unexpected(HistoryIoError::other(kRecoveryText));
    return {};
  }
  if (m_held_elsewhere) return std::unexpected(HistoryIoError::other(kHeldText));
  if (!m_path->has_parent_path()) return std::unexpected(HistoryIoError::other("history path has no parent"));
  if (bytes.size() > kHistoryFileLimit) {
    return std::unexpected(HistoryIoError::other("history store exceeds its size limit"));
  }
  auto write = [path = *m_path, bytes = std::move(bytes)]() -> std::expected<void, HistoryIoError> {
    const auto parent = path.parent_path();
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    if (error) return std::unexpected(HistoryIoError::system(error));
    if (::chmod(parent.c_str(), 0700) != 0) return std::unexpected(last_error());
    auto written = atomic_file::write_creating_parent_with_mode(path, as_text(bytes), 0600);
    if (!written) return std::unexpected(HistoryIoError::system(written.error()));
    return {};
  };
  if (!m_writer) return write();
  m_writer->submit(m_path->string(), [write = std::move(write)]() -> std::expected<void, std::string> {
    auto written = write();
    if (!written) return std::unexpected(written.error().to_string());
    return {};
  });
  return {};
}

void OwnerHistoryStore::use_writer_thread() {
  if (!m_writer) m_writer = std::make_unique<ordered_writer::OrderedWriter>();
}

std::optional<HistoryIoError> OwnerHistoryStore::take_write_failure() {
  if (!m_writer) return std::nullopt;
  auto failures = m_writer->take_failures();
  if (failures.empty()) return std::nullopt;
  for (const auto& failure : failures) {
    log(vorn_log::Level::Warn, "could not persist owner-local Sarn history", {{"error", failure}});
  }
  return HistoryIoError::other(failures.front());
}

void OwnerHistoryStore::finish_writes() {
  if (m_writer) m_writer->wait_idle();
}

void OwnerHistoryStore::restore(std::span<const std::uint8_t> snapshot) {
  auto loaded = automerge::Document::load(snapshot);
  if (!loaded) {
    log(vorn_log::Level::Error, "could not restore owner history after persistence failure",
        {{"restore_error", loaded.error().message}});
    return;
  }
  // Keep writing as the same actor: the undone changes never left this
  // process.
  loaded->set_actor_id(m_document.actor_id());
  m_document = std::move(*loaded);
}

bool OwnerHistoryStore::legacy_migration_done() const { return legacy_migration_marker(m_document); }

std::expected<void, vorn_actions::ActionError> OwnerHistoryStore::compact() {
  auto root = owner_history_map(m_document);
  if (!root) return {};
  const bool marker = legacy_migration_done();
  const std::uint64_t cleared = latest_clear_time_of(m_document, *root);
  auto entries = entries_after_clear(m_document, *root, Removals::Skip);
  if (entries.size() > kHistoryCompactedEntries) entries.resize(kHistoryCompactedEntries);

  automerge::Document fresh;
  for (const auto& entry : entries) {
    auto applied = apply_owner_history_action(
        OwnerHistoryAction::set_entry(entry.video_id, entry.record.watched_at_ms, true, entry.record.mutation_id),
        fresh);
    if (!applied) return applied;
  }
  if (cleared != 0) {
    auto applied =
        apply_owner_history_action(OwnerHistoryAction::clear(cleared, fmt::format("compacted-clear:{}", cleared)), fresh);
    if (!applied) return applied;
  }
  if (marker) {
    auto applied = apply_owner_history_action(OwnerHistoryAction::legacy_migration_complete(), fresh);
    if (!applied) return applied;
  }
  fresh.commit();
  m_document = std::move(fresh);
  return {};
}

bool OwnerHistoryStore::dispatch(vorn_ui::bound_dispatch::DispatchState& state, const OwnerHistoryAction& action) {
  const auto snapshot = m_document.save();

  const TypedOwnerHistoryAction typed(action);
  auto payload = action.to_json();
  const auto context = vorn_actions::ActionContext::describe(payload ? std::string_view(*payload) : std::string_view{},
                                                             std::string(kApplicationId),
                                                             std::string(kHistorySourceLabel));
  auto applied = vorn_ui::bound_dispatch::dispatch_typed(state, m_document, kOwnerHistoryActionKind, typed, &context);
  if (!applied) {
    log(vorn_log::Level::Warn, "refused owner-local Sarn history action", {{"error", applied.error().to_string()}});
    return false;
  }

  auto bytes = m_document.save();
  if (bytes.size() >= kHistoryCompactionThreshold) {
    if (auto compacted = compact(); !compacted) {
      log(vorn_log::Level::Warn, "could not compact owner-local Sarn history",
          {{"error", compacted.error().to_string()}});
      restore(snapshot);
      return false;
    }
    bytes = m_document.save();
  }

  if (auto persisted = write_document(std::move(bytes)); !persisted) {
    log(vorn_log::Level::Warn, "could not persist owner-local Sarn history", {{"error", persisted.error().to_string()}});
    restore(snapshot);
    return false;
  }
  return true;
}

}  // namespace sarn
